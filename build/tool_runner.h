#pragma once

#include <QString>
#include <QStringList>
#include <memory>

// Runs one script of the toolchain folder with /bin/sh: no terminal, no window, an empty
// standard input; the calling thread waits until it ends. Owned by the main window as its
// `ShellObj`, created by the first ShellExe.
class CommandShell {
public:
    // The script's exit code. When the script cannot be started at all, returns -1 and sets
    // *startError to a message for the user that names the script.
    int Run(const QString& scriptPath, QString* startError);
};

// Runs workDir + file and waits. Exit code 0: true, info untouched. Otherwise false, and info
// holds the fields of workDir + "ret.txt" (at most 1001; 1001 empty ones when there is none).
bool ShellExe(std::unique_ptr<CommandShell>& shellObj, const QString& workDir, const QString& file,
              QStringList& info);
