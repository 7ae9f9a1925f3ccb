// Diagnostics through the real window, the real toolchain folder and both compilers (the
// compile server's clang, and g++ when the server is taken away): the gutter's marks and their
// tooltips, the status line of a failing and of a warning build, macro errors, the missing
// return's crash box and the rule that entries needing arguments are not called.
#include "code_editor.h"
#include "diagnostic_marks.h"
#include "main_window.h"
#include "status_line.h"
#include "toolchain_copy.h"
#include "window_under_test.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>
#include <clocale>
#include <memory>

class TestBuildDiagnostics : public QObject, private WindowUnderTest {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void errorsOnTwoLinesAreMarkedUntilFixed_data();
    void errorsOnTwoLinesAreMarkedUntilFixed();
    void warningsRunTheEntryAndMarkTheirLines_data();
    void warningsRunTheEntryAndMarkTheirLines();
    void macroErrorsGoWhereTheTokenIsSpelt_data();
    void macroErrorsGoWhereTheTokenIsSpelt();
    void entriesThatNeedArgumentsAreNotCalled_data();
    void entriesThatNeedArgumentsAreNotCalled();
    void missingReturnIsNamedInTheCrashBox();

private:
    void OpenWindow(bool withServer);
    // Sets the editor's text and runs; the text of the message box the Run brings up, if any.
    QString Run(const QString& code, const QString& entry = "Demo1");
    // The editor lines (from 1) marked with this kind.
    QList<int> Marked(DiagnosticMarks::Kind kind) const;
    QString ToolTipAtLine(int line);
    QString Status() const { return lalStat->text(); }

    std::unique_ptr<QTemporaryDir> folder;
    QString workDir;
};

void TestBuildDiagnostics::initTestCase()
{
    qputenv("LC_ALL", "C.UTF-8");
    std::setlocale(LC_ALL, "C.UTF-8");
    QVERIFY2(QFileInfo::exists(VORNAK_TOOLCHAIN_DIR "/MyCL.bat"),
             "build the toolchain folder first");
}

void TestBuildDiagnostics::init()
{
    folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vornak diag XXXXXX");
    QVERIFY(folder->isValid());
    workDir = folder->path() + "/cl/";
    QVERIFY(CopyBuiltToolchain(workDir));
}

void TestBuildDiagnostics::cleanup()
{
    window.reset();
}

void TestBuildDiagnostics::OpenWindow(bool withServer)
{
    if (!withServer)
        QVERIFY(QFile::remove(workDir + "compile-client"));
    QVERIFY(OpenWindowOn(workDir));
}

QString TestBuildDiagnostics::Run(const QString& code, const QString& entry)
{
    txtCode->setPlainText(code);
    txtFunc->setText(entry);
    QString text;
    QTimer::singleShot(0, this, [&text] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            box->close();
        }
    });
    QTest::mouseClick(cmdRun, Qt::LeftButton);
    return text;
}

QList<int> TestBuildDiagnostics::Marked(DiagnosticMarks::Kind kind) const
{
    QList<int> lines;
    for (QTextBlock block = txtCode->document()->begin(); block.isValid(); block = block.next())
        if (txtCode->Marks().KindOf(block) == kind)
            lines << block.blockNumber() + 1;
    return lines;
}

QString TestBuildDiagnostics::ToolTipAtLine(int line)
{
    QToolTip::hideText();
    if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }))
        return "still showing: " + QToolTip::text();
    const QTextBlock block = txtCode->document()->findBlockByNumber(line - 1);
    const QPoint inText(20, txtCode->cursorRect(QTextCursor(block)).center().y());
    QHelpEvent help(QEvent::ToolTip, inText, txtCode->viewport()->mapToGlobal(inText));
    QApplication::sendEvent(txtCode->viewport(), &help);
    const QString overText = QToolTip::isVisible() ? QToolTip::text() : QString();

    // Pointing at the line's number in the gutter shows the same.
    QToolTip::hideText();
    if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }))
        return "still showing: " + QToolTip::text();
    const QPoint inEditor = txtCode->viewport()->mapTo(txtCode, inText);
    QWidget* gutter = txtCode->childAt(QPoint(txtCode->contentsRect().left() + 2, inEditor.y()));
    if (!gutter || gutter == txtCode->viewport())
        return "no gutter";
    const QPoint inGutter = gutter->mapFrom(txtCode, QPoint(2, inEditor.y()));
    QHelpEvent onNumber(QEvent::ToolTip, inGutter, gutter->mapToGlobal(inGutter));
    QApplication::sendEvent(gutter, &onNumber);
    const QString overNumber = QToolTip::isVisible() ? QToolTip::text() : QString();
    return overNumber == overText ? overText : "gutter: " + overNumber + " text: " + overText;
}

