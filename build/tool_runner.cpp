#include "tool_runner.h"

#include "result_file.h"

#include <QFileInfo>
#include <QProcess>

namespace {

QString CannotRun(const QString& scriptPath, const QString& reason)
{
    return QStringLiteral("无法运行脚本“%1”：%2").arg(QFileInfo(scriptPath).fileName(), reason);
}

// Why the script cannot be run, or nothing when it can be tried.
QString CheckRunnable(const QString& scriptPath, const QString& shell)
{
    const QFileInfo script(scriptPath);
    if (!script.exists())
        return QStringLiteral("文件不存在");
    if (script.isDir())
        return QStringLiteral("这是一个文件夹，不是文件");
    if (!script.isReadable())
        return QStringLiteral("没有读取这个文件的权限");
    // One that exists but will not run is caught when starting it.
    const QFileInfo shellFile(shell);
    if (!shellFile.exists() || shellFile.isDir())
        return QStringLiteral("找不到命令解释器 %1").arg(shell);
    return {};
}

} // namespace

CommandShell::CommandShell(QString shell) : shell_(std::move(shell)) {}

int CommandShell::Run(const QString& scriptPath, QString* startError)
{
    if (const QString reason = CheckRunnable(scriptPath, shell_); !reason.isEmpty()) {
        *startError = CannotRun(scriptPath, reason);
        return -1;
    }

    QProcess process;
    process.setProgram(shell_);
    process.setArguments({scriptPath}); // one argument: blanks in the folder's path are fine
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1)) {
        *startError = CannotRun(scriptPath, QStringLiteral("无法启动命令解释器 %1").arg(shell_));
        return -1;
    }
    if (!process.waitForFinished(-1) && process.state() != QProcess::NotRunning) {
        // Waiting failed without the script ending: end it rather than leave it behind.
        process.kill();
        process.waitForFinished(-1);
    }
    if (process.exitStatus() == QProcess::CrashExit)
        return 128 + process.exitCode();
    return process.exitCode();
}

bool ShellExe(std::unique_ptr<CommandShell>& shellObj, const QString& workDir, const QString& file,
              QStringList& info)
{
    if (!shellObj)
        shellObj = std::make_unique<CommandShell>();
    QString startError;
    const int exitCode = shellObj->Run(workDir + file, &startError);
    if (exitCode == 0)
        return true;
    if (!startError.isEmpty()) {
        info = QStringList{startError, startError};
        return false;
    }
    info = ReadResultFile(workDir + QStringLiteral("ret.txt"));
    return false;
}
