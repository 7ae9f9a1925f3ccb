#include "crash_line.h"

#include "startup_environment.h"

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <dlfcn.h>
#include <link.h>

namespace {

// The module-relative addresses of the report's frames that lie in the module, innermost
// first. A return address belongs to the instruction before it: a call is often the last
// instruction of its function, and the next one would be another line or function.
QStringList ModuleOffsets(const CrashReport& report, void* module)
{
    link_map* own = nullptr;
    QStringList offsets;
    if (dlinfo(module, RTLD_DI_LINKMAP, &own) != 0 || !own)
        return offsets;
    for (std::size_t i = 0; i < report.frameCount; ++i) {
        auto address = reinterpret_cast<std::uintptr_t>(report.frames[i]);
        if (address == 0)
            continue;
        if (i > 0 || !report.firstIsExact)
            --address;
        Dl_info info;
        link_map* holder = nullptr;
        if (dladdr1(reinterpret_cast<void*>(address), &info, reinterpret_cast<void**>(&holder),
                    RTLD_DL_LINKMAP) == 0 ||
            holder != own)
            continue;
        offsets << QStringLiteral("0x") + QString::number(address - own->l_addr, 16);
    }
    return offsets;
}

// addr2line's answer without a trailing " (discriminator N)". The folder's name may hold " ("
// itself ("新建文件夹 (2)"): only that note is cut.
QByteArray WithoutDiscriminator(const QByteArray& answer)
{
    static const QByteArray note = QByteArrayLiteral(" (discriminator ");
    const qsizetype at = answer.lastIndexOf(note);
    if (at < 0 || !answer.endsWith(')'))
        return answer;
    const QByteArray number = answer.mid(at + note.size(), answer.size() - at - note.size() - 1);
    bool isNumber = false;
    number.toUInt(&isNumber);
    return isNumber ? answer.left(at) : answer;
}

} // namespace

std::optional<int> LineInAddr2LineAnswer(const QByteArray& answer)
{
    const QByteArray location = WithoutDiscriminator(answer);
    const qsizetype colon = location.lastIndexOf(':');
    if (colon < 0)
        return std::nullopt;
    const QByteArray file = location.left(colon);
    if (file != "T.cpp" && !file.endsWith("/T.cpp"))
        return std::nullopt;
    bool ok = false;
    const int line = location.mid(colon + 1).toInt(&ok);
    return ok && line > 0 ? std::optional<int>(line) : std::nullopt;
}

std::optional<int> CrashSourceLine(const CrashReport& report, void* module,
                                   const QByteArray& moduleFile)
{
    const QStringList offsets = ModuleOffsets(report, module);
    if (offsets.isEmpty())
        return std::nullopt;
    QProcess addr2line;
    addr2line.setProcessEnvironment(StartupEnvironment()); // PATH as Vornak was started with
    addr2line.setStandardInputFile(QProcess::nullDevice());
    addr2line.start(QStringLiteral("addr2line"),
                    QStringList{QStringLiteral("-e"), QFile::decodeName(moduleFile)} + offsets);
    if (!addr2line.waitForFinished(10000) || addr2line.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    for (const QByteArray& answer : addr2line.readAllStandardOutput().split('\n'))
        if (const std::optional<int> line = LineInAddr2LineAnswer(answer.trimmed()))
            return line;
    return std::nullopt;
}
