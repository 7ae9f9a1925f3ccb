// The compile server's life, through the real scripts on a copy of the built toolchain folder:
// one server per folder, started by the first Run, replaced when a file it depends on changes
// or when it was killed, gone soon after the program that ran the scripts, and never in the
// way of a Run (the scripts fall back to g++ when no server can be had).
#include "source_file.h"
#include "toolchain_copy.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <sys/stat.h>

namespace {

// Live processes (not zombies) running this folder's compile-server. A server's child that
// has not yet become the linker it runs does not count.
QList<qint64> ServerProcesses(const QString& folder)
{
    const QString server = QFileInfo(folder + QStringLiteral("compile-server")).canonicalFilePath();
    QList<qint64> found;
    QList<qint64> parents;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() != server)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ..."
        const QByteArray fields = stat.readAll();
        const QList<QByteArray> rest = fields.mid(fields.lastIndexOf(')') + 2).split(' ');
        if (rest.value(0) != "Z") {
            found << pid;
            parents << rest.value(1).toLongLong();
        }
    }
    QList<qint64> servers;
    for (qsizetype i = 0; i < found.size(); ++i)
        if (!found.contains(parents[i]))
            servers << found[i];
    return servers;
}

bool GoneWithin(const QString& folder, int seconds)
{
    const QDeadlineTimer deadline(seconds * 1000);
    while (!ServerProcesses(folder).isEmpty()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(100);
    }
    return true;
}

} // namespace

class TestCompileServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void firstRunStartsOneServer();
    void restartsWhenAFileItDependsOnChanges_data();
    void restartsWhenAFileItDependsOnChanges();
    void changedTHIsPrecompiledAgain();
    void killedServerIsReplacedByTheNextRun();
    void serverDyingAtACompileLeavesThatRunToGpp();
    void endsWithTheProgramThatRanTheScripts();
    void twoFirstRunsAtOnceShareOneServer();
    void serverThatCannotStartLeavesTheRunToGpp();

private:
    QString CopyToolchain(const QString& name);
    QProcess* StartCompile(const QString& folder, QObject* owner);
    int Compile(const QString& folder);
    qint64 OnlyServer(const QString& folder);

    QTemporaryDir root_;
    QString work_;
};

void TestCompileServer::initTestCase()
{
    QVERIFY(root_.isValid());
    work_ = CopyToolchain(QStringLiteral("life"));
    QVERIFY(!work_.isEmpty());
}

QString TestCompileServer::CopyToolchain(const QString& name)
{
    const QString folder = root_.filePath(name);
    if (!CopyBuiltToolchain(folder) ||
        !WriteSourceFile(folder + u'/', QStringLiteral("void Demo1() { Print(\"hello\"); }\n")))
        return {};
    return folder + u'/';
}

// MyCL.bat as Vornak runs it: this process is the script's parent.
QProcess* TestCompileServer::StartCompile(const QString& folder, QObject* owner)
{
    auto* process = new QProcess(owner);
    process->setWorkingDirectory(root_.path());
    process->setStandardInputFile(QProcess::nullDevice());
    process->start(QStringLiteral("/bin/sh"), {folder + QStringLiteral("MyCL.bat")});
    return process;
}

int TestCompileServer::Compile(const QString& folder)
{
    QObject owner;
    QProcess* process = StartCompile(folder, &owner);
    if (!process->waitForFinished(300000) || process->exitStatus() != QProcess::NormalExit)
        return -1;
    return process->exitCode();
}

qint64 TestCompileServer::OnlyServer(const QString& folder)
{
    const QList<qint64> servers = ServerProcesses(folder);
    if (servers.size() != 1)
        qWarning() << "compile servers of" << folder << servers;
    return servers.size() == 1 ? servers.first() : -1;
}

void TestCompileServer::firstRunStartsOneServer()
{
    QVERIFY(ServerProcesses(work_).isEmpty());
    QCOMPARE(Compile(work_), 0);
    const qint64 server = OnlyServer(work_);
    QVERIFY(server > 0);
    QCOMPARE(Compile(work_), 0);
    QCOMPARE(OnlyServer(work_), server);
    // Its socket is not in the folder, which is copied as it is.
    const QFileInfoList files =
        QDir(work_).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& file : files) {
        struct stat info {};
        QVERIFY(lstat(QFile::encodeName(file.filePath()).constData(), &info) == 0);
        QVERIFY2(!S_ISSOCK(info.st_mode) && !S_ISFIFO(info.st_mode), qPrintable(file.fileName()));
    }
}

void TestCompileServer::restartsWhenAFileItDependsOnChanges_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("stdafx.h") << QStringLiteral("stdafx.h");
    QTest::newRow("T.h") << QStringLiteral("T.h");
    QTest::newRow("the runtime's source") << QStringLiteral("module_runtime.cpp");
    QTest::newRow("settings") << QStringLiteral("settings.sh");
}

void TestCompileServer::restartsWhenAFileItDependsOnChanges()
{
    QFETCH(QString, file);
    QCOMPARE(Compile(work_), 0);
    const qint64 before = OnlyServer(work_);
    QVERIFY(before > 0);

    QFile changed(work_ + file);
    QVERIFY(changed.open(QIODevice::ReadWrite));
    QVERIFY(changed.setFileTime(QDateTime::currentDateTime().addSecs(2),
                                QFileDevice::FileModificationTime));
    changed.close();

    QCOMPARE(Compile(work_), 0);
    const qint64 after = OnlyServer(work_);
    QVERIFY(after > 0);
    QVERIFY(after != before);
}

