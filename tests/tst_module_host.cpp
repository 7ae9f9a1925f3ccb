// The module host and the output channel, through the real window: modules are built here with
// g++ from tests/modules/ and loaded from a work folder of their own as "T.dll".
#include "Module.h"
#include "gbk_locale.h"
#include "main_window.h"
#include "module_loader.h"
#include "narrow_text.h"
#include "output_pane.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

// A pane far longer than a screenful (the pane has no limit of its own): output still lands at
// its end, and a batch of it as it would one piece at a time.
constexpr int kLongPane = 100000;

// n characters of pane text, in lines of 80.
QString Filler(int n)
{
    QString text(n, u'x');
    for (int i = 79; i < n; i += 80)
        text[i] = u'\n';
    return text;
}

// Inserts each piece as the pane would take it on its own: at its end.
void InsertOneByOne(QPlainTextEdit& pane, const QStringList& pieces)
{
    for (const QString& piece : pieces) {
        QTextCursor cursor(pane.document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(piece);
        pane.setTextCursor(cursor);
    }
}

void PrintEach(const QStringList& pieces)
{
    for (const QString& piece : pieces)
        PrintOut(ToNarrow(piece).constData());
}

// Watches for a modal message box while the code under test runs, notes what it showed and
// closes it with its OK button.
class MessageBoxCatcher : public QObject {
public:
    MessageBoxCatcher()
    {
        connect(&timer_, &QTimer::timeout, this, &MessageBoxCatcher::Poll);
        timer_.start(10);
    }

    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool modal = false;
    QWidget* parent = nullptr;

private:
    void Poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer_.stop();
        seen = true;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        modal = box->isModal();
        parent = box->parentWidget();
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }

    QTimer timer_;
};

// The window under test and its output pane.
struct Window {
    explicit Window(const QString& workDir) : form(workDir)
    {
        form.show();
        out = form.findChild<QPlainTextEdit*>(QStringLiteral("txtOut"));
    }

    FormMain form;
    QPlainTextEdit* out = nullptr;
};

} // namespace

class ModuleHostTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void entryPrintsIntoThePane_data();
    void entryPrintsIntoThePane();
    void missingEntryShowsMessageBox_data();
    void missingEntryShowsMessageBox();
    void batchEqualsOneByOne_data();
    void batchEqualsOneByOne();
    void nestedBatchesApplyOnceAtTheOutermost();
    void missingConfigFailsAndKeepsModule();
    void unresolvedSymbolFailsToLoad();
    void releasingTwiceDoesNoHarm();
    void rebuiltModuleReplacesResidentOne();
    void releasePutsBackRedirectedStreams();
    void gbkTextUnderGbkLocale();

private:
    QString BuiltModule(const QString& module) const;
    // A new work folder holding the built module as "T.dll"; ends in "/".
    QString NewWorkDir(const QString& module);
    static void ReplaceModule(const QString& workDir, const QString& builtModule);

    QTemporaryDir root_;
    int folders_ = 0;
};

void ModuleHostTest::initTestCase()
{
    QVERIFY(root_.isValid());
    // Test names and texts are Unicode; the narrow code page is UTF-8 unless a test says otherwise.
    QVERIFY(std::setlocale(LC_ALL, "C.UTF-8"));
    if (QStandardPaths::findExecutable(QStringLiteral("g++")).isEmpty())
        QSKIP("g++ is needed to build the test modules");

    struct Build {
        QString name;
        QString source;
        QStringList defines;
    };
    const QList<Build> builds = {
        {QStringLiteral("demo"), QStringLiteral("demo.cpp"), {}},
        {QStringLiteral("no_config"), QStringLiteral("no_config.cpp"), {}},
        {QStringLiteral("unresolved"), QStringLiteral("unresolved.cpp"), {}},
        {QStringLiteral("resident_old"), QStringLiteral("resident.cpp"), {"-DGREETING=old"}},
        {QStringLiteral("resident_new"), QStringLiteral("resident.cpp"), {"-DGREETING=new"}},
        {QStringLiteral("resident_third"), QStringLiteral("resident.cpp"), {"-DGREETING=third"}},
        {QStringLiteral("redirect"), QStringLiteral("redirect.cpp"), {}},
    };
    QList<QProcess*> compilers;
    for (const Build& build : builds) {
        auto* gpp = new QProcess(this);
        gpp->setProcessChannelMode(QProcess::MergedChannels);
        gpp->start(QStringLiteral("g++"),
                   QStringList{"-std=c++20", "-shared", "-fPIC", "-fno-gnu-unique", "-O1", "-o",
                               BuiltModule(build.name),
                               QStringLiteral(VORNAK_TEST_MODULES_DIR "/") + build.source} +
                       build.defines);
        compilers.append(gpp);
    }
    for (QProcess* gpp : compilers) {
        QVERIFY(gpp->waitForFinished(120000));
        QVERIFY2(gpp->exitStatus() == QProcess::NormalExit && gpp->exitCode() == 0,
                 gpp->readAll().constData());
    }
}

