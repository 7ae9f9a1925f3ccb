#include "busy_input.h"
#include "call_watch.h"
#include "main_window.h"
#include "toolchain_copy.h"
#include "window_under_test.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <chrono>
#include <clocale>
#include <csignal>
#include <memory>
#include <thread>

namespace {

QPlainTextEdit* currentPane = nullptr;
QString paneDuringCall;

} // namespace

// Called by a snippet while its call runs: what the output pane holds at that moment.
extern "C" [[gnu::visibility("default")]] void VornakTestRecordPane()
{
    paneDuringCall = currentPane ? currentPane->toPlainText() : QString();
}

// Calls that run long, through the real window, toolchain and stop helper: stopping them,
// their output while they run, the crash of a thread they started, input made meanwhile.
class TestLongCalls : public QObject, private WindowUnderTest {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void stopEndsTheCallAtItsLine_data();
    void stopEndsTheCallAtItsLine();
    void stopWindowShowsOnlyForLongCalls_data();
    void stopWindowShowsOnlyForLongCalls();
    void floodOfOutputIsBoundedAndStoppable();
    void outputShowsWhileTheCallRuns();
    void inputMadeWhileBusyIsDropped();
    void threadCrashIsReportedOnce_data();
    void threadCrashIsReportedOnce();
    void threadsOutputKeepsItsOrder();
    void wayOutEndsOnlyTheCall_data();
    void wayOutEndsOnlyTheCall();
    void wideStreamsReachThePane();
    void rawWritesAndChildrenReachThePane();
    void veryLongLineIsCut();

private:
    void Open(const QString& code);
    // Runs the entry named in the name box; the text of the message box it brought up, if any.
    QString Run();
    // Collects the text of the next message box that opens, and closes it.
    void CatchBoxes();
    QString Output() const { return txtOut->toPlainText(); }
    int MarkedLine(const QString& code) const
    {
        return int(code.left(code.indexOf("// <-")).count('\n')) + 1;
    }

    std::unique_ptr<QTemporaryDir> folder;
    QTimer boxCatcher;
    QStringList boxes;
};

void TestLongCalls::initTestCase()
{
    qputenv("LC_ALL", "C.UTF-8");
    std::setlocale(LC_ALL, "C.UTF-8");
    QVERIFY2(QFileInfo::exists(VORNAK_TOOLCHAIN_DIR "/MyCL.bat"),
             "build the toolchain folder first");
    QVERIFY(StartCallWatch(VORNAK_STOP_PROGRAM));
    // As in Vornak, where nothing handles these: the test library catches them to print a
    // stack, and the guard takes over only what is at its default.
    for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE})
        std::signal(signal, SIG_DFL);
    boxCatcher.setInterval(20);
    connect(&boxCatcher, &QTimer::timeout, this, [this] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->close();
        }
    });
    boxCatcher.start();
}

void TestLongCalls::init()
{
    folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vornak long XXXXXX");
    QVERIFY(folder->isValid());
    QVERIFY(CopyBuiltToolchain(folder->path() + "/cl/"));
    boxes.clear();
}

void TestLongCalls::cleanup()
{
    window.reset();
    currentPane = nullptr;
}

void TestLongCalls::Open(const QString& code)
{
    QVERIFY(OpenWindowOn(folder->path() + "/cl/"));
    currentPane = txtOut;
    txtCode->setPlainText(code);
}

QString TestLongCalls::Run()
{
    const qsizetype before = boxes.size();
    QTest::mouseClick(cmdRun, Qt::LeftButton);
    return boxes.size() > before ? boxes.last() : QString();
}

