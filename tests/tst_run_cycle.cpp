#include "main_window.h"
#include "toolchain_copy.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <clocale>
#include <dlfcn.h>
#include <memory>
#include <sys/stat.h>

// The whole Run cycle through the real window, the real toolchain folder and real g++.
class TestRunCycle : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void runPrintsThroughCoutAndPrintf();
    void secondRunWithoutEditOnlyCalls();
    void syntaxErrorMarksTheLineThenFixRuns();
    void failedCompileIsRetriedWithoutEdit();
    void undefinedFunctionShowsLinkMessage();
    void editBackToSameTextStillRebuilds();
    void newFunctionNameDoesNotRebuild();
    void firstRunWithoutSourceReportsTheName();
    void moduleThatStaysLoadedNeverRunsOldCode();
    void closingReleasesAndRestartRestores();
    void busyPointerIsPutBackOnEveryPath();
    void exceptionFromTheFunctionIsReported_data();
    void exceptionFromTheFunctionIsReported();

private:
    void OpenWindow();
    void Type(const QString& code);
    void Run();
    QString Output() const { return txtOut->toPlainText(); }
    QString Status() const { return lalStat->text(); }
    qint64 ModuleStamp() const;
    QString RunExpectingMessageBox();

    std::unique_ptr<QTemporaryDir> folder;
    QString workDir;
    std::unique_ptr<FormMain> window;
    QPlainTextEdit* txtCode = nullptr;
    QPlainTextEdit* txtOut = nullptr;
    QLineEdit* txtFunc = nullptr;
    QPushButton* cmdRun = nullptr;
    QLabel* lalStat = nullptr;
};

void TestRunCycle::initTestCase()
{
    qputenv("LC_ALL", "C.UTF-8");
    std::setlocale(LC_ALL, "C.UTF-8");
    QVERIFY2(QFileInfo::exists(VORNAK_TOOLCHAIN_DIR "/MyCL.bat"),
             "build the toolchain folder first");
}

void TestRunCycle::init()
{
    folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vornak run XXXXXX");
    QVERIFY(folder->isValid());
    workDir = folder->path() + "/cl/";
    QVERIFY(CopyBuiltToolchain(workDir));
}

void TestRunCycle::cleanup()
{
    window.reset();
}

void TestRunCycle::OpenWindow()
{
    window = std::make_unique<FormMain>(workDir);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    txtCode = window->findChild<QPlainTextEdit*>("txtCode");
    txtOut = window->findChild<QPlainTextEdit*>("txtOut");
    txtFunc = window->findChild<QLineEdit*>("txtFunc");
    cmdRun = window->findChild<QPushButton*>("cmdRun");
    lalStat = window->findChild<QLabel*>("lalStat");
    QVERIFY(txtCode && txtOut && txtFunc && cmdRun && lalStat);
}

void TestRunCycle::Type(const QString& code)
{
    txtCode->setFocus();
    txtCode->selectAll();
    QTest::keyClick(txtCode, Qt::Key_Delete);
    for (const QString& line : code.split('\n')) {
        // ASCII is typed key by key; other characters arrive as an input method commits them.
        QString run;
        auto flush = [&] {
            if (run.isEmpty())
                return;
            if (run.front().unicode() < 128) {
                QTest::keyClicks(txtCode, run);
            } else {
                QInputMethodEvent commit;
                commit.setCommitString(run);
                QApplication::sendEvent(txtCode, &commit);
            }
            run.clear();
        };
        for (QChar ch : line) {
            if (!run.isEmpty() && (run.front().unicode() < 128) != (ch.unicode() < 128))
                flush();
            run += ch;
        }
        flush();
        QTest::keyClick(txtCode, Qt::Key_Return);
        // The editor indents the new line as the one before; the lines bring their own.
        QTest::keyClick(txtCode, Qt::Key_Home, Qt::ShiftModifier);
        QTest::keyClick(txtCode, Qt::Key_Delete);
    }
}

void TestRunCycle::Run()
{
    QTest::mouseClick(cmdRun, Qt::LeftButton);
}

