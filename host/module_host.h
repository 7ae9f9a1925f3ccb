#pragma once

#include <QString>
#include <optional>

class QWidget;

// The platform's handle of a loaded module; null when none is held.
using ModuleHandle = void*;

// How the module's code stopped when it did not return: a crash, an abort, a failed assert or
// an exit(). Everything it printed before is in the output pane.
struct ModuleStop {
    QString what;        // "访问了无效的内存地址", "调用了 exit(3)", ...
    bool exited = false; // by exit(), _Exit() or quick_exit(), rather than a crash
    int exitStatus = 0;
    std::optional<int> sourceLine; // the line of "T.cpp" whose code was running

    // what, followed by "（第 N 行）" with N the editor's line, when there is one.
    QString Description() const;
};

// Loads workDir + "T.dll" and calls its "Config" with the address of PrintOut.
// False when the load fails (hDll null) or "Config" is missing (the module stays loaded).
// "Config" runs the module's static initializers: when they crash, throw or exit, the module
// is released again, hDll is null and stop says what happened.
// A rebuilt "T.dll" is always what gets loaded, even while a released module from the same
// path is still in memory.
bool LoadDLL(const QString& workDir, ModuleHandle& hDll, std::optional<ModuleStop>& stop);
bool LoadDLL(const QString& workDir, ModuleHandle& hDll);

// What a call left behind for its caller.
struct CallOutcome {
    // The module's code crashed or ended by exit(): the module must be released, and its
    // static state starts over when it is loaded again.
    bool moduleSpent = false;
    // The "T.cpp" line to show the user.
    std::optional<int> sourceLine;
};

// Calls the entry named func of the held module with four zeros, or reports it as not
// defined in a message box over owner. Only the module's own exports count. An exception, a
// crash or an exit() with a status other than 0 is reported in a message box too.
CallOutcome CallDLL(ModuleHandle hDll, const QString& func, QWidget* owner);

// Releases the held module, if any; hDll becomes null, so a second call does nothing. Its
// static destructors run first, guarded: if they crash, the module stays in memory, forgotten.
// Standard streams that the module redirected and did not put back are restored.
void FreeDLL(ModuleHandle& hDll);
