#include "crash_guard.h"
#include "gbk_locale.h"
#include "main_window.h"
#include "module_host.h"
#include "narrow_text.h"
#include "process_state.h"
#include "toolchain_copy.h"
#include "window_under_test.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
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
#include <csignal>
#include <dlfcn.h>
#include <exception>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The UTF-8 locale and code page that the other tests use, back when a test ends.
struct Utf8CodePageAtExit {
    ~Utf8CodePageAtExit()
    {
        UseUtf8Locale();
        FixNarrowCodeset();
    }
};

} // namespace

// The whole Run cycle through the real window and the real toolchain folder: its compile server
// (clang), or g++ where the server cannot be had.
class TestRunCycle : public QObject, private WindowUnderTest {
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
    void crashOrExitEndsOnlyTheCall_data();
    void crashOrExitEndsOnlyTheCall();
    void failedSaveKeepsTheSourceAndSaysWhy_data();
    void failedSaveKeepsTheSourceAndSaysWhy();
    void snippetsSetlocaleDoesNotChangeHowCodeIsSaved();
    void standardInputIsAtEndOfFile();
    void threadLeftRunningOutlivesARebuild();
    void builtFunctionsAreOfferedInTheNameBox();
    void missingNameBoxOffersTheLikelyOne_data();
    void missingNameBoxOffersTheLikelyOne();
    void likelyNameRunsOnYes();
    void runCloseStartCyclesKeepTheText();
    void hostileSnippetLeavesVornakWorking_data();
    void hostileSnippetLeavesVornakWorking();

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
};

void TestRunCycle::initTestCase()
{
    qputenv("LC_ALL", "C.UTF-8");
    std::setlocale(LC_ALL, "C.UTF-8");
    QVERIFY2(QFileInfo::exists(VORNAK_TOOLCHAIN_DIR "/MyCL.bat"),
             "build the toolchain folder first");
    // As main() does: the guard's handlers belong to Vornak's state from the start, so that a
    // row run on its own compares the same state as in the whole program.
    InstallCrashGuard();
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
    QVERIFY(OpenWindowOn(workDir));
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
    // Stopped when the Run returns without a box: it must not fire into a later Run.
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, [&text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->windowTitle() + "|" + box->text();
        if (box->icon() != QMessageBox::Critical)
            text += "|wrong icon";
        box->close();
    });
    timer.start(0);
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
    QCOMPARE(RunExpectingMessageBox(), QString("Vornak|函数 “demo2” 未定义\n是否想运行 “Demo2”？"));
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
    QCOMPARE(txtCode->toPlainText(), QString("void Demo1() { std::cout << \"x\"; }\n"));
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

