#include "gbk_locale.h"
#include "narrow_text.h"
#include "result_file.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>

namespace {

QStringList Empties(qsizetype count)
{
    return QStringList(count);
}

QByteArray NumberedLines(int count, const char* lineEnd = "\r\n")
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += "line" + QByteArray::number(i) + lineEnd;
    return bytes;
}

QStringList NumberedEntries(int count)
{
    QStringList entries;
    for (int i = 0; i < count; ++i)
        entries << QStringLiteral("line%1").arg(i);
    return entries;
}

QStringList ReadBytes(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return ReadResultEntries(buffer);
}

// Hands out its data, then fails the next read, like a file on a disk that goes away.
class FailingDevice : public QIODevice {
public:
    explicit FailingDevice(QByteArray data) : data_(std::move(data)) {}

protected:
    qint64 readData(char* out, qint64 max) override
    {
        if (served_)
            return -1;
        served_ = true;
        const qint64 size = qMin<qint64>(max, data_.size());
        memcpy(out, data_.constData(), size);
        return size;
    }
    qint64 writeData(const char*, qint64) override { return -1; }
    bool isSequential() const override { return true; }

private:
    QByteArray data_;
    bool served_ = false;
};

} // namespace

class TestResultFile : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(std::setlocale(LC_ALL, "C.UTF-8"), "the C.UTF-8 locale is missing");
    }

    void readsFields_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("entries");

        QTest::newRow("three lines without commas") << QByteArray("first\r\nsecond\r\nthird\r\n")
                                                    << QStringList{"first", "second", "third"};
        QTest::newRow("empty file: 1001 empty entries") << QByteArray() << Empties(1001);
        QTest::newRow("one comma: second entry without its leading space")
            << QByteArray("T.cpp(5) : error C2143: syntax error, missing ';'\r\n")
            << QStringList{"T.cpp(5) : error C2143: syntax error", "missing ';'"};
        QTest::newRow("quoted field keeps its commas")
            << QByteArray("\"a, b, c\", d\r\n") << QStringList{"a, b, c", "d"};
        QTest::newRow("blank line is one empty entry")
            << QByteArray("a\r\n\r\nb\r\n") << QStringList{"a", "", "b"};
        QTest::newRow("file of one line break") << QByteArray("\r\n") << QStringList{""};
        QTest::newRow("line of blanks is one empty entry")
            << QByteArray(" \t \r\nb") << QStringList{"", "b"};
        QTest::newRow("leading spaces and tabs skipped")
            << QByteArray("  \t a,\t b\r\n") << QStringList{"a", "b"};
        QTest::newRow("trailing blanks dropped")
            << QByteArray("a \t ,b  \r\n") << QStringList{"a", "b"};
        QTest::newRow("blanks inside quotes kept")
            << QByteArray("\"  a , \"\r\n") << QStringList{"  a , "};
        QTest::newRow("quote inside a field is kept")
            << QByteArray("say \"hi\" now\r\n") << QStringList{"say \"hi\" now"};
        QTest::newRow("text after closing quote appended")
            << QByteArray("\"x\" is undeclared, y\r\n") << QStringList{"x is undeclared", "y"};
        QTest::newRow("blanks after closing quote dropped")
            << QByteArray("\"a\"  , b\r\n") << QStringList{"a", "b"};
        QTest::newRow("empty quoted field") << QByteArray("\"\",x\r\n") << QStringList{"", "x"};
        QTest::newRow("lone LF ends a line") << QByteArray("a\nb\n") << QStringList{"a", "b"};
        QTest::newRow("lone CR ends a line") << QByteArray("a\rb\r") << QStringList{"a", "b"};
        QTest::newRow("LF then CR is two line ends")
            << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("last line without a line break")
            << QByteArray("a\r\nb") << QStringList{"a", "b"};
        QTest::newRow("comma at a line end opens an empty field")
            << QByteArray("a,\r\nb") << QStringList{"a", "", "b"};
        QTest::newRow("comma at the end of the file opens an empty field")
            << QByteArray("a,") << QStringList{"a", ""};
        QTest::newRow("lone comma") << QByteArray(",") << QStringList{"", ""};
        QTest::newRow("unclosed quote ends at its line end")
            << QByteArray("\"abc, def\r\nnext\r\n") << QStringList{"abc, def", "next"};
        QTest::newRow("unclosed quote at the end of the file")
            << QByteArray("x\r\n\"abc") << QStringList{"x", "abc"};
        QTest::newRow("NUL bytes dropped")
            << QByteArray("a\0b, \0c\0\r\n", 11) << QStringList{"ab", "c"};
        QTest::newRow("file of NUL bytes only") << QByteArray(3, '\0') << Empties(1001);
        QTest::newRow("UTF-8 text") << QByteArray("错误: 未声明的标识符，x,好\r\n")
                                    << QStringList{"错误: 未声明的标识符，x", "好"};
        QTest::newRow("bytes that do not decode")
            << QByteArray("\xff\xfe,a") << QStringList{"\uFFFD\uFFFD", "a"};
        QTest::newRow("exactly 1001 lines") << NumberedLines(1001) << NumberedEntries(1001);
        QTest::newRow("more than 1001 lines: the first 1001")
            << NumberedLines(1500) << NumberedEntries(1001);
        QTest::newRow("more than 1001 fields on one line: the first 1001")
            << QByteArray(5000, ',') << Empties(1001);
        QTest::newRow("100,000 LF lines: the first 1001")
            << NumberedLines(100000, "\n") << NumberedEntries(1001);
        QTest::newRow("CR LF split across read blocks is one line end")
            << QByteArray(64 * 1024 - 1, 'x') + "\r\nb"
            << QStringList{QString(64 * 1024 - 1, u'x'), "b"};
        QTest::newRow("line of 1 MB")
            << QByteArray(1 << 20, 'y') + "\r\nz" << QStringList{QString(1 << 20, u'y'), "z"};
    }

    void readsFields()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, entries);
        QCOMPARE(ReadBytes(bytes), entries);
    }

    void stopsReadingAfter1001Entries()
    {
        // 10 MB of short lines: only the start of it is ever read.
        QBuffer buffer;
        buffer.setData(NumberedLines(1'000'000));
        QVERIFY(buffer.size() > 10'000'000);
        buffer.open(QIODevice::ReadOnly);
        QCOMPARE(ReadResultEntries(buffer).size(), 1001);
        QVERIFY2(buffer.pos() < 1'000'000, qPrintable(QString::number(buffer.pos())));
    }

    void readFailureKeepsEntriesReadSoFar()
    {
        FailingDevice device("a\r\nb\r\nc");
        device.open(QIODevice::ReadOnly);
        QStringList expected = Empties(1001);
        expected[0] = "a";
        expected[1] = "b";
        QCOMPARE(ReadResultEntries(device), expected);
    }

    void unopenableFileGives1001EmptyEntries_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing file") << "missing.txt";
        QTest::newRow("a folder") << "folder";
    }

    void unopenableFileGives1001EmptyEntries()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        QCOMPARE(ReadResultFile(dir.filePath(name)), Empties(1001));
    }

    void readsAFile()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("ret.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("T.cpp\r\nT.cpp(5) : error C2065: 'x' : undeclared identifier\r\n");
        file.close();
        QCOMPARE(ReadResultFile(file.fileName()),
                 (QStringList{"T.cpp", "T.cpp(5) : error C2065: 'x' : undeclared identifier"}));
    }

    void decodesGbkUnderAGbkLocale()
    {
        const Utf8LocaleAtExit backToUtf8;
        QString whyNot;
        if (!UseGbkLocale(&whyNot))
            QSKIP(qPrintable(whyNot));

        // "错误" and "好" in GBK; their second bytes are not delimiters.
        const QByteArray bytes("\xb4\xed\xce\xf3: x,\xba\xc3\r\n");
        const QStringList entries = ReadBytes(bytes);
        QCOMPARE(entries, (QStringList{"错误: x", "好"}));
    }
};

QTEST_GUILESS_MAIN(TestResultFile)
#include "tst_result_file.moc"