void TestCompileServer::changedTHIsPrecompiledAgain()
{
    // The precompiled header holds T.h. The change keeps T.h's size: clang checks only the size
    // of a header it precompiled, so a stale one would be used and the new macro be missing.
    const QString folder = CopyToolchain(QStringLiteral("changed T.h"));
    QVERIFY(!folder.isEmpty());
    QCOMPARE(Compile(folder), 0);

    QFile header(folder + QStringLiteral("T.h"));
    QVERIFY(header.open(QIODevice::ReadOnly));
    QByteArray text = header.readAll();
    header.close();
    const qsizetype firstLine = text.indexOf('\n');
    const QByteArray mark = "#define VORNAK_CHANGED_MARK 7 //";
    QVERIFY(firstLine > mark.size());
    text.replace(0, firstLine, mark.leftJustified(firstLine, 'x'));
    QVERIFY(header.open(QIODevice::WriteOnly));
    QCOMPARE(header.write(text), text.size());
    header.close();
    QVERIFY(
        WriteSourceFile(folder, QStringLiteral("void Demo1() { Print(VORNAK_CHANGED_MARK); }\n")));

    QCOMPARE(Compile(folder), 0);
    QFile pch(folder + QStringLiteral("stdafx.h.pch"));
    QVERIFY(pch.open(QIODevice::ReadOnly));
    QVERIFY(pch.readAll().contains("VORNAK_CHANGED_MARK"));
}

void TestCompileServer::killedServerIsReplacedByTheNextRun()
{
    QCOMPARE(Compile(work_), 0);
    const qint64 before = OnlyServer(work_);
    QVERIFY(before > 0);
    QCOMPARE(::kill(static_cast<pid_t>(before), SIGKILL), 0);
    QVERIFY(GoneWithin(work_, 5));

    QCOMPARE(Compile(work_), 0);
    const qint64 after = OnlyServer(work_);
    QVERIFY(after > 0);
    QVERIFY(after != before);
}

void TestCompileServer::serverDyingAtACompileLeavesThatRunToGpp()
{
    // Code that takes clang a while, so that the server can be killed in the middle.
    const QString folder = CopyToolchain(QStringLiteral("dies at work"));
    QVERIFY(!folder.isEmpty());
    QVERIFY(WriteSourceFile(
        folder, QStringLiteral("#include <regex>\n"
                               "void Demo1()\n"
                               "{\n"
                               "    std::regex a(\"x+\");\n"
                               "    std::wregex b(L\"y+\");\n"
                               "    std::cout << std::regex_replace(\"xx\", a, \"z\");\n"
                               "}\n")));
    QObject owner;
    QProcess* run = StartCompile(folder, &owner);
    QDeadlineTimer started(30000);
    QList<qint64> servers;
    while ((servers = ServerProcesses(folder)).isEmpty() && !started.hasExpired())
        QThread::msleep(20);
    QCOMPARE(servers.size(), 1);
    const qint64 server = servers.first();
    QThread::msleep(400); // loading, then compiling
    QCOMPARE(::kill(static_cast<pid_t>(server), SIGKILL), 0);
    QVERIFY(run->waitForFinished(300000));
    QCOMPARE(run->exitCode(), 0);
    QFile object(folder + QStringLiteral("T.o"));
    QVERIFY(object.open(QIODevice::ReadOnly));
    if (object.readAll().contains("clang version"))
        QSKIP("clang was done before the server could be stopped");
    // g++ made it, and the next Run has a server again.
    QCOMPARE(Compile(folder), 0);
    QVERIFY(OnlyServer(folder) > 0);
}

void TestCompileServer::endsWithTheProgramThatRanTheScripts()
{
    // The scripts' parent here is a shell that ends right after them.
    const QString folder = CopyToolchain(QStringLiteral("parent ends"));
    QVERIFY(!folder.isEmpty());
    QProcess program;
    program.setStandardInputFile(QProcess::nullDevice());
    program.start(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral("/bin/sh \"$1MyCL.bat\" && test -n \"$(\"$1compile-client\" pid)\""),
         QStringLiteral("sh"), folder});
    QVERIFY(program.waitForFinished(300000));
    QCOMPARE(program.exitCode(), 0); // the server was there while its program ran
    QVERIFY(GoneWithin(folder, 15));
}

void TestCompileServer::twoFirstRunsAtOnceShareOneServer()
{
    const QString folder = CopyToolchain(QStringLiteral("two at once"));
    QVERIFY(!folder.isEmpty());
    QObject owner;
    QProcess* first = StartCompile(folder, &owner);
    QProcess* second = StartCompile(folder, &owner);
    QVERIFY(first->waitForFinished(300000));
    QVERIFY(second->waitForFinished(300000));
    QCOMPARE(first->exitCode(), 0);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(OnlyServer(folder) > 0);
}

void TestCompileServer::serverThatCannotStartLeavesTheRunToGpp()
{
    const QString folder = CopyToolchain(QStringLiteral("broken server"));
    QVERIFY(!folder.isEmpty());
    QFile server(folder + QStringLiteral("compile-server"));
    QVERIFY(server.open(QIODevice::WriteOnly | QIODevice::Truncate));
    server.write("#!/bin/sh\nexit 1\n");
    server.close();

    QCOMPARE(Compile(folder), 0);
    QVERIFY(QFileInfo(folder + QStringLiteral("T.o")).size() > 0);
    QCOMPARE(Compile(folder), 0);
}

QTEST_GUILESS_MAIN(TestCompileServer)
#include "tst_compile_server.moc"
