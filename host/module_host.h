#pragma once

#include <QString>

class QWidget;

// The platform's handle of a loaded module; null when none is held.
using ModuleHandle = void*;

// Loads workDir + "T.dll" and calls its "Config" with the address of PrintOut.
// False when the load fails (hDll null) or "Config" is missing (the module stays loaded).
// A rebuilt "T.dll" is always what gets loaded, even while a released module from the same
// path is still in memory.
bool LoadDLL(const QString& workDir, ModuleHandle& hDll);

// Calls the entry named func of the held module with four zeros, or reports it as not
// defined in a message box over owner. Only the module's own exports count.
void CallDLL(ModuleHandle hDll, const QString& func, QWidget* owner);

// Releases the held module, if any; hDll becomes null, so a second call does nothing.
// Standard streams that the module redirected and did not put back are restored.
void FreeDLL(ModuleHandle& hDll);