void TestLongCalls::stopEndsTheCallAtItsLine_data()
{
    // Each entry prints, then never returns by itself on the line marked "<-".
    QTest::addColumn<QString>("code");
    QTest::newRow("endless loop") << "void Demo1()\n{\n    Print(\"before \");\n"
                                     "    volatile long n = 0;\n    for (;;) ++n; // <-\n}";
    QTest::newRow("sleep") << "#include <unistd.h>\nvoid Demo1()\n{\n    Print(\"before \");\n"
                              "    sleep(100); // <-\n}";
    QTest::newRow("malloc and free")
        << "#include <cstdlib>\nvoid Demo1()\n{\n    Print(\"before \");\n"
           "    for (;;) { void* volatile p = std::malloc(100); std::free(p); } // <-\n}";
    QTest::newRow("waiting for a thread")
        << "#include <thread>\n#include <unistd.h>\nvoid Demo1()\n{\n    Print(\"before \");\n"
           "    std::thread t([] { pause(); });\n    t.join(); // <-\n}";
    QTest::newRow("reading a pipe nobody writes")
        << "#include <unistd.h>\nvoid Demo1()\n{\n    Print(\"before \");\n    int ends[2];\n"
           "    pipe(ends);\n    char c;\n    read(ends[0], &c, 1); // <-\n}";
    QTest::newRow("printing") << "void Demo1()\n{\n    Print(\"before \");\n"
                                 "    for (long i = 0;; ++i) std::printf(\"%ld\\n\", i); // <-\n}";
}

void TestLongCalls::stopEndsTheCallAtItsLine()
{
    QFETCH(QString, code);
    Open(code + "\nvoid Quick() { Print(\"quick \"); }");
    const QString box = QString("函数 “Demo1” 已被停止（第 %1 行）").arg(MarkedLine(code));
    for (int stop = 1; stop <= 2; ++stop) {
        PressStopWhenShown();
        QCOMPARE(Run(), box);
        QCOMPARE(Output().count("before "), stop);
        const QTextCursor cursor = txtCode->textCursor();
        QCOMPARE(cursor.blockNumber() + 1, MarkedLine(code));
        QCOMPARE(cursor.selectedText(), cursor.block().text());
    }
    txtFunc->setText("Quick");
    QCOMPARE(Run(), QString());
    QVERIFY(Output().endsWith("quick "));
}

void TestLongCalls::stopWindowShowsOnlyForLongCalls_data()
{
    QTest::addColumn<int>("milliseconds");
    QTest::addColumn<bool>("shown");
    QTest::newRow("short") << 100 << false;
    QTest::newRow("long") << 2200 << true;
}

void TestLongCalls::stopWindowShowsOnlyForLongCalls()
{
    QFETCH(int, milliseconds);
    QFETCH(bool, shown);
    Open(QString("#include <thread>\nvoid Demo1()\n{\n    std::this_thread::sleep_for("
                 "std::chrono::milliseconds(%1));\n    Print(\"done\");\n}")
             .arg(milliseconds));
    QCOMPARE(Run(), QString());
    QCOMPARE(Output(), QString("done"));
    const int ticket = LastWatchedTicket();
    QTest::qWait(300); // the helper's word may still be on its way
    QCOMPARE(StopWindowShownAt(ticket).has_value(), shown);
}

void TestLongCalls::floodOfOutputIsBoundedAndStoppable()
{
    Open("void Demo1()\n{\n    for (long i = 0;; ++i) std::cout << \"line \" << i << '\\n';"
         " // <-\n}\nvoid Few()\n{\n    for (int i = 0; i < 100000; ++i) Print(i, \"\\n\");\n}");
    PressStopWhenShown();
    QCOMPARE(Run(), QString("函数 “Demo1” 已被停止（第 3 行）"));
    const QStringList lines = Output().split('\n');
    QVERIFY(lines.size() < 300000);
    QVERIFY2(lines.value(lines.size() - 2).startsWith("……（输出太多：其后的 "),
             qPrintable(lines.value(lines.size() - 2)));
    QCOMPARE(lines.value(0), QString("line 0"));
    // A new call has an allowance of its own, and 100,000 lines all show.
    txtOut->clear();
    txtFunc->setText("Few");
    QCOMPARE(Run(), QString());
    QCOMPARE(txtOut->document()->blockCount(), 100001);
    QCOMPARE(txtOut->document()->findBlockByNumber(99999).text(), QString("99999"));
}

void TestLongCalls::outputShowsWhileTheCallRuns()
{
    Open("#include <dlfcn.h>\n#include <thread>\nvoid Demo1()\n{\n    Print(\"first\\n\");\n"
         "    std::this_thread::sleep_for(std::chrono::milliseconds(400));\n"
         "    Print(\"second\\n\");\n"
         "    reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, \"VornakTestRecordPane\"))();\n"
         "    Print(\"third\\n\");\n}");
    paneDuringCall = "not called";
    QCOMPARE(Run(), QString());
    QCOMPARE(paneDuringCall, QString("first\nsecond\n"));
    QCOMPARE(Output(), QString("first\nsecond\nthird\n"));
}

