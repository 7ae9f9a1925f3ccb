#include "module_host.h"

#include "output_pane.h"

bool LoadDLL(const QString&, ModuleHandle& hDll)
{
    hDll = nullptr;
    return false;
}

void CallDLL(ModuleHandle, const QString&, QWidget*) {}

void FreeDLL(ModuleHandle& hDll)
{
    hDll = nullptr;
}

void AttachOutputPane(QPlainTextEdit*) {}
