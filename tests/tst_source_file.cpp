#include "gbk_locale.h"
#include "source_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

class TestSourceFile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase() { UseUtf8Locale(); }

    void writesExactBytes_data();
    void writesExactBytes();
    void restores_data();
    void restores();
    void roundTripIsExact_data();
    void roundTripIsExact();
    void missingFolder();
    void folderWithoutSourceLeavesEmptyFile();
    void sourceThatIsAFolder();
    void sourceThatIsAPipeDoesNotHang();
    void unreadableAndUnwritable();
    void largeFile();
    void gbkRoundTrip();

private:
    QByteArray ReadSource() const;
    void WriteSource(const QByteArray& bytes) const;
    QString workDir;
    std::optional<QTemporaryDir> folder;
};

namespace {

const QByteArray kHeader("#include \"stdafx.h\"\r\n#include \"T.h\"\r\n");

} // namespace

void TestSourceFile::init()
{
    UseUtf8Locale();
    folder.emplace();
    QVERIFY(folder->isValid());
    workDir = folder->path() + "/";
}

QByteArray TestSourceFile::ReadSource() const
{
    QFile file(workDir + "T.cpp");
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

void TestSourceFile::WriteSource(const QByteArray& bytes) const
{
    QFile file(workDir + "T.cpp");
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

void TestSourceFile::writesExactBytes_data()
{
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("abc") << "abc" << kHeader + "abc\r\n";
    QTest::newRow("empty editor") << "" << kHeader + "\r\n";
    QTest::newRow("line breaks become CR LF") << "a\nb\n" << kHeader + "a\r\nb\r\n\r\n";
    QTest::newRow("CR LF not doubled") << "a\r\nb" << kHeader + "a\r\nb\r\n";
    QTest::newRow("utf8 text") << "puts(\"你好\");"
                               << kHeader + "puts(\"\xE4\xBD\xA0\xE5\xA5\xBD\");\r\n";
}

void TestSourceFile::writesExactBytes()
{
    QFETCH(QString, editor);
    QFETCH(QByteArray, file);
    WriteSource("old content that is longer than the new one, to be replaced whole");
    QVERIFY(WriteSourceFile(workDir, editor));
    QCOMPARE(ReadSource(), file);
}

void TestSourceFile::restores_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("restored");
    QTest::addColumn<QString>("editor");
    QTest::newRow("empty file") << QByteArray() << false << QString();
    QTest::newRow("one CR LF") << QByteArray("#include \"stdafx.h\"\r\n") << false << QString();
    QTest::newRow("LF only") << QByteArray("a\nb\nc\n") << false << QString();
    QTest::newRow("exactly two CR LF") << kHeader << true << QString();
    QTest::newRow("written by the program") << kHeader + "abc\r\n" << true << "abc";
    QTest::newRow("text that ended in a line break") << kHeader + "abc\r\n\r\n" << true << "abc\n";
    QTest::newRow("empty text written by the program") << kHeader + "\r\n" << true << "";
    QTest::newRow("no final CR LF") << kHeader + "abc" << true << "abc";
    QTest::newRow("final lone LF is kept") << kHeader + "abc\n" << true << "abc\n";
    QTest::newRow("hand-edited first lines")
        << QByteArray("// mine\r\n#include <x>\r\ncode") << true << "code";
    QTest::newRow("later CR LF are line breaks") << kHeader + "a\r\n\r\nb" << true << "a\n\nb";
    QTest::newRow("invalid bytes") << kHeader + "x\xFFy" << true << "x\uFFFDy";
    QTest::newRow("NUL bytes") << kHeader + QByteArray("a\0b", 3) << true
                               << QString::fromUtf16(u"a\0b", 3);
}

void TestSourceFile::restores()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, restored);
    QFETCH(QString, editor);
    WriteSource(file);
    const std::optional<QString> text = RestoreCode(workDir);
    QCOMPARE(text.has_value(), restored);
    if (restored)
        QCOMPARE(*text, editor);
    QCOMPARE(ReadSource(), file); // reading never changes the file
}

