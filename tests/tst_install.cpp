#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/wait.h>

// "cmake --install" of this build: the program with its toolchain folder beside it, ready for
// a first Run, a desktop entry with an icon, and the user's T.cpp never overwritten.
class TestInstall : public QObject {
    Q_OBJECT

private slots:
    void installsProgramToolchainAndDesktopEntry();
    void stopHelperEndsWithVornak_data();
    void stopHelperEndsWithVornak();

private:
    bool Install(const QString& prefix, QByteArray* output);

    QTemporaryDir program_; // an installed copy the running tests start
    bool programInstalled_ = false;
};

bool TestInstall::Install(const QString& prefix, QByteArray* output)
{
    QProcess cmake;
    cmake.setProcessChannelMode(QProcess::MergedChannels);
    cmake.start(VORNAK_CMAKE, {"--install", VORNAK_BINARY_DIR, "--prefix", prefix});
    const bool finished = cmake.waitForFinished(300000);
    *output = cmake.readAll();
    return finished && cmake.exitStatus() == QProcess::NormalExit && cmake.exitCode() == 0;
}

void TestInstall::installsProgramToolchainAndDesktopEntry()
{
    QTemporaryDir root;
    const QString prefix = root.path() + "/my tools";
    QByteArray output;
    QVERIFY2(Install(prefix, &output), output.constData());

    QVERIFY(QFileInfo(prefix + "/vornak").isExecutable());
    for (const char* file : {"MyCL.bat", "MyLink.bat", "stdafx.h", "T.h", "T.cpp", "rt.o"})
        QVERIFY2(QFileInfo::exists(prefix + "/cl/" + file), file);
    for (const char* program : {"compile-server", "compile-client", "link-prepare"})
        QVERIFY2(QFileInfo(prefix + "/cl/" + program).isExecutable(), program);
    // Made in place, so the first Run does not have to make them: g++'s, and the compile
    // server's, which must be newer than the server too.
    const QFileInfo header(prefix + "/cl/stdafx.h");
    for (const char* name : {"stdafx.h.gch", "stdafx.h.pch"}) {
        const QFileInfo precompiled(prefix + "/cl/" + name);
        QVERIFY2(precompiled.exists(), name);
        QVERIFY(precompiled.lastModified() >= header.lastModified());
    }
    QVERIFY(QFileInfo(prefix + "/cl/stdafx.h.pch").lastModified() >=
            QFileInfo(prefix + "/cl/compile-server").lastModified());

    QFile entry(prefix + "/share/applications/vornak.desktop");
    QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split('\n');
    QCOMPARE(lines.value(0), QString("[Desktop Entry]"));
    QVERIFY(lines.contains("Type=Application"));
    QVERIFY(lines.contains("Name=Vornak"));
    // Quoted: the folder's name has a blank in it.
    QVERIFY(lines.contains(QString("Exec=\"%1/vornak\"").arg(prefix)));
    const QString icon = lines.filter(QRegularExpression("^Icon=")).value(0).mid(5);
    QVERIFY2(QFileInfo(icon).isAbsolute() && QFileInfo::exists(icon), qPrintable(icon));

    // Installing again keeps the user's work.
    QFile code(prefix + "/cl/T.cpp");
    QVERIFY(code.open(QIODevice::WriteOnly));
    code.write("#include \"stdafx.h\"\r\n#include \"T.h\"\r\nvoid Mine() {}\r\n");
    code.close();
    QVERIFY2(Install(prefix, &output), output.constData());
    QVERIFY(code.open(QIODevice::ReadOnly));
    QCOMPARE(code.readAll(),
             QByteArray("#include \"stdafx.h\"\r\n#include \"T.h\"\r\nvoid Mine() {}\r\n"));
}

namespace {

// The fields of /proc/<pid>/stat after the program's name: state, parent, ...
QList<QByteArray> StatFields(const QString& pid, QByteArray* name = nullptr)
{
    QFile stat("/proc/" + pid + "/stat");
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    const qsizetype open = line.indexOf('(');
    const qsizetype close = line.lastIndexOf(')');
    if (open < 0 || close < open)
        return {};
    if (name)
        *name = line.mid(open + 1, close - open - 1);
    return line.mid(close + 2).split(' ');
}

// The processes named name whose parent is parent.
QList<qint64> ChildrenNamed(qint64 parent, const QByteArray& name)
{
    QList<qint64> children;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        QByteArray program;
        const QList<QByteArray> fields = StatFields(entry, &program);
        if (program == name && fields.value(1).toLongLong() == parent)
            children << entry.toLongLong();
    }
    return children;
}

// Still running: there, and not a zombie that only waits to be reaped.
bool Running(qint64 pid)
{
    const QList<QByteArray> fields = StatFields(QString::number(pid));
    return !fields.isEmpty() && fields.value(0) != "Z";
}

} // namespace

void TestInstall::stopHelperEndsWithVornak_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("killed") << int(SIGKILL);
    QTest::newRow("terminated") << int(SIGTERM);
}

void TestInstall::stopHelperEndsWithVornak()
{
    QFETCH(int, signal);
    QByteArray output;
    if (!programInstalled_)
        QVERIFY2(programInstalled_ = Install(program_.path(), &output), output.constData());

    QProcess vornak;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    vornak.setProcessEnvironment(environment);
    vornak.start(program_.path() + "/vornak");
    QVERIFY(vornak.waitForStarted());
    QList<qint64> helpers;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(helpers = ChildrenNamed(vornak.processId(), "vornak-stop")).isEmpty(), 10000);
    QCOMPARE(helpers.size(), 1);
    ::kill(pid_t(vornak.processId()), signal);
    QVERIFY(vornak.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!Running(helpers.first()), 5000);
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