void TestLongCalls::inputMadeWhileBusyIsDropped()
{
    Open("#include <thread>\nstatic int calls = 0;\nvoid Demo1()\n{\n    Print(++calls, \" \");\n"
         "    std::this_thread::sleep_for(std::chrono::milliseconds(700));\n}");
    auto click = [this] {
        // As the window system stamps a click: with the time it was made.
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            auto* event = new QMouseEvent(type, QPointF(5, 5), cmdRun->mapToGlobal(QPointF(5, 5)),
                                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            event->setTimestamp(BusyInputFilter::Now());
            QCoreApplication::postEvent(cmdRun, event);
        }
    };
    // Two clicks while the window is busy (the first Run builds, the call sleeps).
    std::thread clicker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        click();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        click();
    });
    Run();
    clicker.join();
    QTest::qWait(100);
    QCOMPARE(Output(), QString("1 "));
    // A click made afterwards counts.
    click();
    QTRY_COMPARE_WITH_TIMEOUT(Output(), QString("1 2 "), 3000);
}

void TestLongCalls::threadCrashIsReportedOnce_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("what");
    QTest::newRow("null write during the call")
        << "void Demo1()\n{\n    std::thread([] {\n        *static_cast<volatile int*>(nullptr)"
           " = 1; // <-\n    }).detach();\n"
           "    std::this_thread::sleep_for(std::chrono::milliseconds(300));\n}"
        << "访问了无效的内存地址";
    QTest::newRow("null write after the call")
        << "void Demo1()\n{\n    std::thread([] {\n"
           "        std::this_thread::sleep_for(std::chrono::milliseconds(200));\n"
           "        *static_cast<volatile int*>(nullptr) = 1; // <-\n    }).detach();\n}"
        << "访问了无效的内存地址";
    QTest::newRow("abort after the call")
        << "void Demo1()\n{\n    std::thread([] {\n"
           "        std::this_thread::sleep_for(std::chrono::milliseconds(200));\n"
           "        std::abort(); // <-\n    }).detach();\n}"
        << "调用了 abort()";
}

void TestLongCalls::threadCrashIsReportedOnce()
{
    QFETCH(QString, code);
    QFETCH(QString, what);
    const QString prelude = "#include <thread>\nstatic int runs = 0;\n"
                            "void Count() { Print(\"run \", ++runs, \" \"); }\n";
    const QString full =
        prelude + code.replace("{\n    std::thread", "{\n    Count();\n    std::thread");
    Open(full);
    const QString box =
        QString("函数 “Demo1” 启动的线程崩溃：%1（第 %2 行）").arg(what).arg(MarkedLine(full));
    Run();
    QTRY_COMPARE_WITH_TIMEOUT(boxes, QStringList{box}, 5000);
    const QTextCursor cursor = txtCode->textCursor();
    QCOMPARE(cursor.blockNumber() + 1, MarkedLine(full));
    QTest::qWait(200);
    QCOMPARE(boxes.size(), 1);
    // The module stays in memory for its parked thread; the next Run takes a fresh copy.
    txtCode->setPlainText(prelude + "void Demo1() { Count(); }");
    Run();
    QCOMPARE(Output(), QString("run 1 run 1 "));
}

void TestLongCalls::threadsOutputKeepsItsOrder()
{
    Open("#include <thread>\nvoid Demo1()\n{\n    std::cout << \"1 main\\n\";\n"
         "    std::thread t([] {\n        std::printf(\"2 thread\\n\");\n"
         "        Print(\"3 thread\\n\");\n    });\n    t.join();\n"
         "    std::cout << \"4 main after join\\n\";\n}");
    for (int run = 0; run < 3; ++run)
        QCOMPARE(Run(), QString());
    QCOMPARE(Output(), QString("1 main\n2 thread\n3 thread\n4 main after join\n").repeated(3));
}