void TestSourceFile::roundTripIsExact_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("one line") << "abc";
    QTest::newRow("final line break") << "void Demo1()\n{\n}\n";
    QTest::newRow("two final line breaks") << "abc\n\n";
    QTest::newRow("only a line break") << "\n";
    QTest::newRow("CR LF in the text") << "a\r\nb";
}

void TestSourceFile::roundTripIsExact()
{
    QFETCH(QString, text);
    QString expected = text;
    expected.replace("\r\n", "\n");
    QString current = text;
    for (int cycle = 0; cycle < 3; ++cycle) {
        QVERIFY(WriteSourceFile(workDir, current));
        const std::optional<QString> restored = RestoreCode(workDir);
        QVERIFY(restored.has_value());
        QCOMPARE(*restored, expected);
        current = *restored;
    }
}

void TestSourceFile::missingFolder()
{
    const QString missing = workDir + "no/such/folder/";
    QVERIFY(!WriteSourceFile(missing, "abc"));
    QVERIFY(!RestoreCode(missing).has_value());
    QVERIFY(!QFile::exists(missing + "T.cpp"));
}

void TestSourceFile::folderWithoutSourceLeavesEmptyFile()
{
    QVERIFY(!RestoreCode(workDir).has_value());
    QVERIFY(QFile::exists(workDir + "T.cpp"));
    QCOMPARE(ReadSource(), QByteArray());
}

void TestSourceFile::sourceThatIsAFolder()
{
    QVERIFY(QDir(workDir).mkdir("T.cpp"));
    QVERIFY(!RestoreCode(workDir).has_value());
    QVERIFY(!WriteSourceFile(workDir, "abc"));
    QVERIFY(QFileInfo(workDir + "T.cpp").isDir());
}

void TestSourceFile::sourceThatIsAPipeDoesNotHang()
{
    QVERIFY(mkfifo(QFile::encodeName(workDir + "T.cpp").constData(), 0600) == 0);
    QVERIFY(!RestoreCode(workDir).has_value());
}

void TestSourceFile::unreadableAndUnwritable()
{
    if (geteuid() == 0)
        QSKIP("root reads and writes every file; permissions cannot be tested");
    WriteSource(kHeader + "abc\r\n");
    QVERIFY(QFile::setPermissions(workDir + "T.cpp", QFile::WriteOwner));
    QVERIFY(!RestoreCode(workDir).has_value());
    QVERIFY(QFile::setPermissions(workDir + "T.cpp", QFile::ReadOwner));
    QVERIFY(QFile::setPermissions(workDir, QFile::ReadOwner | QFile::ExeOwner));
    QVERIFY(!WriteSourceFile(workDir, "new"));
    QVERIFY(QFile::setPermissions(workDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QCOMPARE(ReadSource(), kHeader + "abc\r\n");
}

void TestSourceFile::largeFile()
{
    QByteArray body;
    const QByteArray line("    std::cout << \"0123456789012345678901234567890123456789\\n\";\r\n");
    while (body.size() < 10 * 1024 * 1024)
        body += line;
    WriteSource(kHeader + body);
    const std::optional<QString> text = RestoreCode(workDir);
    QVERIFY(text.has_value());
    // Every CR LF but the writer's last one is a line break.
    QCOMPARE(text->size(), body.size() - body.count("\r\n") - 1);
    QVERIFY(WriteSourceFile(workDir, *text));
    QCOMPARE(ReadSource(), kHeader + body);
}

void TestSourceFile::gbkRoundTrip()
{
    QString why;
    if (!UseGbkLocale(&why))
        QSKIP(qPrintable(why));
    QVERIFY(WriteSourceFile(workDir, "你好"));
    QCOMPARE(ReadSource(), kHeader + "\xC4\xE3\xBA\xC3\r\n");
    QCOMPARE(RestoreCode(workDir).value_or("<none>"), QString("你好"));
}

QTEST_MAIN(TestSourceFile)
#include "tst_source_file.moc"
