#pragma once

#include <QString>
#include <QStringList>
#include <memory>

// Runs one script of the toolchain folder with /bin/sh: no terminal, no window, standard input
// and output on the null device (a pipe nobody reads could stall the tools); the calling thread
// waits until it ends, with no event loop. Owned by the main window as its `ShellObj`, created
// by the first ShellExe.
class CommandShell {
public:
    // The shell is a parameter only so that tests can name one that is missing.
    explicit CommandShell(QString shell = QStringLiteral("/bin/sh"));

    // The script's exit code; a script ended by signal n gives 128 + n, as sh reports it.
    // When the script cannot be started at all (missing, a folder, unreadable, no shell),
    // returns -1 and sets *startError to a message for the user that names the script.
    int Run(const QString& scriptPath, QString* startError);

private:
    QString shell_;
};

// Runs workDir + file and waits. Exit code 0: true, info untouched. Otherwise false, and info
// holds the fields of workDir + "ret.txt" (see result_file.h). A script that cannot be started
// leaves two entries that both hold the reason, so either build step shows it.
bool ShellExe(std::unique_ptr<CommandShell>& shellObj, const QString& workDir, const QString& file,
              QStringList& info);
