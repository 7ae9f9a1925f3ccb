#include "tool_runner.h"

#include "narrow_text.h"
#include "result_file.h"
#include "startup_environment.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>
#include <sys/stat.h>
#include <time.h>

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

// The first line of the log that is not blank; logs are read no further than this.
QString FirstLine(QIODevice& log)
{
    constexpr qint64 kLongestRead = 64 * 1024;
    const QByteArray head = log.read(kLongestRead);
    for (const QByteArray& line : head.split('\n')) {
        const QByteArray text = line.trimmed();
        if (!text.isEmpty())
            return FromNarrow(text);
    }
    return {};
}

// The file system's clock: the times it stamps files with lag the precise clock by up to a tick.
timespec FileClockNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
}

// Whether path is a file that is not empty and was written at or after since.
bool WrittenSince(const QString& path, const timespec& since)
{
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0 || info.st_size == 0)
        return false;
    const timespec& written = info.st_mtim;
    return written.tv_sec > since.tv_sec ||
           (written.tv_sec == since.tv_sec && written.tv_nsec >= since.tv_nsec);
}

QString FailedWithoutMessages(const QString& file, int exitCode, const QString& logLine)
{
    const QString failed = QStringLiteral("脚本“%1”失败，退出码 %2").arg(file).arg(exitCode);
    return logLine.isEmpty() ? failed + QStringLiteral("，没有留下消息")
                             : failed + QStringLiteral("：") + logLine;
}

} // namespace

CommandShell::CommandShell(QString shell) : shell_(std::move(shell)) {}

int CommandShell::Run(const QString& scriptPath, QString* startError)
{
    if (const QString reason = CheckRunnable(scriptPath, shell_); !reason.isEmpty()) {
        *startError = CannotRun(scriptPath, reason);
        return -1;
    }

    logFirstLine_.clear();
    // The log lives outside the toolchain folder, and only for this run; in the temporary
    // folder Vornak was started with, whatever TMPDIR a module's code set since.
    const QProcessEnvironment environment = StartupEnvironment();
    const QString temporary = environment.value(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
    QTemporaryFile log(temporary + QStringLiteral("/vornak-script-XXXXXX.log"));
    const bool logged = log.open();
    QProcess process;
    process.setProgram(shell_);
    process.setArguments({scriptPath}); // one argument: blanks in the folder's path are fine
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(logged ? log.fileName() : QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::MergedChannels);
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
    const int exitCode =
        process.exitStatus() == QProcess::CrashExit ? 128 + process.exitCode() : process.exitCode();
    if (exitCode != 0 && logged && log.seek(0))
        logFirstLine_ = FirstLine(log);
    return exitCode;
}

bool RunScript(std::unique_ptr<CommandShell>& shellObj, const QString& workDir, const QString& file,
               QStringList& info)
{
    if (!shellObj)
        shellObj = std::make_unique<CommandShell>();
    QString startError;
    const timespec started = FileClockNow();
    const int exitCode = shellObj->Run(workDir + file, &startError);
    if (exitCode == 0)
        return true;
    if (!startError.isEmpty()) {
        info = QStringList{startError, startError};
        return false;
    }
    const QString resultFile = workDir + QStringLiteral("ret.txt");
    if (!WrittenSince(resultFile, started)) {
        const QString failed = FailedWithoutMessages(file, exitCode, shellObj->LogFirstLine());
        info = QStringList{failed, failed};
        return false;
    }
    info = ReadResultFile(resultFile);
    return false;
}