QString ModuleHostTest::BuiltModule(const QString& module) const
{
    return root_.filePath(module + QStringLiteral(".so"));
}

QString ModuleHostTest::NewWorkDir(const QString& module)
{
    const QString dir = root_.filePath(QStringLiteral("work%1").arg(++folders_)) + u'/';
    QDir().mkpath(dir);
    if (!module.isEmpty())
        QFile::copy(BuiltModule(module), dir + QStringLiteral("T.dll"));
    return dir;
}

// As the link step does: the old file goes, a new one (a new inode) takes its name.
void ModuleHostTest::ReplaceModule(const QString& workDir, const QString& builtModule)
{
    QFile::remove(workDir + QStringLiteral("T.dll"));
    QFile::copy(builtModule, workDir + QStringLiteral("T.dll"));
}

void ModuleHostTest::entryPrintsIntoThePane_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("caret");

    const QString config =
        QStringLiteral("Config #1: %1 0 0 0\n").arg(reinterpret_cast<std::intptr_t>(&PrintOut));
    const QString demo = QStringLiteral("Demo1 #1: 0 0 0 0\n");
    const QString full = Filler(kLongPane + 10);
    // "Config" kept the routine it was given, once, with three zeros: the entry prints with it.
    QTest::newRow("Config got PrintOut") << "ShowConfig"
                                         << "" << config << int(config.size());
    QTest::newRow("Demo1 once with zeros") << "Demo1"
                                           << "before\n"
                                           << "before\n" + demo << int(7 + demo.size());
    QTest::newRow("a then b") << "PrintAB"
                              << "x"
                              << "xab" << 3;
    QTest::newRow("null address") << "PrintNull"
                                  << "unchanged"
                                  << "unchanged" << 9;
    QTest::newRow("long pane: at the end")
        << "Demo1" << full << full + demo << int(full.size() + demo.size());
}

void ModuleHostTest::entryPrintsIntoThePane()
{
    QFETCH(QString, entry);
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(int, caret);

    Window window(NewWorkDir(QStringLiteral("demo")));
    window.out->setPlainText(before);
    QVERIFY(window.form.LoadDLL());
    QVERIFY(window.form.hDll);
    QCOMPARE(window.out->toPlainText(), before);

    window.form.CallDLL(entry);

    QCOMPARE(window.out->toPlainText(), after);
    QCOMPARE(window.out->textCursor().position(), caret);
    QVERIFY(!window.out->textCursor().hasSelection());
}

void ModuleHostTest::missingEntryShowsMessageBox_data()
{
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("func");
    QTest::addColumn<QString>("shown");

    QTest::newRow("trailing blank") << true << "Demo1 "
                                    << "函数 “Demo1 ” 未定义";
    QTest::newRow("other case") << true << "demo1"
                                << "函数 “demo1” 未定义";
    QTest::newRow("empty name") << true << ""
                                << "函数 “” 未定义";
    QTest::newRow("no module loaded") << false << "Demo1"
                                      << "函数 “Demo1” 未定义";
    QTest::newRow("C library's puts") << true << "puts"
                                      << "函数 “puts” 未定义";
    QTest::newRow("C library's getpid") << true << "getpid"
                                        << "函数 “getpid” 未定义";
    QTest::newRow("NUL inside") << true << QStringLiteral("Demo1\0x")
                                << QStringLiteral("函数 “Demo1\0x” 未定义");
    QTest::newRow("Chinese name") << true << "演示"
                                  << "函数 “演示” 未定义";
}

