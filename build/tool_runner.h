#pragma once

#include <QString>
#include <QStringList>
#include <memory>

// Runs one script of the toolchain folder with /bin/sh: no terminal, no window, standard input
// on the null device, its output and messages into a log file of its own (a pipe nobody reads
// could stall the tools); the calling thread waits until it ends, with no event loop. It gets
// the environment Vornak was started with, whatever a module's code set since. Owned by the main
// window as its `ShellObj`, created by its first ShellExe.
class CommandShell {
public:
    // The shell is a parameter only so that tests can name one that is missing.
    explicit CommandShell(QString shell = QStringLiteral("/bin/sh"));

    // The script's exit code; a script ended by signal n gives 128 + n, as sh reports it.
    // When the script cannot be started at all (missing, a folder, unreadable, no shell),
    // returns -1 and sets *startError to a message for the user that names the script.
    int Run(const QString& scriptPath, QString* startError);

    // The first line that the last Run's script wrote to its standard output or error (the
    // first that is not blank), decoded from the narrow code page; empty when it wrote none.
    QString LogFirstLine() const { return logFirstLine_; }

private:
    QString shell_;
    QString logFirstLine_;
};

// Runs workDir + file and waits. Exit code 0: true, info untouched. Otherwise false, and info
// holds the fields of workDir + "ret.txt" (see result_file.h) when the script left fresh messages
// there: the file changed since the script started and is not empty. When it did not (the
// messages there are an earlier failure's, or there are none), info holds two entries that both
// name the script, its exit code and the first line of its output. A script that cannot be
// started leaves two entries that both hold the reason. Either build step shows them. "ret.txt"
// is never deleted.
bool RunScript(std::unique_ptr<CommandShell>& shellObj, const QString& workDir, const QString& file,
               QStringList& info);