void TestLongCalls::wideStreamsReachThePane()
{
    Open("#include <cwchar>\nvoid Demo1()\n{\n    std::wcout << L\"宽 \" << 42 << L'\\n';\n"
         "    std::wprintf(L\"%ls %d\\n\", L\"字符\", 7);\n    std::fputws(L\"错误\\n\", stderr);\n"
         "    std::putwchar(L'x');\n    std::cout << \" narrow\";\n}");
    QCOMPARE(Run(), QString());
    QCOMPARE(Output(), QString("宽 42\n字符 7\n错误\nx narrow"));
}

void TestLongCalls::rawWritesAndChildrenReachThePane()
{
    Open("#include <cstdlib>\n#include <unistd.h>\nvoid Demo1()\n{\n"
         "    write(1, \"raw out\\n\", 8);\n    write(2, \"raw 错误\\n\", 11);\n"
         "    std::system(\"echo child\");\n}");
    QCOMPARE(Run(), QString());
    QStringList lines = Output().split('\n', Qt::SkipEmptyParts);
    lines.sort();
    QCOMPARE(lines, QStringList({"child", "raw out", "raw 错误"}));
}

void TestLongCalls::veryLongLineIsCut()
{
    Open("void Demo1()\n{\n    std::cout << std::string(2000000, 'x') << \"\\nend\\n\";\n}");
    QCOMPARE(Run(), QString());
    const QStringList lines = Output().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines[0].startsWith(QString(10000, 'x') + "……（此行过长："),
             qPrintable(lines[0].right(40)));
    QCOMPARE(lines[1], QString("end"));
}

void TestLongCalls::wayOutEndsOnlyTheCall_data()
{
    // Each entry prints, then leaves on the line marked "<-" in a way that would end Vornak.
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("box"); // how the box begins
    QTest::newRow("raise(SIGTERM)")
        << "#include <csignal>\nvoid Demo1()\n{\n    Print(\"before \");\n"
           "    raise(SIGTERM); // <-\n}"
        << "函数 “Demo1” 收到信号 SIGTERM（第 5 行）";
    QTest::newRow("kill of itself")
        << "#include <csignal>\n#include <unistd.h>\nvoid Demo1()\n{\n    Print(\"before \");\n"
           "    kill(getpid(), SIGUSR2); // <-\n}"
        << "函数 “Demo1” 收到信号 SIGUSR2（第 6 行）";
    QTest::newRow("alarm") << "#include <unistd.h>\nvoid Demo1()\n{\n    Print(\"before \");\n"
                              "    alarm(1);\n    sleep(5); // <-\n}"
                           << "函数 “Demo1” 收到信号 SIGALRM（第 6 行）";
    QTest::newRow("write to a pipe nobody reads")
        << "#include <unistd.h>\nvoid Demo1()\n{\n    Print(\"before \");\n    int ends[2];\n"
           "    pipe(ends);\n    close(ends[0]);\n    write(ends[1], \"x\", 1); // <-\n}"
        << "函数 “Demo1” 收到信号 SIGPIPE（第 8 行）";
    QTest::newRow("smashed stack")
        << "#include <cstring>\nvoid Smash(const char* text)\n{\n    char name[16];\n"
           "    std::memset(name, 0x41, 64);\n    Print(name[0] == text[0] ? \"\" : \"\");\n}\n"
           "void Demo1()\n{\n    Print(\"before \");\n    Smash(\"x\");\n}"
        << "函数 “Demo1” 崩溃：访问了无效的内存地址";
}

void TestLongCalls::wayOutEndsOnlyTheCall()
{
    QFETCH(QString, code);
    QFETCH(QString, box);
    Open(code + "\nvoid Quick() { Print(\"quick \"); }");
    for (int run = 1; run <= 2; ++run) {
        const QString shown = Run();
        QVERIFY2(shown.startsWith(box), qPrintable(shown));
        QCOMPARE(Output().count("before "), run);
    }
    // Nothing of it is left to go off later, and the next call works.
    QTest::qWait(1200);
    txtFunc->setText("Quick");
    QCOMPARE(Run(), QString());
    QVERIFY(Output().endsWith("quick "));
}

QTEST_MAIN(TestLongCalls)
#include "tst_long_calls.moc"