void ModuleHostTest::missingEntryShowsMessageBox()
{
    QFETCH(bool, loaded);
    QFETCH(QString, func);
    QFETCH(QString, shown);

    Window window(NewWorkDir(QStringLiteral("demo")));
    QVERIFY(QTest::qWaitForWindowExposed(&window.form));
    if (loaded)
        QVERIFY(window.form.LoadDLL());
    window.out->setPlainText(QStringLiteral("kept"));

    MessageBoxCatcher box;
    window.form.CallDLL(func);

    QVERIFY(box.seen);
    QCOMPARE(box.text, shown);
    QCOMPARE(box.title, QStringLiteral("Vornak"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box.modal);
    QCOMPARE(box.parent, &window.form);
    QCOMPARE(window.out->toPlainText(), QStringLiteral("kept"));
}

void ModuleHostTest::batchEqualsOneByOne_data()
{
    QTest::addColumn<int>("paneLength");
    QTest::addColumn<QStringList>("pieces");

    const QStringList lines = {"one\n", "two\n", "three\n"};
    QTest::newRow("empty pane") << 0 << lines;
    QTest::newRow("long pane ending mid-line, short pieces")
        << kLongPane - 10 << QStringList{"12345", "6789012345", "front", "more"};
    QTest::newRow("long pane, a piece then single characters")
        << kLongPane - 10 << QStringList{"0123456789", "A", "B"};
    QTest::newRow("long pane, one long piece")
        << kLongPane - 10 << QStringList{Filler(300), "tail"};
    QTest::newRow("long pane ending a line") << kLongPane << lines;
    QTest::newRow("long pane ending mid-line") << kLongPane + 10 << lines;
    QTest::newRow("long pane, CR LF pieces")
        << kLongPane - 5 << QStringList{"ab\r\ncd", "e\rf", "\r\n", "g\r", "\nh", "i\r\n\r\n"};
    QTest::newRow("long pane, CR LF split between pieces")
        << kLongPane + 10 << QStringList{"a\r\n", "b\r", "\nc"};
    QTest::newRow("empty pieces") << kLongPane - 2 << QStringList{"", "a", "", "bc", ""};
    QTest::newRow("pair of surrogates in pieces")
        << kLongPane - 1 << QStringList{QStringLiteral("😀"), QStringLiteral("汉字😀")};
}

void ModuleHostTest::batchEqualsOneByOne()
{
    QFETCH(int, paneLength);
    QFETCH(QStringList, pieces);

    QPlainTextEdit reference;
    reference.setPlainText(Filler(paneLength));
    InsertOneByOne(reference, pieces);

    Window window(NewWorkDir(QString()));
    for (const bool batched : {true, false}) {
        window.out->setPlainText(Filler(paneLength));
        if (batched) {
            OutputBatch batch;
            PrintEach(pieces);
        } else {
            PrintEach(pieces);
        }
        QCOMPARE(window.out->toPlainText(), reference.toPlainText());
        QCOMPARE(window.out->textCursor().position(), reference.textCursor().position());
        QVERIFY(!window.out->textCursor().hasSelection());
    }
}

void ModuleHostTest::nestedBatchesApplyOnceAtTheOutermost()
{
    Window window(NewWorkDir(QString()));
    window.out->setPlainText(QStringLiteral("start "));
    {
        OutputBatch outer;
        {
            OutputBatch inner;
            PrintOut("inner ");
        }
        QCOMPARE(window.out->toPlainText(), QStringLiteral("start "));
        PrintOut("outer");
    }
    QCOMPARE(window.out->toPlainText(), QStringLiteral("start inner outer"));
}

void ModuleHostTest::missingConfigFailsAndKeepsModule()
{
    const QString workDir = NewWorkDir(QStringLiteral("no_config"));
    const QByteArray path = ToNarrow(workDir + QStringLiteral("T.dll"));
    Window window(workDir);

    QVERIFY(!window.form.LoadDLL());
    QVERIFY(window.form.hDll);
    QVERIFY(IsModuleResident(path));

    window.form.FreeDLL();
    QVERIFY(!window.form.hDll);
    QVERIFY(!IsModuleResident(path));
}

void ModuleHostTest::unresolvedSymbolFailsToLoad()
{
    Window window(NewWorkDir(QStringLiteral("unresolved")));
    QVERIFY(!window.form.LoadDLL());
    QVERIFY(!window.form.hDll);
    // The status line says why: the loader names the symbol.
    const QString status = window.form.findChild<QLabel*>("lalStat")->text();
    QVERIFY2(status.startsWith("加载模块失败！") && status.contains("vornak_test_nowhere_defined"),
             qPrintable(status));
}

void ModuleHostTest::releasingTwiceDoesNoHarm()
{
    Window window(NewWorkDir(QStringLiteral("demo")));
    window.form.FreeDLL(); // nothing loaded yet
    QVERIFY(window.form.LoadDLL());
    window.form.CallDLL(QStringLiteral("Demo1"));

    window.form.FreeDLL();
    window.form.FreeDLL();
    QVERIFY(!window.form.hDll);

    // Loaded afresh: the module's state starts over.
    QVERIFY(window.form.LoadDLL());
    window.form.CallDLL(QStringLiteral("Demo1"));
    const QString demo = QStringLiteral("Demo1 #1: 0 0 0 0\n");
    QCOMPARE(window.out->toPlainText(), demo + demo);
}

void ModuleHostTest::rebuiltModuleReplacesResidentOne()
{
    const QString workDir = NewWorkDir(QStringLiteral("resident_old"));
    Window window(workDir);
    QVERIFY(window.form.LoadDLL());
    window.form.CallDLL(QStringLiteral("Demo1"));
    const QByteArray loadedFrom = ModulePath(window.form.hDll);
    window.form.FreeDLL();
    QVERIFY2(IsModuleResident(loadedFrom), "the module should have stayed in memory");

    ReplaceModule(workDir, BuiltModule(QStringLiteral("resident_new")));
    QVERIFY(window.form.LoadDLL());
    window.form.CallDLL(QStringLiteral("Demo1"));
    window.form.FreeDLL();

    ReplaceModule(workDir, BuiltModule(QStringLiteral("resident_third")));
    QVERIFY(window.form.LoadDLL());
    window.form.CallDLL(QStringLiteral("Demo1"));
    window.form.FreeDLL();

    QCOMPARE(window.out->toPlainText(), QStringLiteral("old\nnew\nthird\n"));
    // The fresh copies are gone again.
    QCOMPARE(QDir(workDir).entryList({QStringLiteral(".T.*")}, QDir::Files | QDir::Hidden),
             QStringList());
}

void ModuleHostTest::releasePutsBackRedirectedStreams()
{
    std::streambuf* const out = std::cout.rdbuf();
    std::streambuf* const err = std::cerr.rdbuf();
    std::streambuf* const log = std::clog.rdbuf();
    std::FILE* const cStdout = stdout;
    Window window(NewWorkDir(QStringLiteral("redirect")));

    QVERIFY(window.form.LoadDLL());
    const QByteArray loadedFrom = ModulePath(window.form.hDll);
    const bool redirected = std::cout.rdbuf() != out && std::cerr.rdbuf() != err &&
                            std::clog.rdbuf() != log && stdout != cStdout;
    window.form.FreeDLL();

    QVERIFY2(redirected, "the module should have redirected the streams");
    QVERIFY2(IsModuleResident(loadedFrom), "the module should have stayed in memory");
    QCOMPARE(std::cout.rdbuf(), out);
    QCOMPARE(std::cerr.rdbuf(), err);
    QCOMPARE(std::clog.rdbuf(), log);
    QCOMPARE(stdout, cStdout);
}

void ModuleHostTest::gbkTextUnderGbkLocale()
{
    const Utf8LocaleAtExit backToUtf8;
    QString whyNot;
    if (!UseGbkLocale(&whyNot))
        QSKIP(qPrintable(whyNot));
    QCOMPARE(NarrowCodeset(), QByteArray("GBK"));

    Window window(NewWorkDir(QStringLiteral("demo")));
    QVERIFY(window.form.LoadDLL());
    window.form.CallDLL(QStringLiteral("PrintGbk"));
    QCOMPARE(window.out->toPlainText(), QStringLiteral("你好\n"));

    // GBK has the Chinese characters but no emoji, which comes back as "?".
    MessageBoxCatcher box;
    window.form.CallDLL(QStringLiteral("演示😀"));
    QVERIFY(box.seen);
    QCOMPARE(box.text, QStringLiteral("函数 “演示?” 未定义"));
}

QTEST_MAIN(ModuleHostTest)
#include "tst_module_host.moc"
