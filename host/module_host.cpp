#include "module_host.h"

#include "Module.h"
#include "call_watch.h"
#include "crash_guard.h"
#include "crash_line.h"
#include "entry_signature.h"
#include "heap_lock.h"
#include "missing_return.h"
#include "module_code.h"
#include "module_contract.h"
#include "module_loader.h"
#include "narrow_text.h"
#include "output_pane.h"
#include "process_state.h"
#include "raw_output.h"
#include "standard_streams.h"

#include <QHash>
#include <QList>
#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace {

// "Config" and the user's entries all take four word-sized arguments.
using Entry = void (*)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t);

Entry FindEntry(ModuleHandle hDll, const QByteArray& name)
{
    if (!hDll)
        return nullptr;
    return reinterpret_cast<Entry>(FindOwnExport(hDll, name));
}

// How the module's code stopped when it did not return: a crash, an abort, a failed assert or
// an exit(). Everything it printed before is in the output pane.
struct ModuleStop {
    QString what;                  // "访问了无效的内存地址", "调用了 exit(3)", ...
    bool exited = false;           // by exit(), _exit(), pthread_exit() ..., rather than a crash
    std::optional<int> sourceLine; // the line of "T.cpp" whose code was running
    bool heapBroken = false;       // see HeapWatch: no line is looked up

    // what; the window adds the editor's line that sourceLine is.
    QString Description() const
    {
        if (heapBroken)
            return what + QStringLiteral("。内存堆已损坏，Vornak 可能不稳定：代码已保存在 "
                                         "“T.cpp”，请关闭 Vornak 再重新打开。");
        return what;
    }
};

bool IsExit(CrashReport::Kind kind)
{
    return kind == CrashReport::Kind::Exit || kind == CrashReport::Kind::UnderscoreExit ||
           kind == CrashReport::Kind::QuickExit || kind == CrashReport::Kind::PosixExit ||
           kind == CrashReport::Kind::ThreadExit;
}

StandardStreams& SavedStreams()
{
    static StandardStreams streams;
    return streams;
}

// What the host keeps of each module it holds: the file it was loaded from, for its line
// tables, and the threads there were before its code first ran.
struct HeldModule {
    QByteArray file;
    QList<qint64> threadsBefore;
    bool heapBroken = false; // its static destructors would run in a broken heap
};

QHash<ModuleHandle, HeldModule>& HeldModules()
{
    static QHash<ModuleHandle, HeldModule> modules;
    return modules;
}

// The entry last called in each module in memory, held or not: a thread it started may crash
// later.
QHash<ModuleHandle, QString>& LastEntries()
{
    static QHash<ModuleHandle, QString> entries;
    return entries;
}

// "函数 “name” "
QString EntryPrefix(const QString& name)
{
    return QStringLiteral("函数 “") + name + QStringLiteral("” ");
}

// Whether a thread started since the module was loaded still runs.
bool NewThreadsRun(const HeldModule& module)
{
    const QList<qint64> now = ProcessThreads();
    return std::any_of(now.begin(), now.end(), [&](qint64 thread) {
        return !std::binary_search(module.threadsBefore.begin(), module.threadsBefore.end(),
                                   thread);
    });
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
    case CrashReport::Kind::Stopped:
        return QStringLiteral("已被停止");
    case CrashReport::Kind::Signal:
        return QStringLiteral("收到信号 SIG%1").arg(QString::fromLatin1(sigabbrev_np(status)));
    case CrashReport::Kind::PosixExit:
        return QStringLiteral("调用了 _exit(%1)").arg(status);
    case CrashReport::Kind::ThreadExit:
        return QStringLiteral("调用了 pthread_exit()");
    }
    return {};
}

ModuleStop StopOf(const CrashReport& report, const HeapWatch& heap, ModuleHandle hDll)
{
    ModuleStop stop;
    stop.exited = IsExit(report.kind);
    stop.what = Describe(report.kind, report.kind == CrashReport::Kind::Signal ? report.signal
                                                                               : report.exitStatus);
    if (heap.broken()) {
        // Finding the line starts a process; the heap is not to be trusted that far.
        stop.heapBroken = true;
        if (heap.message()[0] != '\0')
            stop.what += QStringLiteral("：") + FromNarrow(QByteArrayView(heap.message()));
        if (const auto held = HeldModules().find(hDll); held != HeldModules().end())
            held->heapBroken = true;
        return stop;
    }
    stop.sourceLine = CrashSourceLine(report, hDll, HeldModules().value(hDll).file);
    return stop;
}

