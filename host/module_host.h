#pragma once

#include "step_result.h"

#include <QString>
#include <optional>

// The platform's handle of a loaded module; null when none is held.
using ModuleHandle = void*;

// Loads workDir + "T.dll" and calls its "Config" with the address of PrintOut.
// Fails when the load fails (hDll null; the message holds the loader's reason) or "Config" is
// missing (the module stays loaded). "Config" runs the module's static initializers: when they
// crash, throw or exit, the module is released again, hDll is null, and the message says what
// happened, with the line.
// A rebuilt "T.dll" is always what gets loaded, even while a released module from the same
// path is still in memory.
StepResult LoadModule(const QString& workDir, ModuleHandle& hDll);

// What a call left behind for its caller to show.
struct CallOutcome {
    // For a message box: the name is not defined, or the code threw, crashed or exited with a
    // status other than 0.
    std::optional<QString> report;
    // The module's code crashed or ended by exit(): the module must be released, and its
    // static state starts over when it is loaded again.
    bool moduleSpent = false;
    // The "T.cpp" line to show the user; the report is about it, and the window adds
    // "（第 N 行）" with N the editor's line.
    std::optional<int> sourceLine;
};

// Calls the entry named func of the held module with four zeros. Only the module's own exports
// count. What it prints goes to the output pane.
CallOutcome CallEntry(ModuleHandle hDll, const QString& func);

// Releases the held module, if any; hDll becomes null, so a second call does nothing. Its
// static destructors run first, guarded: if they crash, the module stays in memory, forgotten.
// So it does while a thread that started since it was loaded still runs: that thread may be
// running the module's code. Standard streams that the module redirected and did not put back
// are restored.
void ReleaseModule(ModuleHandle& hDll);

// A thread that the module's code started crashed outside any call: it is parked for good and
// the module stays in memory. The report for a message box, "函数 “Crash” 启动的线程崩溃：…",
// with the line when the module is hDll (moduleSpent then: the next Run takes a fresh copy).
// Nothing when no crash waits. Read ThreadCrashFd() (crash_guard.h) empty first.
std::optional<CallOutcome> TakeThreadCrashReport(ModuleHandle hDll);

// Points the process's standard input at the null device: a module reading std::cin or scanf
// gets end-of-file at once instead of freezing the window on whatever Vornak was started with.
void DetachStandardInput();
