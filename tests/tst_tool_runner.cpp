#include "tool_runner.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>
#include <unistd.h>

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestToolRunner : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(std::setlocale(LC_ALL, "C.UTF-8")); }

    void init()
    {
        QTest::failOnWarning(QRegularExpression("QProcess: Destroyed while process"));
        QVERIFY(workDir_.isValid());
        // A folder name with a blank and Chinese in it, as a user's home may have.
        work_ = workDir_.path() + QStringLiteral("/工具 folder/");
        QVERIFY(QDir().mkpath(work_));
    }

    void cleanup() { QVERIFY(QDir(work_).removeRecursively()); }

    void runsTheScriptAndReadsItsMessages_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QByteArray>("oldRetTxt"); // written before the run unless empty
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("info");

        const QStringList untouched{"untouched"};
        QTest::newRow("exit 0 with ret.txt present: info untouched")
            << QByteArray("exit 0\n") << QByteArray("a\r\nb\r\n") << true << untouched;
        QTest::newRow("exit 2 and three lines written by the script: exactly 3 entries")
            << QByteArray(
                   "printf 'a\\r\\nb\\r\\nc\\r\\n' > \"$(dirname \"$0\")/ret.txt\"\nexit 2\n")
            << QByteArray() << false << QStringList{"a", "b", "c"};
        // No fresh messages: the script's name, its exit code and the first line of its output.
        const QString noMessages = QStringLiteral("脚本“MyCL.bat”失败，退出码 1，没有留下消息");
        QTest::newRow("exit 1 and an empty ret.txt written by the script")
            << QByteArray(": > \"$(dirname \"$0\")/ret.txt\"\nexit 1\n") << QByteArray() << false
            << QStringList{noMessages, noMessages};
        QTest::newRow("exit 1 without ret.txt")
            << QByteArray("rm -f \"$(dirname \"$0\")/ret.txt\"\nexit 1\n") << QByteArray("old")
            << false << QStringList{noMessages, noMessages};
        const QString stale = QStringLiteral("脚本“MyCL.bat”失败，退出码 4：first line");
        QTest::newRow("an earlier failure's ret.txt is not shown again")
            << QByteArray("echo\necho '  first line'\necho second >&2\nexit 4\n")
            << QByteArray("old\r\n") << false << QStringList{stale, stale};
        const QString missing = QStringLiteral("脚本“MyCL.bat”失败，退出码 127：");
        QTest::newRow("a command that is missing names itself")
            << QByteArray("no-such-tool-17 --help\n") << QByteArray() << false
            << QStringList{missing, missing};
        QTest::newRow("ret.txt the script writes replaces the old one")
            << QByteArray("printf 'new, one\\n' > \"$(dirname \"$0\")/ret.txt\"\nexit 3\n")
            << QByteArray("old\r\n") << false << QStringList{"new", "one"};
        const QString killed = QStringLiteral("脚本“MyCL.bat”失败，退出码 137，没有留下消息");
        QTest::newRow("script killed by a signal fails")
            << QByteArray("kill -KILL $$\n") << QByteArray() << false
            << QStringList{killed, killed};
        QTest::newRow("script reading its input gets the null device")
            << QByteArray("cat\nexit 0\n") << QByteArray() << true << untouched;
        QTest::newRow("script writing 10 MB to stdout and stderr")
            << QByteArray("head -c 10000000 /dev/zero\nhead -c 10000000 /dev/zero >&2\nexit 0\n")
            << QByteArray() << true << untouched;
    }

    void runsTheScriptAndReadsItsMessages()
    {
        QFETCH(QByteArray, script);
        QFETCH(QByteArray, oldRetTxt);
        QFETCH(bool, result);
        QFETCH(QStringList, info);

        QVERIFY(WriteFile(work_ + "MyCL.bat", script));
        if (!oldRetTxt.isNull()) {
            // Left by an earlier Run.
            QVERIFY(WriteFile(work_ + "ret.txt", oldRetTxt));
            QFile old(work_ + "ret.txt");
            QVERIFY(old.open(QIODevice::ReadWrite));
            QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                    QFileDevice::FileModificationTime));
        }
        std::unique_ptr<CommandShell> shellObj;
        QStringList entries{"untouched"};
        QCOMPARE(RunScript(shellObj, work_, "MyCL.bat", entries), result);
        // A missing command's message names the shell's own words after the colon.
        if (info.size() == 2 && info[0].endsWith(QStringLiteral("：")) && entries.size() == 2) {
            QVERIFY2(entries[0].startsWith(info[0]) && entries[0].contains("no-such-tool-17"),
                     qPrintable(entries[0]));
            QCOMPARE(entries[1], entries[0]);
        } else {
            QCOMPARE(entries, info);
        }
        // Vornak never deletes "ret.txt".
        if (!oldRetTxt.isNull() && !script.contains("rm -f"))
            QVERIFY(QFile::exists(work_ + "ret.txt"));
    }

    void scriptThatCannotStartNamesItself_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QString>("message");

        const QString sh = QStringLiteral("/bin/sh");
        QTest::newRow("missing script") << sh << ""
                                        << "无法运行脚本“MyCL.bat”：文件不存在";
        QTest::newRow("a folder") << sh << "folder"
                                  << "无法运行脚本“MyCL.bat”：这是一个文件夹，不是文件";
        QTest::newRow("unreadable script") << sh << "unreadable"
                                           << "无法运行脚本“MyCL.bat”：没有读取这个文件的权限";
        QTest::newRow("missing shell") << "/no/such/sh"
                                       << "script"
                                       << "无法运行脚本“MyCL.bat”：找不到命令解释器 /no/such/sh";
        QTest::newRow("shell that will not run")
            << "/etc/hostname"
            << "script"
            << "无法运行脚本“MyCL.bat”：无法启动命令解释器 /etc/hostname";
    }

    void scriptThatCannotStartNamesItself()
    {
        QFETCH(QString, shell);
        QFETCH(QString, setUp);
        QFETCH(QString, message);

        const QString script = work_ + "MyCL.bat";
        if (setUp == "folder") {
            QVERIFY(QDir().mkdir(script));
        } else if (setUp == "script" || setUp == "unreadable") {
            QVERIFY(WriteFile(script, "exit 0\n"));
        }
        if (setUp == "unreadable") {
            if (geteuid() == 0)
                QSKIP("root reads every file, so no script is unreadable");
            QVERIFY(QFile::setPermissions(script, QFileDevice::WriteOwner));
        }
        QVERIFY(WriteFile(work_ + "ret.txt", "stale message\r\n"));

        auto shellObj = std::make_unique<CommandShell>(shell);
        QStringList info;
        QVERIFY(!RunScript(shellObj, work_, "MyCL.bat", info));
        QCOMPARE(info, (QStringList{message, message}));
    }

    void shellObjIsCreatedOnceAndKept()
    {
        QVERIFY(WriteFile(work_ + "MyCL.bat", "exit 0\n"));
        std::unique_ptr<CommandShell> shellObj;
        QStringList info;
        QVERIFY(RunScript(shellObj, work_, "MyCL.bat", info));
        CommandShell* const first = shellObj.get();
        QVERIFY(first);
        QVERIFY(RunScript(shellObj, work_, "MyCL.bat", info));
        QCOMPARE(shellObj.get(), first);
    }

    void exitCodeIsTheScripts_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("exit 0") << QByteArray("exit 0\n") << 0;
        QTest::newRow("exit 7") << QByteArray("exit 7\n") << 7;
        QTest::newRow("killed by SIGKILL") << QByteArray("kill -KILL $$\n") << 128 + 9;
        QTest::newRow("sh cannot parse it") << QByteArray("if then fi (\n") << 2;
    }

    void exitCodeIsTheScripts()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, exitCode);
        QVERIFY(WriteFile(work_ + "s.sh", script));
        CommandShell shell;
        QString startError;
        QCOMPARE(shell.Run(work_ + "s.sh", &startError), exitCode);
        QVERIFY(startError.isEmpty());
    }

private:
    QTemporaryDir workDir_;
    QString work_;
};

QTEST_GUILESS_MAIN(TestToolRunner)
#include "tst_tool_runner.moc"