// The process Vornak runs in; a child that the module's code made by fork() has another.
pid_t VornakPid()
{
    static const pid_t pid = getpid();
    return pid;
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
// and end Vornak: it is caught and handed back in thrown. What the code changed of the process's
// state is put back (streams: whether C's stdin, stdout and stderr are, see ProcessState);
// after a crash or an abort, heap tells whether the heap can still be trusted.
bool CallGuarded(Entry entry, std::intptr_t first, std::exception_ptr& thrown, CrashReport& report,
                 HeapWatch& heap, ProcessState::CStreams streams = ProcessState::CStreams::Restore)
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
    // The module may change the process's locale; it is put back, as its streams are.
    const QByteArray locale = std::setlocale(LC_ALL, nullptr);
    const pid_t vornak = VornakPid();
    bool returned = false;
    {
        ProcessState state(streams);
        RawOutputCapture rawOutput;
        returned = RunGuarded(call, report);
        // A child made by fork() that returned from the module's code ends here.
        if (getpid() != vornak)
            _exit(0);
        state.Restore(); // before any wait: no handler of the module's may run meanwhile
        // Before anything allocates: the code may have stopped with the heap's lock held.
        if (!returned && !IsExit(report.kind))
            heap.AfterStop(report.kind == CrashReport::Kind::Abort);
        rawOutput.Finish();
    }
    if (locale != std::setlocale(LC_ALL, nullptr))
        std::setlocale(LC_ALL, locale.constData());
    return returned;
}

// Runs the module's static destructors under the guard; false when they did not return.
bool Finalize(ModuleHandle hDll)
{
    const Entry finalize = FindEntry(hDll, module_contract::kFinalizeEntry);
    if (!finalize)
        return true;
    std::exception_ptr thrown;
    CrashReport report;
    HeapWatch heap;
    WatchedCall watched(QStringLiteral("模块的释放"));
    // The runtime's destructor puts C's streams back itself.
    const bool returned =
        CallGuarded(finalize, 0, thrown, report, heap, ProcessState::CStreams::Leave);
    return returned && !thrown;
}

} // namespace

StepResult LoadModule(const QString& workDir, ModuleHandle& hDll)
{
    InstallCrashGuard();
    SavedStreams().Save();
    const QByteArray file = ToNarrow(workDir + QStringLiteral("T.dll"));
    QByteArray error;
    const QList<qint64> threadsBefore = ProcessThreads();
    LocateHeapLock(); // while no module code has run
    hDll = OpenModule(file, &error);
    if (!hDll)
        return StepResult::Failed(FromNarrow(error));
    HeldModules().insert(hDll, {file, threadsBefore});
    const Entry config = FindEntry(hDll, module_contract::kConfigEntry);
    if (!config)
        return StepResult::Failed(QStringLiteral("模块没有“Config”入口"));
    if (const Entry handOver = FindEntry(hDll, module_contract::kEndEntry))
        handOver(reinterpret_cast<std::intptr_t>(&EndModuleCode), 0, 0, 0);

    std::exception_ptr thrown;
    CrashReport report;
    HeapWatch heap;
    bool returned = false;
    {
        CallOutput output; // outside the guard: a jump would skip its destructor
        WatchedCall watched(QStringLiteral("模块的初始化"));
        // "Config" points C's streams at the output routine: that stays.
        returned = CallGuarded(config, reinterpret_cast<std::intptr_t>(&PrintOut), thrown, report,
                               heap, ProcessState::CStreams::Leave);
    }
    if (returned && !thrown)
        return {};
    const ModuleStop stop = thrown
                                ? ModuleStop{QStringLiteral("抛出异常：") + ExceptionText(thrown)}
                                : StopOf(report, heap, hDll);
    ReleaseModule(hDll);
    StepResult failed = StepResult::Failed(stop.Description(), stop.sourceLine);
    failed.messageNamesLine = stop.sourceLine.has_value();
    return failed;
}

