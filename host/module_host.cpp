#include "module_host.h"

#include "Module.h"
#include "crash_guard.h"
#include "crash_line.h"
#include "module_loader.h"
#include "narrow_text.h"
#include "output_pane.h"
#include "standard_streams.h"

#include <QHash>
#include <QMessageBox>
#include <cstdint>
#include <cxxabi.h>
#include <dlfcn.h>
#include <exception>

namespace {

// "Config" and the user's entries all take four word-sized arguments.
using Entry = void (*)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t);

Entry FindEntry(ModuleHandle hDll, const QByteArray& name)
{
    if (!hDll)
        return nullptr;
    return reinterpret_cast<Entry>(FindOwnExport(hDll, name));
}

StandardStreams& SavedStreams()
{
    static StandardStreams streams;
    return streams;
}

// The file each held module was loaded from, for its line tables.
QHash<ModuleHandle, QByteArray>& ModuleFiles()
{
    static QHash<ModuleHandle, QByteArray> files;
    return files;
}

void Report(const QString& text, QWidget* owner)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vornak"), text, QMessageBox::Ok, owner);
    box.exec();
}

QString Describe(CrashReport::Kind kind, int status)
{
    switch (kind) {
    case CrashReport::Kind::InvalidMemory:
        return QStringLiteral("访问了无效的内存地址");
    case CrashReport::Kind::StackOverflow:
        return QStringLiteral("栈溢出");
    case CrashReport::Kind::DivideByZero:
        return QStringLiteral("整数除以零");
    case CrashReport::Kind::Arithmetic:
        return QStringLiteral("算术运算出错");
    case CrashReport::Kind::IllegalInstruction:
        return QStringLiteral("非法指令");
    case CrashReport::Kind::Abort:
        return QStringLiteral("调用了 abort()");
    case CrashReport::Kind::FailedAssert:
        return QStringLiteral("断言失败");
    case CrashReport::Kind::Exit:
        return QStringLiteral("调用了 exit(%1)").arg(status);
    case CrashReport::Kind::UnderscoreExit:
        return QStringLiteral("调用了 _Exit(%1)").arg(status);
    case CrashReport::Kind::QuickExit:
        return QStringLiteral("调用了 quick_exit(%1)").arg(status);
    }
    return {};
}

ModuleStop StopOf(const CrashReport& report, ModuleHandle hDll)
{
    ModuleStop stop;
    stop.exited = report.kind == CrashReport::Kind::Exit ||
                  report.kind == CrashReport::Kind::UnderscoreExit ||
                  report.kind == CrashReport::Kind::QuickExit;
    stop.exitStatus = report.exitStatus;
    stop.what = Describe(report.kind, report.exitStatus);
    stop.sourceLine = CrashSourceLine(report, hDll, ModuleFiles().value(hDll));
    return stop;
}

QString ExceptionText(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return FromNarrow(QByteArrayView(e.what()));
    } catch (...) {
        return QStringLiteral("（不是 std::exception）");
    }
}

// Calls entry with the four arguments under the guard. An exception it lets out (a
// std::vector::at out of range, say) would otherwise unwind into the window's event handling
// and end Vornak: it is caught and handed back in thrown.
bool CallGuarded(Entry entry, std::intptr_t first, std::exception_ptr& thrown, CrashReport& report)
{
    auto call = [&] {
        try {
            entry(first, 0, 0, 0);
        } catch (abi::__forced_unwind&) {
            throw; // thread cancellation must go on unwinding
        } catch (...) {
            thrown = std::current_exception();
        }
    };
    return RunGuarded(call, report);
}

// Runs the module's static destructors under the guard; false when they did not return.
bool Finalize(ModuleHandle hDll)
{
    const Entry finalize = FindEntry(hDll, QByteArrayLiteral("VornakFinalize"));
    if (!finalize)
        return true;
    std::exception_ptr thrown;
    CrashReport report;
    return CallGuarded(finalize, 0, thrown, report) && !thrown;
}

} // namespace

QString ModuleStop::Description() const
{
    if (sourceLine && *sourceLine > 2)
        return what + QStringLiteral("（第 %1 行）").arg(*sourceLine - 2);
    return what;
}

bool LoadDLL(const QString& workDir, ModuleHandle& hDll, std::optional<ModuleStop>& stop)
{
    stop.reset();
    SavedStreams().Save();
    const QByteArray file = ToNarrow(workDir + QStringLiteral("T.dll"));
    hDll = OpenModule(file);
    if (!hDll)
        return false;
    ModuleFiles().insert(hDll, file);
    const Entry config = FindEntry(hDll, QByteArrayLiteral("Config"));
    if (!config)
        return false;
    if (const Entry handOver = FindEntry(hDll, QByteArrayLiteral("VornakEnd")))
        handOver(reinterpret_cast<std::intptr_t>(&EndModuleCode), 0, 0, 0);

    OutputBatch batch; // outside the guard: a jump would skip its destructor
    std::exception_ptr thrown;
    CrashReport report;
    if (CallGuarded(config, reinterpret_cast<std::intptr_t>(&PrintOut), thrown, report) && !thrown)
        return true;
    if (thrown)
        stop = ModuleStop{QStringLiteral("抛出异常：") + ExceptionText(thrown)};
    else
        stop = StopOf(report, hDll);
    FreeDLL(hDll);
    return false;
}

bool LoadDLL(const QString& workDir, ModuleHandle& hDll)
{
    std::optional<ModuleStop> stop;
    return LoadDLL(workDir, hDll, stop);
}

CallOutcome CallDLL(ModuleHandle hDll, const QString& func, QWidget* owner)
{
    const QByteArray name = ToNarrow(func);
    // The name as the code page carried it: characters it lacks show as they were lost.
    const QString shown = FromNarrow(name);
    const QString prefix = QStringLiteral("函数 “") + shown + QStringLiteral("” ");
    const Entry entry = FindEntry(hDll, name);
    if (!entry) {
        Report(prefix + QStringLiteral("未定义"), owner);
        return {};
    }

    std::exception_ptr thrown;
    CrashReport report;
    bool returned = false;
    {
        OutputBatch batch; // what was printed before a throw or crash still reaches the pane
        returned = CallGuarded(entry, 0, thrown, report);
    }
    if (returned) {
        if (thrown)
            Report(prefix + QStringLiteral("抛出异常：") + ExceptionText(thrown), owner);
        return {};
    }
    const ModuleStop stop = StopOf(report, hDll);
    CallOutcome outcome{true, stop.sourceLine};
    if (stop.exited && stop.exitStatus == 0)
        return {true, std::nullopt}; // exit(0) ends the call like a return
    // "函数 “f” 崩溃：what（第 N 行）", or "函数 “f” 调用了 exit(3)（第 N 行）".
    Report(prefix + (stop.exited ? QString() : QStringLiteral("崩溃：")) + stop.Description(),
           owner);
    return outcome;
}

void FreeDLL(ModuleHandle& hDll)
{
    if (hDll) {
        OutputBatch batch; // static destructors may still print
        // Destructors that crashed leave the module in an unknown state; the loader would run
        // what is left of them again. It stays in memory, and the next load takes a fresh copy.
        if (Finalize(hDll))
            dlclose(hDll);
        ModuleFiles().remove(hDll);
        hDll = nullptr;
    }
    SavedStreams().RestoreChanged();
}