void TestRunCycle::crashOrExitEndsOnlyTheCall_data()
{
    // Each entry prints a counter that starts over when the module is loaded afresh, then stops
    // at the line marked "<-" (the line the report names: for abort(), assert() and a throw out
    // of a noexcept function, the user's line that led there).
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("what"); // how the box or status line puts it; empty: no report
    QTest::addColumn<bool>("duringLoad");
    // The compiler's warning about the marked line, shown after the build; empty: none.
    QTest::addColumn<QString>("warning");

    const QString counter = "static int runs = 0;\n"
                            "void Count() { std::cout << \"run \" << ++runs << ' '; }\n";
    QTest::newRow("null write") << counter + "void Demo1()\n{\n    Count();\n"
                                             "    int* p = nullptr;\n    *p = 1; // <-\n}"
                                << "崩溃：访问了无效的内存地址" << false << QString();
    QTest::newRow("divide by zero")
        << counter + "void Demo1()\n{\n    Count();\n    volatile int zero = 0;\n"
                     "    int ten = 10;\n    std::cout << ten / zero; // <-\n}"
        << "崩溃：整数除以零" << false << QString();
    QTest::newRow("endless recursion")
        << counter + "int Down(int n) { return Down(n + 1) + 1; } // <-\n"
                     "void Demo1()\n{\n    Count();\n    std::cout << Down(0);\n}"
        << "崩溃：栈溢出" << false << "-Winfinite-recursion";
    QTest::newRow("abort") << counter + "void Demo1()\n{\n    Count();\n    std::abort(); // <-\n}"
                           << "崩溃：调用了 abort()" << false << QString();
    QTest::newRow("assert") << "#include <cassert>\n" + counter +
                                   "void Demo1()\n{\n    Count();\n    assert(runs == 0); // <-\n}"
                            << "崩溃：断言失败" << false << QString();
    QTest::newRow("throw out of noexcept")
        << counter + "void Thrower() noexcept\n{\n    throw 42; // <-\n}\n"
                     "void Demo1()\n{\n    Count();\n    Thrower();\n}"
        << "崩溃：调用了 abort()" << false << "-Wexceptions";
    QTest::newRow("trap") << counter +
                                 "void Demo1()\n{\n    Count();\n    __builtin_trap(); // <-\n}"
                          << "崩溃：非法指令" << false << QString();
    // A double free: hostileSnippetLeavesVornakWorking.
    QTest::newRow("exit(3)") << counter + "void Demo1()\n{\n    Count();\n    exit(3); // <-\n}"
                             << "调用了 exit(3)" << false << QString();
    QTest::newRow("_Exit(3)") << counter + "void Demo1()\n{\n    Count();\n    _Exit(3); // <-\n}"
                              << "调用了 _Exit(3)" << false << QString();
    QTest::newRow("quick_exit(3)")
        << counter + "void Demo1()\n{\n    Count();\n    quick_exit(3); // <-\n}"
        << "调用了 quick_exit(3)" << false << QString();
    QTest::newRow("exit(0)") << counter + "void Demo1()\n{\n    Count();\n    std::exit(0);\n}"
                             << QString() << false << QString();
    // Its module cannot be released: it stays in memory, and the next Run takes a fresh copy.
    QTest::newRow("exit(0), then a static destructor crashes")
        << "struct Bye\n{\n    ~Bye() { *static_cast<volatile int*>(nullptr) = 3; }\n} bye;\n" +
               counter + "void Demo1()\n{\n    Count();\n    exit(0);\n}"
        << QString() << false << QString();
    QTest::newRow("static initializer")
        << "struct Boom\n{\n    Boom()\n    {\n        std::cout << \"init \";\n"
           "        *static_cast<volatile int*>(nullptr) = 2; // <-\n    }\n} boom;\n"
           "void Demo1() {}"
        << "访问了无效的内存地址" << true << QString();
}

void TestRunCycle::crashOrExitEndsOnlyTheCall()
{
    QFETCH(QString, code);
    QFETCH(QString, what);
    QFETCH(bool, duringLoad);
    QFETCH(QString, warning);
    OpenWindow();
    txtCode->setPlainText(code);
    const int line = code.left(code.indexOf("// <-")).count('\n') + 1;
    const QString where = QString("（第 %1 行）").arg(line);

    for (int run = 1; run <= 2; ++run) {
        const QString box = RunExpectingMessageBox();
        if (duringLoad) {
            QCOMPARE(box, QString());
            QCOMPARE(Status(), "加载模块失败！" + what + where);
            QCOMPARE(window->hDll, nullptr);
            QCOMPARE(Output().count("init "), run);
        } else {
            // The counter starts over: the module was released and loaded afresh.
            QCOMPARE(Output().count("run 1 "), run);
            QVERIFY2(!Output().contains("run 2"), qPrintable(Output()));
            if (warning.isEmpty()) {
                QCOMPARE(Status(), QString());
            } else {
                QVERIFY2(Status().startsWith(QString("警告：第 %1 行：").arg(line)) &&
                             Status().endsWith("[" + warning + "]"),
                         qPrintable(Status()));
            }
            QCOMPARE(box, what.isEmpty() ? QString() : "Vornak|函数 “Demo1” " + what + where);
        }
        if (!what.isEmpty()) {
            const QTextCursor cursor = txtCode->textCursor();
            QCOMPARE(cursor.blockNumber() + 1, line);
            QCOMPARE(cursor.selectedText(), cursor.block().text());
        }
    }
}

void TestRunCycle::failedSaveKeepsTheSourceAndSaysWhy_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("full disk") << "full"
                               << "磁盘已满";
    QTest::newRow("read-only folder") << "read-only"
                                      << "文件夹只读";
    QTest::newRow("a folder named T.cpp") << "folder"
                                          << "“T.cpp” 是一个文件夹";
    QTest::newRow("character the code page lacks") << "gbk"
                                                   << "第 2 行的字符“😀”无法用当前代码页（GBK）保存";
}