CallOutcome CallEntry(ModuleHandle hDll, const QString& func)
{
    const QByteArray name = ToNarrow(func);
    // The name as the code page carried it: characters it lacks show as they were lost.
    const QString shown = FromNarrow(name);
    const QString prefix = EntryPrefix(shown);
    const Entry entry = FindEntry(hDll, name);
    if (!entry)
        return {prefix + QStringLiteral("未定义")};
    // Called with nothing, it would read garbage for its parameters.
    if (NeedsArguments(hDll, reinterpret_cast<const void*>(entry)))
        return {prefix + QStringLiteral("需要参数，只能运行没有参数的函数")};
    LastEntries().insert(hDll, shown);

    std::exception_ptr thrown;
    CrashReport report;
    HeapWatch heap;
    bool returned = false;
    {
        CallOutput output; // what was printed before a throw or crash still reaches the pane
        WatchedCall watched(prefix.trimmed());
        returned = CallGuarded(entry, 0, thrown, report, heap);
    }
    if (returned) {
        if (thrown)
            return {prefix + QStringLiteral("抛出异常：") + ExceptionText(thrown)};
        return {};
    }
    if (IsExit(report.kind) && report.kind != CrashReport::Kind::ThreadExit &&
        report.exitStatus == 0)
        return {std::nullopt, true}; // exit(0) ends the call like a return: no line to look up
    // "函数 “Sign” 没有返回值就结束了（第 N 行）": the function that ran off its end.
    if (const std::optional<MissingReturn> missing =
            FindMissingReturn(report, hDll, HeldModules().value(hDll).file)) {
        const ModuleStop stop{QStringLiteral("没有返回值就结束了"), false, missing->sourceLine};
        return {EntryPrefix(missing->function) + stop.Description(), true, stop.sourceLine};
    }
    const ModuleStop stop = StopOf(report, heap, hDll);
    // "函数 “f” 崩溃：what（第 N 行）", "函数 “f” 调用了 exit(3)（第 N 行）" or
    // "函数 “f” 已被停止（第 N 行）".
    const bool crashed = !stop.exited && report.kind != CrashReport::Kind::Stopped &&
                         report.kind != CrashReport::Kind::Signal;
    return {prefix + (crashed ? QStringLiteral("崩溃：") : QString()) + stop.Description(), true,
            stop.sourceLine};
}

void ReleaseModule(ModuleHandle& hDll)
{
    if (hDll) {
        const HeldModule held = HeldModules().take(hDll);
        // A thread the module started may still run its code; destructors that crashed leave it
        // in an unknown state, and the loader would run what is left of them again. Either way
        // it stays in memory, and the next load takes a fresh copy.
        if (!held.heapBroken && !NewThreadsRun(held)) {
            bool finalized = false;
            {
                CallOutput output; // static destructors may still print
                finalized = Finalize(hDll);
            }
            if (finalized) {
                ForgetModuleCode(hDll);
                LastEntries().remove(hDll);
                dlclose(hDll);
            }
        }
        hDll = nullptr;
    }
    SavedStreams().RestoreChanged();
}

std::optional<CallOutcome> TakeThreadCrashReport(ModuleHandle hDll)
{
    const std::optional<ThreadCrash> crash = TakeThreadCrash();
    if (!crash)
        return std::nullopt;
    ModuleStop stop;
    stop.what = Describe(crash->report.kind, crash->report.exitStatus);
    // Only the held module's file still matches its code: a released one was rebuilt since.
    if (crash->module == hDll && HeldModules().contains(hDll))
        stop.sourceLine = CrashSourceLine(crash->report, hDll, HeldModules().value(hDll).file);
    const QString entry = LastEntries().value(crash->module);
    const QString starter = entry.isEmpty() ? QStringLiteral("模块") : EntryPrefix(entry);
    return CallOutcome{starter + QStringLiteral("启动的线程崩溃：") + stop.Description(),
                       crash->module == hDll, stop.sourceLine};
}

void DetachStandardInput()
{
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null < 0)
        return;
    dup2(null, STDIN_FILENO);
    close(null);
    std::clearerr(stdin);
}