qint64 TestRunCycle::ModuleStamp() const
{
    struct stat info {};
    if (stat(QFile::encodeName(workDir + "T.dll").constData(), &info) != 0)
        return -1;
    return qint64(info.st_ino) * 1000000007LL + info.st_mtim.tv_nsec;
}

QString TestRunCycle::RunExpectingMessageBox()
{
    QString text;
    QTimer::singleShot(0, this, [&text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->windowTitle() + "|" + box->text();
        if (box->icon() != QMessageBox::Critical)
            text += "|wrong icon";
        box->close();
    });
    Run();
    return text;
}

void TestRunCycle::runPrintsThroughCoutAndPrintf()
{
    OpenWindow();
    txtOut->setPlainText("before\n");
    Type("void Demo1()\n{\n    std::cout << \"sum \" << 1 + 2 << \"\\n\";\n"
         "    std::printf(\"%d, %s\\n\", 42, \"你好\");\n}");
    Run();
    QCOMPARE(Status(), QString());
    QCOMPARE(Output(), QString("before\nsum 3\n42, 你好\n"));
    QVERIFY(!window->CodeChanged);
}

void TestRunCycle::secondRunWithoutEditOnlyCalls()
{
    OpenWindow();
    Type("static int calls = 0;\nvoid Demo1()\n{\n    std::cout << \"call \" << ++calls << "
         "\"\\n\";\n}");
    Run();
    QCOMPARE(Output(), QString("call 1\n"));
    const qint64 stamp = ModuleStamp();
    QVERIFY(QFile::remove(workDir + "T.o"));
    Run();
    // The same module, still loaded: its counter goes on, and nothing was compiled or linked.
    QCOMPARE(Output(), QString("call 1\ncall 2\n"));
    QCOMPARE(ModuleStamp(), stamp);
    QVERIFY(!QFile::exists(workDir + "T.o"));
}

void TestRunCycle::syntaxErrorMarksTheLineThenFixRuns()
{
    OpenWindow();
    Type("void Demo1()\n{\n    int x = 1;\n    std::cout << x\n}");
    Run();
    QVERIFY2(Status().startsWith("语法错误： "), qPrintable(Status()));
    QVERIFY2(Status().contains("expected"), qPrintable(Status()));
    QCOMPARE(QApplication::focusWidget(), txtCode);
    const QTextCursor cursor = txtCode->textCursor();
    QCOMPARE(cursor.blockNumber(), 3); // editor line 4
    QCOMPARE(cursor.selectedText(), QString("    std::cout << x"));
    QVERIFY(window->CodeChanged);

    txtCode->moveCursor(QTextCursor::EndOfLine);
    QTest::keyClick(txtCode, Qt::Key_Semicolon);
    Run();
    QCOMPARE(Status(), QString());
    QCOMPARE(Output(), QString("1"));
}

void TestRunCycle::failedCompileIsRetriedWithoutEdit()
{
    OpenWindow();
    Type("void Demo1() { undeclared_name(); }");
    Run();
    QVERIFY2(Status().contains("undeclared_name"), qPrintable(Status()));
    QVERIFY(QFile::remove(workDir + "ret.txt"));
    Run();
    QVERIFY2(Status().contains("undeclared_name"), qPrintable(Status()));
    QVERIFY(QFile::exists(workDir + "ret.txt")); // the compile script ran again
}

void TestRunCycle::undefinedFunctionShowsLinkMessage()
{
    OpenWindow();
    Type("void Missing();\nvoid Demo1() { Missing(); }");
    Run();
    QVERIFY2(Status().contains("Missing()"), qPrintable(Status()));
    QVERIFY(!Status().startsWith("语法错误"));
    QCOMPARE(window->hDll, nullptr);
    QCOMPARE(Output(), QString());
}

void TestRunCycle::editBackToSameTextStillRebuilds()
{
    OpenWindow();
    Type("void Demo1() { std::cout << 'a'; }");
    Run();
    const qint64 stamp = ModuleStamp();
    txtCode->moveCursor(QTextCursor::End);
    QTest::keyClick(txtCode, Qt::Key_Space);
    QTest::keyClick(txtCode, Qt::Key_Backspace);
    QVERIFY(window->CodeChanged);
    Run();
    QCOMPARE(Output(), QString("aa"));
    QVERIFY(ModuleStamp() != stamp);
}