void TestRunCycle::failedSaveKeepsTheSourceAndSaysWhy()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    Utf8CodePageAtExit utf8;
    const QByteArray saved = "#include \"stdafx.h\"\r\n#include \"T.h\"\r\nvoid Demo1() {}\r\n";
    // The folder on a small file system of its own, for a full or read-only disk.
    const QString mountPoint = folder->path() + "/small/";
    const QByteArray mountPath = QFile::encodeName(mountPoint);
    struct Unmount {
        QByteArray path;
        ~Unmount()
        {
            if (!path.isEmpty())
                umount2(path.constData(), MNT_DETACH);
        }
    } unmount;
    if (kind == "full" || kind == "read-only") {
        QVERIFY(QDir().mkpath(mountPoint));
        if (mount("tmpfs", mountPath.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("mounting a small file system needs root");
        unmount.path = mountPath;
        workDir = mountPoint;
    }
    if (kind == "folder") {
        QVERIFY(QDir().mkpath(workDir + "T.cpp"));
    } else {
        QFile file(workDir + "T.cpp");
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(saved) == saved.size());
    }
    if (kind == "full") {
        QFile filler(workDir + "filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
        }
    }
    if (kind == "read-only")
        QVERIFY(mount(nullptr, mountPath.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) ==
                0);
    if (kind == "gbk") {
        QString why;
        if (!UseGbkLocale(&why))
            QSKIP(qPrintable(why));
    }
    FixNarrowCodeset();

    OpenWindow();
    txtCode->setPlainText("void Demo1()\n{ Print(\"你好😀\"); }\n" + QString(20000, u'/'));
    Run();
    QCOMPARE(Status(), "生成代码失败！" + reason);
    if (kind != "folder") {
        QFile file(workDir + "T.cpp");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), saved);
    }
    QVERIFY(!QFile::exists(workDir + "T.o")); // nothing was built
    QCOMPARE(QDir(workDir).entryList(QDir::Hidden | QDir::Files).filter("T.cpp."), QStringList());
    QVERIFY(window->CodeChanged);
    window.reset();
}

void TestRunCycle::snippetsSetlocaleDoesNotChangeHowCodeIsSaved()
{
    Utf8CodePageAtExit utf8;
    QString why;
    if (!UseGbkLocale(&why))
        QSKIP(qPrintable(why));
    FixNarrowCodeset();
    OpenWindow();
    txtCode->setPlainText("void Demo1() { std::setlocale(LC_ALL, \"C\"); Print(\"中\"); }");
    Run();
    QCOMPARE(Output(), QString("中"));
    txtCode->setPlainText("void Demo1() { Print(\"文\"); }");
    Run();
    QCOMPARE(Output(), QString("中文"));
    QFile file(workDir + "T.cpp");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("\xCE\xC4")); // 文 in GBK
    window.reset();
}

void TestRunCycle::standardInputIsAtEndOfFile()
{
    // Vornak's own input is a pipe that nobody writes to: a read would wait for ever.
    int pipeEnds[2];
    QVERIFY(pipe(pipeEnds) == 0);
    const int savedInput = dup(STDIN_FILENO);
    QVERIFY(dup2(pipeEnds[0], STDIN_FILENO) == STDIN_FILENO);
    DetachStandardInput();
    close(pipeEnds[0]);
    close(pipeEnds[1]);

    OpenWindow();
    txtCode->setPlainText("void Demo1()\n{\n    int x = 7;\n    std::cin >> x;\n"
                          "    std::cout << x << ' ' << std::cin.eof() << ' ' << std::getchar();\n"
                          "    std::cin.clear();\n}");
    Run();
    QCOMPARE(Output(), QString("7 1 -1"));
    dup2(savedInput, STDIN_FILENO);
    close(savedInput);
}

void TestRunCycle::threadLeftRunningOutlivesARebuild()
{
    OpenWindow();
    txtCode->setPlainText("#include <thread>\nvoid Demo1()\n{\n    std::thread([] {\n"
                          "        std::this_thread::sleep_for(std::chrono::milliseconds(800));\n"
                          "        Print(\"late\");\n    }).detach();\n    Print(\"first \");\n}");
    Run();
    QCOMPARE(Output(), QString("first "));
    // A rebuild releases the module while its thread sleeps in the module's code.
    txtCode->setPlainText("void Demo1() { Print(\"second \"); }");
    Run();
    QCOMPARE(Output(), QString("first second "));
    // The thread wakes in code that must still be there, and its text arrives on the window's
    // thread.
    QTRY_COMPARE_WITH_TIMEOUT(Output(), QString("first second late"), 5000);
    Run();
    QCOMPARE(Output(), QString("first second latesecond "));
}

