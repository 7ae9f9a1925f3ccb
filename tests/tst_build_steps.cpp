#include "build_steps.h"
#include "error_report.h"
#include "main_window.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <clocale>

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A script that fails and leaves the given messages, as a failing compiler run does.
QByteArray FailingScript()
{
    return "cd \"$(dirname \"$0\")\" && cp messages.txt ret.txt\nexit 1\n";
}

QStringList Entries(std::initializer_list<const char*> texts)
{
    QStringList list;
    for (const char* text : texts)
        list << QString::fromUtf8(text);
    return list;
}

QByteArray Lines(const QStringList& entries)
{
    QByteArray bytes;
    for (const QString& entry : entries)
        bytes += entry.toUtf8() + "\r\n";
    return bytes;
}

// 1000 notes, none an error report.
QStringList Notes()
{
    QStringList notes;
    for (int i = 0; i < 1000; ++i)
        notes << QStringLiteral("T.cpp(%1) : note N%1: fine").arg(i);
    return notes;
}

const char kExample[] = "T.cpp(5) : error C2065: 'x' : undeclared identifier";

} // namespace

class TestBuildSteps : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(std::setlocale(LC_ALL, "C.UTF-8")); }

    void sourceLineNumber_data()
    {
        QTest::addColumn<QString>("reference");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("line");

        QTest::newRow("between brackets") << "T.cpp(5)" << true << 5;
        QTest::newRow("no opening bracket") << "12)" << true << 12;
        QTest::newRow("text before the closing bracket") << "a.cpp 12)" << false << 0;
        QTest::newRow("blanks around") << "T.cpp( \t42  )" << true << 42;
        QTest::newRow("plus sign") << "T.cpp(+7)" << true << 7;
        QTest::newRow("minus sign") << "T.cpp(-7)" << true << -7;
        QTest::newRow("leading zeros") << "T.cpp(007)" << true << 7;
        QTest::newRow("blank between sign and digits") << "T.cpp(- 7)" << false << 0;
        QTest::newRow("largest") << "T.cpp(2147483647)" << true << 2147483647;
        QTest::newRow("smallest") << "T.cpp(-2147483648)" << true << int(-2147483648LL);
        QTest::newRow("one above the largest") << "T.cpp(2147483648)" << false << 0;
        QTest::newRow("one below the smallest") << "T.cpp(-2147483649)" << false << 0;
        QTest::newRow("twenty digits") << "T.cpp(99999999999999999999)" << false << 0;
        QTest::newRow("empty brackets") << "T.cpp()" << false << 0;
        QTest::newRow("blanks only") << "T.cpp(  )" << false << 0;
        QTest::newRow("fraction") << "T.cpp(5.0)" << false << 0;
        QTest::newRow("hex") << "T.cpp(0x5)" << false << 0;
        QTest::newRow("trailing letters") << "T.cpp(5a)" << false << 0;
        QTest::newRow("full-width digit") << "T.cpp(５)" << false << 0;
        QTest::newRow("line and column") << "T.cpp(5,3)" << false << 0;
        QTest::newRow("no closing bracket") << "T.cpp(5" << false << 0;
        QTest::newRow("no brackets") << "T.cpp" << false << 0;
        QTest::newRow("closing before opening") << "T.cpp)5(" << false << 0;
        QTest::newRow("first brackets count") << "T(1).cpp(5)" << true << 1;
    }

    void sourceLineNumber()
    {
        QFETCH(QString, reference);
        QFETCH(bool, valid);
        QFETCH(int, line);
        const std::optional<qint32> number = SourceLineNumber(reference);
        QCOMPARE(number.has_value(), valid);
        if (valid)
            QCOMPARE(*number, line);
    }

    // The compile step on the script's messages: the first complete error report gives the
    // line and "语法错误：" + its message; without one, entry 1 (or the only entry) is shown.
    void makeObjReadsTheFirstCompleteReport_data()
    {
        QTest::addColumn<QStringList>("info");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("hasLine");
        QTest::addColumn<int>("line");

        QTest::newRow("the T.cpp(5) example")
            << Entries({"T.cpp", kExample}) << "语法错误： 'x' : undeclared identifier" << true
            << 5;
        QTest::newRow("entry 0 is never looked at")
            << Entries({kExample, "x"}) << "x" << false << 0;
        QTest::newRow("warning before the error")
            << Entries({"", "T.cpp(4) : warning: 'y' unused", "T.cpp(6) : error: missing ';'"})
            << "语法错误： missing ';'" << true << 6;
        QTest::newRow("only the first error")
            << Entries({"", "T.cpp(7) : error: first", "T.cpp(9) : error: second"})
            << "语法错误： first" << true << 7;
        QTest::newRow("the compiler's file:line:col form passed over")
            << Entries({"", "T.cpp:2:10: fatal error: 'T.h' file not found", "T.cpp(8) : error: y"})
            << "语法错误： y" << true << 8;
        QTest::newRow("no opening bracket gives line 12")
            << Entries({"", "12) : error: text"}) << "语法错误： text" << true << 12;
        QTest::newRow("Error and ERROR do not count")
            << Entries({"", "T.cpp(3) : Error: a", "T.cpp(4) : ERROR: b"}) << "T.cpp(3) : Error: a"
            << false << 0;
        QTest::newRow("error inside a longer word counts")
            << Entries({"", "T.cpp(5) : fatal error: cannot open"}) << "语法错误： cannot open"
            << true << 5;
        QTest::newRow("error only in piece 3 does not count")
            << Entries({"", "T.cpp(5) : note: error here"}) << "T.cpp(5) : note: error here"
            << false << 0;
        QTest::newRow("report without piece 3 is skipped")
            << Entries({"", "T.cpp(5) : error", "T.cpp(8) : error: later"}) << "语法错误： later"
            << true << 8;
        QTest::newRow("report without piece 3 then none: its line, entry 1")
            << Entries({"", "T.cpp(5) : error", "done"}) << "T.cpp(5) : error" << true << 5;
        QTest::newRow("piece 3 keeps later colons")
            << Entries({"", "T.cpp(5) : error: a : b:c"}) << "语法错误： a : b:c" << true << 5;
        QTest::newRow("empty piece 3 is a message")
            << Entries({"", "T.cpp(5) : error:"}) << "语法错误：" << true << 5;
        QTest::newRow("second half of a comma-split line has no colon")
            << Entries({"", "T.cpp(4) : warning: a", "b error", "T.cpp(9) : error: c"})
            << "语法错误： c" << true << 9;
        QTest::newRow("bad line number is skipped")
            << Entries({"", "T.cpp(x) : error: a", "T.cpp(6) : error: b"}) << "语法错误： b" << true
            << 6;
        QTest::newRow("a line the editor cannot count to is skipped")
            << Entries({"", "T.cpp(-2147483648) : error: a", "T.cpp(6) : error: b"})
            << "语法错误： b" << true << 6;
        QTest::newRow("smallest line the editor can count to")
            << Entries({"", "T.cpp(-2147483645) : error: a"}) << "语法错误： a" << true
            << -2147483645;
        QTest::newRow("no report among 1000 entries")
            << Notes() << "T.cpp(1) : note N1: fine" << false << 0;
        QTest::newRow("entry 0 only") << Entries({"only"}) << "only" << false << 0;
        QTest::newRow("1001 empty entries") << QStringList(1001) << QString() << false << 0;
    }

    void makeObjReadsTheFirstCompleteReport()
    {
        QFETCH(QStringList, info);
        QFETCH(QString, message);
        QFETCH(bool, hasLine);
        QFETCH(int, line);
        const StepResult result = RunCompileStep([&](const QString& file, QStringList& messages) {
            messages = info;
            return file != QStringLiteral("MyCL.bat");
        });
        QVERIFY(!result);
        QCOMPARE(result.message, message);
        QCOMPARE(result.sourceLine.has_value(), hasLine);
        if (hasLine)
            QCOMPARE(*result.sourceLine, line);
    }

    // The compile step through the real window: the script's messages move the editor's
    // caret and fill the status line.
    void makeObjShowsTheFirstError_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QStringList>("messages"); // empty: the script is missing
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("caretMoved");
        QTest::addColumn<int>("line");          // editor line of the caret, from 0
        QTest::addColumn<QString>("selection"); // the selected text

        const QString code = QStringLiteral("int a;\nint b;\nint y = x;\nint c;");
        QTest::newRow("the T.cpp(5) example lands on editor line 3")
            << code << Entries({"T.cpp", kExample})
            << QStringLiteral("语法错误： 'x' : undeclared identifier") << true << 2
            << "int y = x;";
        QTest::newRow("warning before the error")
            << code
            << Entries({"T.cpp", "T.cpp(6) : warning C4101: 'c' : unreferenced",
                        "T.cpp(4) : error C2146: missing ';'"})
            << QStringLiteral("语法错误： missing ';'") << true << 1 << "int b;";
        QTest::newRow("only the first error")
            << code << Entries({"", "T.cpp(3) : error C1: one", "T.cpp(6) : error C2: two"})
            << QStringLiteral("语法错误： one") << true << 0 << "int a;";
        QTest::newRow("no report among 1000 entries: entry 1")
            << code << Notes() << "T.cpp(1) : note N1: fine" << false << 0 << "";
        QTest::newRow("report without piece 3 then none: entry 1, line still selected")
            << code << Entries({"", "T.cpp(6) : error C1", "done"}) << "T.cpp(6) : error C1" << true
            << 3 << "int c;";
        QTest::newRow("report without piece 3 then a later one")
            << code << Entries({"", "T.cpp(6) : error C1", "T.cpp(4) : error C2: b"})
            << QStringLiteral("语法错误： b") << true << 1 << "int b;";
        QTest::newRow("entry 0 only: entry 0") << code << Entries({"MyCL.bat: g++ missing"})
                                               << "MyCL.bat: g++ missing" << false << 0 << "";
        QTest::newRow("no ret.txt: the script and its exit code")
            << code << QStringList(1001)
            << QStringLiteral("脚本“MyCL.bat”失败，退出码 1，没有留下消息") << false << 0 << "";
        QTest::newRow("line 2: caret at the start, nothing selected")
            << code << Entries({"", "T.cpp(2) : error C1: in T.h"})
            << QStringLiteral("语法错误： in T.h") << true << 0 << "";
        QTest::newRow("line 3: first editor line")
            << code << Entries({"", "T.cpp(3) : error C1: here"})
            << QStringLiteral("语法错误： here") << true << 0 << "int a;";
        QTest::newRow("overflow: caret at the start, entry 1 shown")
            << code << Entries({"", "T.cpp(-2147483648) : error C1: x"})
            << "T.cpp(-2147483648) : error C1: x" << true << 0 << "";
        QTest::newRow("line past the end: the last line")
            << code << Entries({"", "T.cpp(2147483647) : error C1: far"})
            << QStringLiteral("语法错误： far") << true << 3 << "int c;";
        QTest::newRow("empty editor") << QString() << Entries({"", "T.cpp(9) : error C1: e"})
                                      << QStringLiteral("语法错误： e") << true << 0 << "";
        QTest::newRow("script cannot start")
            << code << QStringList() << QStringLiteral("无法运行脚本“MyCL.bat”：文件不存在")
            << false << 0 << "";
    }

    void makeObjShowsTheFirstError()
    {
        QFETCH(QString, code);
        QFETCH(QStringList, messages);
        QFETCH(QString, status);
        QFETCH(bool, caretMoved);
        QFETCH(int, line);
        QFETCH(QString, selection);

        QTemporaryDir dir;
        const QString work = dir.path() + '/';
        // 1001 empty entries stand for a script that leaves no ret.txt.
        if (messages == QStringList(1001)) {
            QVERIFY(WriteFile(work + "MyCL.bat", "exit 1\n"));
        } else if (!messages.isEmpty()) {
            QVERIFY(WriteFile(work + "MyCL.bat", FailingScript()));
            QVERIFY(WriteFile(work + "messages.txt", Lines(messages)));
        }

        FormMain w(work);
        auto* txtCode = w.findChild<QPlainTextEdit*>("txtCode");
        auto* txtFunc = w.findChild<QLineEdit*>("txtFunc");
        auto* lalStat = w.findChild<QLabel*>("lalStat");
        txtCode->setPlainText(code);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        txtFunc->setFocus();
        QTextCursor before = txtCode->textCursor();
        before.movePosition(QTextCursor::End);
        txtCode->setTextCursor(before);
        lalStat->setText("previous");

        QVERIFY(!w.MakeObj());
        QCOMPARE(lalStat->text(), status);
        const QTextCursor cursor = txtCode->textCursor();
        if (!caretMoved) {
            QCOMPARE(cursor.position(), before.position());
            QCOMPARE(w.focusWidget(), txtFunc);
            return;
        }
        QCOMPARE(w.focusWidget(), txtCode);
        QCOMPARE(cursor.block().blockNumber(), line);
        QCOMPARE(cursor.selectedText(), selection);
        if (!selection.isEmpty())
            QCOMPARE(cursor.selectionStart(), cursor.block().position());
    }

    // The line is counted in lines of text: a line above it that wraps into several displayed
    // lines is still one. So also in a window that was never shown.
    void makeObjCountsLinesOfText_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<bool>("shown");
        QTest::newRow("the wrapped line itself") << 3 << true;
        QTest::newRow("right below the wrapped line") << 4 << true;
        QTest::newRow("further below") << 9 << true;
        QTest::newRow("never shown") << 5 << false;
    }

    void makeObjCountsLinesOfText()
    {
        QFETCH(int, line);
        QFETCH(bool, shown);
        QTemporaryDir dir;
        const QString work = dir.path() + '/';
        QVERIFY(WriteFile(work + "MyCL.bat", FailingScript()));
        QVERIFY(
            WriteFile(work + "messages.txt",
                      QStringLiteral("x\r\nT.cpp(%1) : error C1: wrapped\r\n").arg(line).toUtf8()));

        FormMain w(work);
        auto* txtCode = w.findChild<QPlainTextEdit*>("txtCode");
        QString code = QStringLiteral("word ").repeated(60) + "end\n";
        for (int i = 2; i <= 8; ++i)
            code += QStringLiteral("line %1\n").arg(i);
        txtCode->setPlainText(code);
        if (shown) {
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QVERIFY2(txtCode->document()->firstBlock().layout()->lineCount() >= 3,
                     "the first line should wrap into at least three displayed lines");
        }

        QVERIFY(!w.MakeObj());
        const QTextCursor set = txtCode->textCursor();
        QCOMPARE(set.block().blockNumber(), line - 3);
        QCOMPARE(set.selectedText(), set.block().text());
        QCOMPARE(set.position(), set.block().position() + set.block().length() - 1);
    }

    void makeObjSucceedsQuietly()
    {
        QTemporaryDir dir;
        const QString work = dir.path() + '/';
        QVERIFY(WriteFile(work + "MyCL.bat", "exit 0\n"));
        QVERIFY(WriteFile(work + "ret.txt", QByteArray("x\r\n") + kExample + "\r\n"));
        FormMain w(work);
        auto* txtCode = w.findChild<QPlainTextEdit*>("txtCode");
        auto* lalStat = w.findChild<QLabel*>("lalStat");
        txtCode->setPlainText("a\nb\nc\nd");
        lalStat->setText("previous");
        QVERIFY(w.MakeObj());
        QCOMPARE(lalStat->text(), QString("previous"));
        QVERIFY(!txtCode->textCursor().hasSelection());
    }

    void makeDllShowsEntry0_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QByteArray>("retTxt");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("status");

        QTest::newRow("success leaves the status line")
            << QByteArray("exit 0\n") << QByteArray("old\r\n") << true << "previous";
        QTest::newRow("entry 0 with its colons")
            << QByteArray("exit 1\n") << QByteArray("ld: cannot find -lfoo, sorry\r\nnext\r\n")
            << false << "ld: cannot find -lfoo";
        QTest::newRow("entry 0 empty")
            << QByteArray("exit 1\n") << QByteArray("\r\nsecond\r\n") << false << "";
        QTest::newRow("error report in entry 0 shown as is")
            << QByteArray("exit 1\n") << QByteArray(kExample) << false << kExample;
        QTest::newRow("no ret.txt: the script, its exit code and its output")
            << QByteArray("echo 'mold: out of memory' >&2\nexit 1\n") << QByteArray() << false
            << QStringLiteral("脚本“MyLink.bat”失败，退出码 1：mold: out of memory");
        QTest::newRow("script cannot start")
            << QByteArray() << QByteArray() << false
            << QStringLiteral("无法运行脚本“MyLink.bat”：文件不存在");
    }

    void makeDllShowsEntry0()
    {
        QFETCH(QByteArray, script);
        QFETCH(QByteArray, retTxt);
        QFETCH(bool, result);
        QFETCH(QString, status);

        QTemporaryDir dir;
        const QString work = dir.path() + '/';
        // The messages are the script's own: it writes "ret.txt" while it runs.
        if (!script.isEmpty())
            QVERIFY(WriteFile(work + "MyLink.bat",
                              retTxt.isEmpty() ? script
                                               : "cd \"$(dirname \"$0\")\" && cp messages.txt "
                                                 "ret.txt\n" +
                                                     script));
        if (!retTxt.isEmpty())
            QVERIFY(WriteFile(work + "messages.txt", retTxt));
        FormMain w(work);
        auto* lalStat = w.findChild<QLabel*>("lalStat");
        lalStat->setText("previous");
        QCOMPARE(w.MakeDll(), result);
        QCOMPARE(lalStat->text(), status);
    }
};

QTEST_MAIN(TestBuildSteps)
#include "tst_build_steps.moc"