void TestRunCycle::newFunctionNameDoesNotRebuild()
{
    OpenWindow();
    Type("void Demo1() { std::cout << 1; }\nvoid Demo2() { std::cout << 2; }");
    Run();
    const qint64 stamp = ModuleStamp();
    txtFunc->selectAll();
    QTest::keyClicks(txtFunc, "Demo2");
    Run();
    QCOMPARE(Output(), QString("12"));
    QCOMPARE(ModuleStamp(), stamp);
    txtFunc->selectAll();
    QTest::keyClicks(txtFunc, "demo2");
    QCOMPARE(RunExpectingMessageBox(), QString("Vornak|函数 “demo2” 未定义"));
}

void TestRunCycle::firstRunWithoutSourceReportsTheName()
{
    OpenWindow();
    QVERIFY(!window->CodeChanged);
    QCOMPARE(RunExpectingMessageBox(), QString("Vornak|函数 “Demo1” 未定义"));
    QVERIFY(!QFile::exists(workDir + "T.o"));
    QVERIFY(!QFile::exists(workDir + "T.dll"));
    QCOMPARE(QFileInfo(workDir + "T.cpp").size(), 0);
}

void TestRunCycle::moduleThatStaysLoadedNeverRunsOldCode()
{
    OpenWindow();
    // A thread_local object with a destructor, touched on the window's thread, keeps the
    // module in memory after its release.
    const QString code = "struct Sticky { ~Sticky() {} };\nthread_local Sticky sticky;\n"
                         "void Demo1() { (void)&sticky; std::cout << \"%1\"; }";
    Type(code.arg("old "));
    Run();
    QCOMPARE(Output(), QString("old "));
    Type(code.arg("new "));
    Run();
    QCOMPARE(Output(), QString("old new "));
    Type(code.arg("newer "));
    Run();
    QCOMPARE(Output(), QString("old new newer "));
}

void TestRunCycle::closingReleasesAndRestartRestores()
{
    OpenWindow();
    Type("void Demo1() { std::cout << \"x\"; }");
    Run();
    QVERIFY(window->hDll != nullptr);
    const QByteArray path = QFile::encodeName(workDir + "T.dll");
    window->close();
    QCOMPARE(window->hDll, nullptr);
    QCOMPARE(dlopen(path.constData(), RTLD_NOW | RTLD_NOLOAD), nullptr);

    window.reset();
    OpenWindow();
    QCOMPARE(txtCode->toPlainText(), QString("void Demo1() { std::cout << \"x\"; }\n\n"));
    QVERIFY(window->CodeChanged);
    QVERIFY(QFile::remove(workDir + "T.o"));
    Run();
    QCOMPARE(Output(), QString("x"));
    QVERIFY(QFile::exists(workDir + "T.o")); // rebuilt
}

void TestRunCycle::busyPointerIsPutBackOnEveryPath()
{
    OpenWindow();
    Type("void Demo1() { syntax error }");
    Run();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    Type("void Demo1() {}");
    Run();
    QCOMPARE(Status(), QString());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestRunCycle::exceptionFromTheFunctionIsReported_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("box");
    QTest::newRow("std::exception") << "std::vector<int> v; std::cout << \"before \"; v.at(3);"
                                    << "Vornak|函数 “Demo1” 抛出异常：vector::_M_range_check: __n "
                                       "(which is 3) >= this->size() (which is 0)";
    QTest::newRow("anything else") << "std::cout << \"before \"; throw 42;"
                                   << "Vornak|函数 “Demo1” 抛出异常：（不是 std::exception）";
}

void TestRunCycle::exceptionFromTheFunctionIsReported()
{
    QFETCH(QString, code);
    QFETCH(QString, box);
    OpenWindow();
    Type("void Demo1() { " + code + " }");
    QCOMPARE(RunExpectingMessageBox(), box);
    QCOMPARE(Output(), QString("before "));
    // Vornak and the module go on working.
    QCOMPARE(RunExpectingMessageBox(), box);
    QCOMPARE(Output(), QString("before before "));
}

QTEST_MAIN(TestRunCycle)
#include "tst_run_cycle.moc"