namespace {

const char kNamedFunctions[] =
    "void Alpha() { std::cout << \"alpha\"; }\nvoid Beta() {}\nint Gamma(int x) { return x; }\n"
    "extern \"C\" void delta() {}\nnamespace inner { void Hidden() {} }\n"
    "void Over() {}\nvoid Over(int) {}\nstatic void Local() {}\nvoid Demo1() { Local(); }";

} // namespace

void TestRunCycle::builtFunctionsAreOfferedInTheNameBox()
{
    OpenWindow();
    QCompleter* completer = txtFunc->completer();
    QVERIFY(completer);
    QCOMPARE(completer->model()->rowCount(), 0); // nothing built yet
    Type(kNamedFunctions);
    Run();
    QCOMPARE(Status(), QString());
    QStringList offered;
    for (int row = 0; row < completer->model()->rowCount(); ++row)
        offered << completer->model()->index(row, 0).data().toString();
    // What can be run by name, without the runtime's own entries or functions that take
    // parameters.
    QCOMPARE(offered, (QStringList{"Alpha", "Beta", "delta", "Demo1", "Over"}));

    txtFunc->setFocus();
    txtFunc->clear();
    QTest::keyClicks(txtFunc, "d");
    QTRY_VERIFY(completer->popup()->isVisible());
    QCOMPARE(completer->completionCount(), 2); // case does not count: delta, Demo1
    QTest::keyClick(completer->popup(), Qt::Key_Escape);

    // A failed build leaves the names of the last module that was built.
    Type("void Alpha() { syntax error }");
    Run();
    QVERIFY(Status().startsWith("语法错误："));
    QCOMPARE(completer->model()->rowCount(), offered.size());
}

void TestRunCycle::missingNameBoxOffersTheLikelyOne_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("box");
    QTest::newRow("case") << "alpha"
                          << "函数 “alpha” 未定义\n是否想运行 “Alpha”？";
    QTest::newRow("a letter missing") << "Alph"
                                      << "函数 “Alph” 未定义\n是否想运行 “Alpha”？";
    QTest::newRow("two letters swapped") << "Apmha"
                                         << "函数 “Apmha” 未定义";
    QTest::newRow("swapped") << "Btea"
                             << "函数 “Btea” 未定义\n是否想运行 “Beta”？";
    QTest::newRow("a blank after it") << "Beta "
                                      << "函数 “Beta ” 未定义\n是否想运行 “Beta”？";
    QTest::newRow("nothing like it") << "hello"
                                     << "函数 “hello” 未定义";
    QTest::newRow("one that takes parameters") << "gamma"
                                               << "函数 “gamma” 未定义";
}

void TestRunCycle::missingNameBoxOffersTheLikelyOne()
{
    QFETCH(QString, typed);
    QFETCH(QString, box);
    OpenWindow();
    Type(kNamedFunctions);
    txtFunc->setText("Beta");
    Run();
    QCOMPARE(Status(), QString());
    txtFunc->setText(typed);
    QCOMPARE(RunExpectingMessageBox(), "Vornak|" + box);
    QCOMPARE(txtFunc->text(), typed); // a No keeps the name
    QCOMPARE(Output(), QString());
}

void TestRunCycle::likelyNameRunsOnYes()
{
    OpenWindow();
    Type(kNamedFunctions);
    txtFunc->setText("Beta");
    Run();
    txtFunc->setText("alpha");
    QTimer::singleShot(0, this, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->button(QMessageBox::Yes)->click();
    });
    Run();
    QCOMPARE(Output(), QString("alpha"));
    QCOMPARE(txtFunc->text(), QString("Alpha"));
}

void TestRunCycle::runCloseStartCyclesKeepTheText()
{
    const QString code = "void Demo1()\n{\n    std::cout << \"x\";\n}\n";
    OpenWindow();
    Type("void Demo1()\n{\n    std::cout << \"x\";\n}");
    QCOMPARE(txtCode->toPlainText(), code);
    for (int cycle = 0; cycle < 3; ++cycle) {
        Run();
        QCOMPARE(Output(), QString("x"));
        QVERIFY(window->close());
        window.reset();
        OpenWindow();
        QCOMPARE(txtCode->toPlainText(), code);
        QVERIFY(window->CodeChanged);
    }
}

