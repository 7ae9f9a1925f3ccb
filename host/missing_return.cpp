#include "missing_return.h"

#include "crash_line.h"

#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <link.h>

namespace {

// "_Z4Signi" gives "Sign"; a plain name stays as it is.
QString PlainName(const char* symbol)
{
    int status = 0;
    char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
    QString name = QString::fromUtf8(status == 0 && demangled ? demangled : symbol);
    std::free(demangled);
    const qsizetype parameters = name.indexOf(u'(');
    return parameters < 0 ? name : name.left(parameters);
}

// The line tables place a function's first instruction on its opening brace; on a line of
// its own, the function begins on the line before.
int SignatureLine(const QByteArray& moduleFile, int braceLine)
{
    QFile source(QFileInfo(QFile::decodeName(moduleFile)).absolutePath() +
                 QStringLiteral("/T.cpp"));
    if (braceLine < 2 || !source.open(QIODevice::ReadOnly))
        return braceLine;
    QByteArray line;
    for (int i = 0; i < braceLine && !source.atEnd(); ++i)
        line = source.readLine();
    return line.trimmed() == "{" ? braceLine - 1 : braceLine;
}

} // namespace

std::optional<MissingReturn> FindMissingReturn(const CrashReport& report, void* module,
                                               const QByteArray& moduleFile)
{
    if (report.kind != CrashReport::Kind::IllegalInstruction || report.frameCount == 0 ||
        !report.firstIsExact)
        return std::nullopt;
    const auto* trap = static_cast<const unsigned char*>(report.frames[0]);
    link_map* own = nullptr;
    if (!trap || !module || dlinfo(module, RTLD_DI_LINKMAP, &own) != 0 || !own)
        return std::nullopt;
    Dl_info info;
    link_map* holder = nullptr;
    if (dladdr1(trap, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) == 0 ||
        holder != own || !info.dli_sname || !info.dli_saddr)
        return std::nullopt;
    ElfW(Sym)* symbol = nullptr;
    if (dladdr1(trap, &info, reinterpret_cast<void**>(&symbol), RTLD_DL_SYMENT) == 0 || !symbol)
        return std::nullopt;
    // ud2, and the function's last instruction.
    const auto* start = static_cast<const unsigned char*>(info.dli_saddr);
    if (trap[0] != 0x0f || trap[1] != 0x0b || trap + 2 != start + symbol->st_size)
        return std::nullopt;

    MissingReturn found{PlainName(info.dli_sname), std::nullopt};
    CrashReport begin;
    begin.frames[0] = info.dli_saddr;
    begin.frameCount = 1;
    begin.firstIsExact = true;
    if (const std::optional<int> line = CrashSourceLine(begin, module, moduleFile))
        found.sourceLine = SignatureLine(moduleFile, *line);
    return found;
}