void TestBuildDiagnostics::errorsOnTwoLinesAreMarkedUntilFixed_data()
{
    QTest::addColumn<bool>("withServer");
    QTest::newRow("clang") << true;
    QTest::newRow("g++") << false;
}

void TestBuildDiagnostics::errorsOnTwoLinesAreMarkedUntilFixed()
{
    QFETCH(bool, withServer);
    OpenWindow(withServer);
    const QString broken = "void Demo1()\n{\n    int a = undefined_one;\n    int b = 2;\n"
                           "    int c = undefined_two;\n    Print(a + b + c);\n}";
    QCOMPARE(Run(broken), QString());
    QCOMPARE(Marked(DiagnosticMarks::Kind::Error), (QList<int>{3, 5}));
    QCOMPARE(Marked(DiagnosticMarks::Kind::Warning), QList<int>{});
    QCOMPARE(txtCode->textCursor().blockNumber() + 1, 3);
    QVERIFY2(Status().startsWith("语法错误：") && Status().contains("undefined_one"),
             qPrintable(Status()));
    QVERIFY(!lalStat->IsWarning());
    QVERIFY2(ToolTipAtLine(5).contains("undefined_two"), qPrintable(ToolTipAtLine(5)));
    QCOMPARE(ToolTipAtLine(4), QString());

    // A line typed above moves the marks down with their text.
    QTextCursor top(txtCode->document());
    top.insertText("// a comment\n");
    QCOMPARE(Marked(DiagnosticMarks::Kind::Error), (QList<int>{4, 6}));

    QString fixed = broken;
    fixed.replace("undefined_one", "1").replace("undefined_two", "3");
    QCOMPARE(Run(fixed), QString());
    QCOMPARE(txtOut->toPlainText(), QString("6"));
    QCOMPARE(Marked(DiagnosticMarks::Kind::Error), QList<int>{});
    QCOMPARE(Marked(DiagnosticMarks::Kind::Warning), QList<int>{});
    QCOMPARE(Status(), QString());
}

void TestBuildDiagnostics::warningsRunTheEntryAndMarkTheirLines_data()
{
    QTest::addColumn<bool>("withServer");
    QTest::newRow("clang") << true;
    QTest::newRow("g++") << false;
}

void TestBuildDiagnostics::warningsRunTheEntryAndMarkTheirLines()
{
    QFETCH(bool, withServer);
    OpenWindow(withServer);
    // A missing return (line 5 is where both compilers say it) and an assignment as a condition.
    const QString code = "int Sign(int x)\n{\n    if (x > 0)\n        return 1;\n}\n"
                         "void Demo1()\n{\n    int flag = 0;\n    if (flag = Sign(1))\n"
                         "        Print(\"ran\");\n}";
    QCOMPARE(Run(code), QString());
    QCOMPARE(txtOut->toPlainText(), QString("ran"));
    QCOMPARE(Marked(DiagnosticMarks::Kind::Warning), (QList<int>{5, 9}));
    QCOMPARE(Marked(DiagnosticMarks::Kind::Error), QList<int>{});
    QVERIFY2(Status().startsWith("警告：第 5 行："), qPrintable(Status()));
    QVERIFY(lalStat->IsWarning());
    const QColor warning = lalStat->palette().color(QPalette::WindowText);
    QVERIFY2(ToolTipAtLine(9).contains("parentheses"), qPrintable(ToolTipAtLine(9)));

    // The next failing build is in the error colour again.
    QCOMPARE(Run(code + "\nvoid Broken() { nothing_here; }"), QString());
    QVERIFY(!lalStat->IsWarning());
    QVERIFY(lalStat->palette().color(QPalette::WindowText) != warning);
}