namespace {

// What Vornak's process depends on and a snippet can change.
struct ProcessSnapshot {
    mode_t umask = 0;
    QString directory;
    QList<ino_t> fds;
    sigset_t mask{};
    QList<void*> handlers;
    std::terminate_handler terminate = nullptr;

    static ProcessSnapshot Take()
    {
        ProcessSnapshot snapshot;
        snapshot.umask = ::umask(0);
        ::umask(snapshot.umask);
        snapshot.directory = QDir::currentPath();
        for (int fd = 0; fd < 3; ++fd) {
            struct stat info {};
            snapshot.fds << (fstat(fd, &info) == 0 ? info.st_ino : 0);
        }
        pthread_sigmask(SIG_SETMASK, nullptr, &snapshot.mask);
        for (int signal : {SIGCHLD, SIGSEGV, SIGPIPE, SIGUSR2, SIGRTMIN + 1}) {
            struct sigaction action {};
            sigaction(signal, nullptr, &action);
            snapshot.handlers << reinterpret_cast<void*>(action.sa_handler);
        }
        snapshot.terminate = std::get_terminate();
        return snapshot;
    }

    // The differences, in words; empty when there are none.
    QString Differences(const ProcessSnapshot& before) const
    {
        QStringList changed;
        if (umask != before.umask)
            changed << "umask";
        if (directory != before.directory)
            changed << "directory " + directory;
        if (fds != before.fds)
            changed << "fds 0-2";
        for (int signal : {SIGSEGV, SIGCHLD, SIGINT})
            if (sigismember(&mask, signal) != sigismember(&before.mask, signal))
                changed << QString("mask of signal %1").arg(signal);
        if (handlers != before.handlers)
            changed << "signal handlers";
        if (terminate != before.terminate)
            changed << "terminate handler";
        return changed.join(", ");
    }
};

QByteArray SavedText(const QString& code)
{
    return QByteArray("#include \"stdafx.h\"\r\n#include \"T.h\"\r\n") +
           code.toUtf8().replace("\n", "\r\n") + "\r\n";
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestRunCycle::hostileSnippetLeavesVornakWorking_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QStringList>("box"); // what the box says, in pieces; empty: no box
    QTest::addColumn<QString>("output");  // what the pane gains
    QTest::addColumn<QString>("next");    // the edit run next; empty: a plain print
    QTest::addColumn<QStringList>("nextBox");
    QTest::addColumn<QString>("nextStatus"); // how the status line begins after it
    QTest::addColumn<QString>("nextOutput");

    const QString print = "void Demo1()\n{\n    std::cout << \"next ok\";\n}";
    const QStringList none;
    auto row = [&](const char* name, const QString& code, const QStringList& box,
                   const QString& output, const QString& next = QString(),
                   const QStringList& nextBox = {}, const QString& nextStatus = QString(),
                   const QString& nextOutput = "next ok") {
        QTest::newRow(name) << code << box << output << (next.isEmpty() ? print : next) << nextBox
                            << nextStatus << nextOutput;
    };

    row("SIGCHLD ignored",
        "#include <csignal>\nvoid Demo1()\n{\n    signal(SIGCHLD, SIG_IGN);\n"
        "    std::cout << \"ignored \";\n}",
        none, "ignored ");
    row("SIGCHLD handler in the module",
        "#include <csignal>\nvoid OnChild(int) { Print(\"child!\"); }\n"
        "void Demo1()\n{\n    signal(SIGCHLD, OnChild);\n    std::cout << \"set \";\n}",
        none, "set ");
    row("SIGSEGV blocked, then a crash",
        "#include <csignal>\nvoid Demo1()\n{\n    sigset_t set;\n    sigemptyset(&set);\n"
        "    sigaddset(&set, SIGSEGV);\n    sigprocmask(SIG_BLOCK, &set, nullptr);\n"
        "    std::cout << \"blocked \";\n}",
        none, "blocked ", "void Demo1()\n{\n    *static_cast<volatile int*>(nullptr) = 1; // <-\n}",
        {"崩溃：访问了无效的内存地址（第 3 行）"}, QString(), "blocked ");
    row("terminate handler of a module that is gone",
        "#include <exception>\nvoid Demo1()\n{\n"
        "    std::set_terminate([] { Print(\"mine \"); std::abort(); });\n}",
        none, QString(), "void Thrower() noexcept { throw 1; }\nvoid Demo1()\n{\n    Thrower();\n}",
        {"崩溃：调用了 abort()"}, "警告：第 1 行：", QString()); // the throw warns
    row("PATH changed, then a syntax error",
        "#include <cstdlib>\nvoid Demo1()\n{\n    setenv(\"PATH\", \"/nonexistent\", 1);\n"
        "    std::cout << \"set \";\n}",
        none, "set ", "void Demo1()\n{\n    int x = ;\n}", none, "语法错误：", "set ");
    row("umask 0777",
        "#include <sys/stat.h>\nvoid Demo1()\n{\n    umask(0777);\n    std::cout << \"masked "
        "\";\n}",
        none, "masked ");
    row("current directory changed",
        "#include <unistd.h>\nvoid Demo1()\n{\n    std::cout << chdir(\"/\");\n}", none, "0");
    row("fds 1 and 2 on the null device",
        "#include <fcntl.h>\n#include <unistd.h>\nvoid Demo1()\n{\n"
        "    int fd = open(\"/dev/null\", O_WRONLY);\n    dup2(fd, 1);\n    dup2(fd, 2);\n"
        "    close(fd);\n    std::cout << \"still here \";\n}",
        none, "still here ");
    row("fclose of stdout and stderr",
        "void Demo1()\n{\n    fclose(stdout);\n    fclose(stderr);\n"
        "    printf(\"after close \");\n}",
        none, "after close ");
    row("freopen of stdout on a file",
        "void Demo1()\n{\n    if (!freopen(\"freopen.txt\", \"w\", stdout)) {\n"
        "        perror(\"freopen\");\n        return;\n    }\n    printf(\"to the file\\n\");\n"
        "    std::cout << \"cout too\\n\";\n    fclose(stdout);\n}",
        none, QString());
    row("_exit(3)", "#include <unistd.h>\nvoid Demo1()\n{\n    _exit(3); // <-\n}",
        {"调用了 _exit(3)"}, QString());
    row("pthread_exit",
        "#include <pthread.h>\nvoid Demo1()\n{\n    std::cout << \"before \";\n"
        "    pthread_exit(nullptr); // <-\n}",
        {"调用了 pthread_exit()"}, "before ");
    const QString forked = "#include <sys/wait.h>\n#include <unistd.h>\nvoid Demo1()\n{\n"
                           "    pid_t child = fork();\n    if (child == 0)\n        %1;\n"
                           "    int status = -1;\n    waitpid(child, &status, 0);\n"
                           "    std::cout << \"child ended \" << WIFEXITED(status) << ' '\n"
                           "              << WEXITSTATUS(status) << ' ';\n}";
    row("fork, the child calls exit(5)", forked.arg("exit(5)"), none, "child ended 1 5 ");
    row("fork, the child calls _exit(7)", forked.arg("_exit(7)"), none, "child ended 1 7 ");
    row("fork, the child returns", forked.arg("return"), none, "child ended 1 0 ");
    row("double free of a small block",
        "void Demo1()\n{\n    int* p = new int(1);\n    delete p;\n    delete p;\n}",
        {"崩溃：调用了 abort()：free(): double free", "内存堆已损坏", "代码已保存"}, QString());
    // A thread first: glibc then takes the arena's lock to free a block this size.
    row("double free of 5000 bytes",
        "#include <thread>\nvoid Demo1()\n{\n    std::thread([] {}).join();\n"
        "    char* p = new char[5000];\n    char* q = new char[16];\n    delete[] p;\n"
        "    delete[] p;\n    delete[] q;\n}",
        {"崩溃：调用了 abort()：double free or corruption", "内存堆已损坏"}, QString());
    // Releasing the module runs this destructor: the edit must be saved before that.
    row("static destructor of the old module, with a broken heap",
        "#include <dlfcn.h>\n#include <fstream>\n#include <thread>\nvoid Demo1() {}\n"
        "struct Witness\n{\n    ~Witness()\n    {\n        Dl_info self{};\n"
        "        dladdr(reinterpret_cast<void*>(&Demo1), &self);\n"
        "        std::string path = self.dli_fname;\n"
        "        std::ifstream saved(path.substr(0, path.rfind('/')) + \"/T.cpp\");\n"
        "        std::string text((std::istreambuf_iterator<char>(saved)), {});\n"
        "        std::cout << (text.find(\"next ok\") != std::string::npos ? \"saved first \" : "
        "\"not saved \");\n"
        "        std::thread([] {}).join();\n        char* p = new char[5000];\n"
        "        char* q = new char[16];\n        delete[] p;\n        delete[] p;\n"
        "        delete[] q;\n    }\n} witness;",
        none, QString(), QString(), none, QString(),
        "saved first double free or corruption (!prev)\nnext ok");
    row("a crash names its line in a folder named like 新建文件夹 (2)",
        "void Demo1()\n{\n    int* p = nullptr;\n    *p = 1; // <-\n}",
        {"崩溃：访问了无效的内存地址"}, QString());
}

void TestRunCycle::hostileSnippetLeavesVornakWorking()
{
    QFETCH(QString, code);
    QFETCH(QStringList, box);
    QFETCH(QString, output);
    QFETCH(QString, next);
    QFETCH(QStringList, nextBox);
    QFETCH(QString, nextStatus);
    QFETCH(QString, nextOutput);

    // A folder whose name holds " (", blanks and Chinese, as a copied folder's does.
    folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/新建文件夹 (2) XXXXXX");
    QVERIFY(folder->isValid());
    workDir = folder->path() + "/cl/";
    QVERIFY(CopyBuiltToolchain(workDir));
    // A snippet may change the environment, which is not Vornak's to put back.
    struct PathAtExit {
        QByteArray path = qgetenv("PATH");
        ~PathAtExit() { qputenv("PATH", path); }
    } pathAtExit;
    const QString freopened = QDir::current().absoluteFilePath("freopen.txt");
    QFile::remove(freopened);
    const ProcessSnapshot before = ProcessSnapshot::Take();
    ProcessState rowGuard; // a row that fails leaves the next rows a sound process
    std::FILE* const cOut = stdout;
    std::FILE* const cErr = stderr;

    OpenWindow();
    txtOut->setPlainText(QString());
    txtCode->setPlainText(code);
    auto expectBox = [](const QString& shown, const QStringList& pieces, const QString& code) {
        if (pieces.isEmpty())
            return shown.isEmpty() ? QString() : "unexpected box: " + shown;
        for (const QString& piece : pieces)
            if (!shown.startsWith("Vornak|函数 “Demo1” ") || !shown.contains(piece))
                return "box without \"" + piece + "\": " + shown;
        const qsizetype marker = code.indexOf("// <-");
        const QString where = QString("（第 %1 行）").arg(code.left(marker).count('\n') + 1);
        if (marker >= 0 && !shown.endsWith(where))
            return "box without " + where + ": " + shown;
        return QString();
    };

    const QString shown = RunExpectingMessageBox();
    QVERIFY2(expectBox(shown, box, code).isEmpty(), qPrintable(expectBox(shown, box, code)));
    QVERIFY2(Output().startsWith(output), qPrintable(Output()));
    QCOMPARE(ReadAll(workDir + "T.cpp"), SavedText(code));
    QCOMPARE(ProcessSnapshot::Take().Differences(before), QString());
    if (QTest::currentDataTag() == QLatin1String("freopen of stdout on a file")) {
        QCOMPARE(ReadAll(freopened), QByteArray("to the file\ncout too\n"));
        QFile::remove(freopened);
    }

    // The next edit and Run.
    txtCode->setPlainText(next);
    const QString nextShown = RunExpectingMessageBox();
    QVERIFY2(expectBox(nextShown, nextBox, next).isEmpty(),
             qPrintable(expectBox(nextShown, nextBox, next)));
    QVERIFY2(Status().startsWith(nextStatus) && (!nextStatus.isEmpty() || Status().isEmpty()),
             qPrintable(Status()));
    if (nextStatus.startsWith("语法错误"))
        QCOMPARE(txtCode->textCursor().blockNumber() + 1, 3); // the line of "int x = ;"
    QVERIFY2(Output().endsWith(nextOutput), qPrintable(Output()));
    QVERIFY2(!Output().contains("child!") && !Output().contains("mine"), qPrintable(Output()));
    QCOMPARE(ReadAll(workDir + "T.cpp"), SavedText(next));

    window.reset();
    QCOMPARE(ProcessSnapshot::Take().Differences(before), QString());
    QCOMPARE(stdout, cOut);
    QCOMPARE(stderr, cErr);
}

QTEST_MAIN(TestRunCycle)
#include "tst_run_cycle.moc"
