#pragma once

#include <QString>

class QWidget;

// The platform's handle of a loaded module; null when none is held.
using ModuleHandle = void*;

// Loads workDir + "T.dll" and calls its "Config" with the address of PrintOut.
// False when the load fails (hDll null) or "Config" is missing (the module stays loaded).
bool LoadDLL(const QString& workDir, ModuleHandle& hDll);

// Calls the entry named func of the held module with four zeros, or reports it as not
// defined in a message box over owner.
void CallDLL(ModuleHandle hDll, const QString& func, QWidget* owner);

// Releases the held module, if any; hDll becomes null, so a second call does nothing.
void FreeDLL(ModuleHandle& hDll);