void TestBuildDiagnostics::macroErrorsGoWhereTheTokenIsSpelt_data()
{
    QTest::addColumn<bool>("withServer");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<int>("line");
    // The macro is defined on line 1 and used on line 4.
    for (const bool withServer : {true, false}) {
        const char* compiler = withServer ? "clang" : "g++";
        QTest::addRow("%s: misspelt in the body", compiler) << withServer << "factr"
                                                            << "v" << 1;
        QTest::addRow("%s: misspelt in the argument", compiler) << withServer << "2"
                                                                << "undefined_v" << 4;
    }
}

void TestBuildDiagnostics::macroErrorsGoWhereTheTokenIsSpelt()
{
    QFETCH(bool, withServer);
    QFETCH(QString, body);
    QFETCH(QString, argument);
    QFETCH(int, line);
    OpenWindow(withServer);
    Run("#define SCALE(x) ((x) * " + body + ")\nint Use(int v)\n{\n    return SCALE(" + argument +
        ");\n}");
    QVERIFY2(Status().startsWith("语法错误："), qPrintable(Status()));
    QCOMPARE(txtCode->textCursor().blockNumber() + 1, line);
    QCOMPARE(Marked(DiagnosticMarks::Kind::Error), QList<int>{line});
    // The note that ties the #define to its use is in the tooltip.
    if (line == 1)
        QVERIFY2(ToolTipAtLine(1).contains("macro ") && ToolTipAtLine(1).contains("SCALE"),
                 qPrintable(ToolTipAtLine(1)));
}

void TestBuildDiagnostics::entriesThatNeedArgumentsAreNotCalled_data()
{
    QTest::addColumn<bool>("withServer");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("output");
    const QString refused = "函数 “%1” 需要参数，只能运行没有参数的函数";
    for (const bool withServer : {true, false}) {
        const char* compiler = withServer ? "clang" : "g++";
        QTest::addRow("%s: an int", compiler)
            << withServer << "WithArg" << refused.arg("WithArg") << QString();
        QTest::addRow("%s: a string", compiler)
            << withServer << "WithStr" << refused.arg("WithStr") << QString();
        QTest::addRow("%s: an overload without parameters", compiler)
            << withServer << "Over" << QString() << "over()";
        QTest::addRow("%s: extern \"C\", no parameters", compiler)
            << withServer << "Plain" << QString() << "plain";
    }
}

void TestBuildDiagnostics::entriesThatNeedArgumentsAreNotCalled()
{
    QFETCH(bool, withServer);
    QFETCH(QString, entry);
    QFETCH(QString, box);
    QFETCH(QString, output);
    OpenWindow(withServer);
    const QString code = "void WithArg(int n) { Print(\"n=\", n); }\n"
                         "void WithStr(const std::string& s) { Print(s); }\n"
                         "void Over(int n) { Print(\"over(\", n, \")\"); }\n"
                         "void Over() { Print(\"over()\"); }\n"
                         "extern \"C\" void Plain() { Print(\"plain\"); }\n";
    QCOMPARE(Run(code, entry), box);
    QCOMPARE(txtOut->toPlainText(), output);
    QCOMPARE(Status(), QString());
}

void TestBuildDiagnostics::missingReturnIsNamedInTheCrashBox()
{
    OpenWindow(true); // g++ sets no trap: the function returns whatever is left
    const QString code = "void Demo1()\n{\n    Print(Sign(-1));\n}\n"
                         "int Sign(int x)\n{\n    if (x > 0)\n        return 1;\n}";
    txtCode->setPlainText("int Sign(int x);\n" + code);
    QCOMPARE(Run("int Sign(int x);\n" + code),
             QString("函数 “Sign” 没有返回值就结束了（第 6 行）"));
    QCOMPARE(txtCode->textCursor().blockNumber() + 1, 6);
    // A trap of the user's own is still an illegal instruction.
    QCOMPARE(Run("void Demo1()\n{\n    __builtin_trap();\n}"),
             QString("函数 “Demo1” 崩溃：非法指令（第 3 行）"));
}

QTEST_MAIN(TestBuildDiagnostics)
#include "tst_build_diagnostics.moc"
