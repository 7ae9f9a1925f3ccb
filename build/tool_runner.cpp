#include "tool_runner.h"

int CommandShell::Run(const QString&, QString*)
{
    return -1;
}

bool ShellExe(std::unique_ptr<CommandShell>&, const QString&, const QString&, QStringList&)
{
    return false;
}
