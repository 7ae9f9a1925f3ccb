#include "code_editor.h"
#include "cpp_highlighter.h"
#include "main_window.h"
#include "output_pane.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <memory>

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();

    void controlsHaveTheirTextsAndPlaces_data();
    void controlsHaveTheirTextsAndPlaces();
    void frameArrayHoldsBothPanes();
    void windowIsFixedAndCentred();
    void panesWrapWithoutScrollBars();
    void editorAndStatusLook();
    void editorHasFocusOnOpen();
    void tabOrderRunsThroughTheFourControls();
    void tabInsertsSpacesAndCtrlTabLeavesEditor();
    void everyControlHasAnAccessibleName();
    void longStatusTextIsCutOffNotLost();
    void statusTextCanBeSelectedAndCopied();
    void outputPaneUsesTheEditorsFixedPitchFontAndFollowsOutput();
    void runKeysRunOnceAndLeaveTheText_data();
    void runKeysRunOnceAndLeaveTheText();

    void startUp_data();
    void startUp();
    void startUpWithoutToolchainFolder();
    void editorChangesSetCodeChanged_data();
    void editorChangesSetCodeChanged();
    void typingTheFunctionNameIsNoChange();
    void colouringRestoredCodeIsNoChange();

private:
    std::unique_ptr<FormMain> OpenWindow();
    template <typename T> T* Control(const char* name)
    {
        T* control = window->findChild<T*>(QString::fromLatin1(name));
        if (!control)
            qFatal("no control %s", name);
        return control;
    }

    std::unique_ptr<QTemporaryDir> folder;
    QString workDir;
    std::unique_ptr<FormMain> window;
};

void TestMainWindow::init()
{
    window.reset();
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    workDir = folder->path() + "/";
}

std::unique_ptr<FormMain> TestMainWindow::OpenWindow()
{
    auto form = std::make_unique<FormMain>(workDir);
    form->show();
    form->activateWindow();
    if (!QTest::qWaitForWindowActive(form.get()))
        qWarning("window did not become active");
    return form;
}

void TestMainWindow::controlsHaveTheirTextsAndPlaces_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("txtCode") << "txtCode"
                             << "" << QRect(8, 18, 439, 401);
    QTest::newRow("txtOut") << "txtOut"
                            << "" << QRect(8, 18, 419, 401);
    QTest::newRow("Label1") << "Label1"
                            << "选择要运行的函数：" << QRect(8, 448, 113, 19);
    QTest::newRow("txtFunc") << "txtFunc"
                             << "Demo1" << QRect(122, 446, 193, 23);
    QTest::newRow("cmdRun") << "cmdRun"
                            << "运行！" << QRect(322, 446, 133, 23);
    QTest::newRow("lalStat") << "lalStat"
                             << "" << QRect(474, 446, 435, 27);
}

void TestMainWindow::controlsHaveTheirTextsAndPlaces()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    window = OpenWindow();
    QWidget* control = window->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
    QString actual;
    if (auto* edit = qobject_cast<QPlainTextEdit*>(control))
        actual = edit->toPlainText();
    else if (auto* line = qobject_cast<QLineEdit*>(control))
        actual = line->text();
    else if (auto* button = qobject_cast<QPushButton*>(control))
        actual = button->text();
    else if (auto* label = qobject_cast<QLabel*>(control))
        actual = label->text();
    QCOMPARE(actual, text);
}

void TestMainWindow::frameArrayHoldsBothPanes()
{
    window = OpenWindow();
    const auto frames = window->findChildren<QGroupBox*>("Frame1");
    QCOMPARE(frames.size(), 2);
    for (QGroupBox* frame : frames) {
        const int index = frame->property("index").toInt();
        QVERIFY(index == 1 || index == 2);
        if (index == 2) {
            QCOMPARE(frame->title(), QString("脚本"));
            QCOMPARE(frame->geometry(), QRect(8, 10, 457, 425));
            QCOMPARE(Control<QPlainTextEdit>("txtCode")->parentWidget(), frame);
        } else {
            QCOMPARE(frame->title(), QString("输出"));
            QCOMPARE(frame->geometry(), QRect(474, 10, 435, 425));
            QCOMPARE(Control<QPlainTextEdit>("txtOut")->parentWidget(), frame);
        }
    }
}

void TestMainWindow::windowIsFixedAndCentred()
{
    window = OpenWindow();
    QCOMPARE(window->windowTitle(), QString("Vornak"));
    QCOMPARE(window->size(), QSize(919, 480));
    QCOMPARE(window->minimumSize(), QSize(919, 480));
    QCOMPARE(window->maximumSize(), QSize(919, 480));
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    const QPoint centre = window->screen()->availableGeometry().center();
    // Centred up to the frame's margins, which the window system adds.
    QVERIFY2((window->geometry().center() - centre).manhattanLength() <= 40,
             qPrintable(QString("window centre %1,%2")
                            .arg(window->geometry().center().x())
                            .arg(window->geometry().center().y())));
}

void TestMainWindow::panesWrapWithoutScrollBars()
{
    window = OpenWindow();
    for (const char* name : {"txtCode", "txtOut"}) {
        auto* pane = Control<QPlainTextEdit>(name);
        QCOMPARE(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(pane->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(pane->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(!pane->isReadOnly());
    }
    // A line far longer than the pane is shown on several lines.
    auto* code = Control<QPlainTextEdit>("txtCode");
    code->setPlainText(QString(400, 'x'));
    QTRY_VERIFY(code->document()->firstBlock().layout()->lineCount() > 1);
}

void TestMainWindow::editorAndStatusLook()
{
    window = OpenWindow();
    const QFont font = Control<QPlainTextEdit>("txtCode")->font();
    QCOMPARE(font.family(), QString("Courier New"));
    QCOMPARE(font.pointSize(), 9);
    QVERIFY(!font.bold() && !font.italic());
    QVERIFY(QFontInfo(font).fixedPitch());
    QCOMPARE(Control<QLabel>("lalStat")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

void TestMainWindow::editorHasFocusOnOpen()
{
    window = OpenWindow();
    QTRY_COMPARE(QApplication::focusWidget(), Control<QWidget>("txtCode"));
}

void TestMainWindow::tabOrderRunsThroughTheFourControls()
{
    window = OpenWindow();
    auto* func = Control<QLineEdit>("txtFunc");
    func->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), func);
    const QList<QWidget*> expected = {Control<QWidget>("cmdRun"), Control<QWidget>("txtOut"),
                                      Control<QWidget>("txtCode")};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    for (const char* passive : {"Label1", "lalStat"})
        QCOMPARE(Control<QWidget>(passive)->focusPolicy(), Qt::NoFocus);
}

void TestMainWindow::tabInsertsSpacesAndCtrlTabLeavesEditor()
{
    window = OpenWindow();
    auto* code = Control<QPlainTextEdit>("txtCode");
    code->setFocus();
    QTest::keyClick(code, Qt::Key_Tab);
    QTest::keyClicks(code, "x");
    QCOMPARE(code->toPlainText(), QString("    x"));
    QCOMPARE(QApplication::focusWidget(), code);
    QTest::keyClick(code, Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), Control<QWidget>("txtFunc"));
    code->setFocus();
    QTest::keyClick(code, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), Control<QWidget>("txtOut"));
}

void TestMainWindow::everyControlHasAnAccessibleName()
{
    window = OpenWindow();
    auto nameOf = [](QWidget* widget) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
        return face ? face->text(QAccessible::Name) : QString();
    };
    QCOMPARE(nameOf(Control<QWidget>("txtCode")), QString("脚本"));
    QCOMPARE(nameOf(Control<QWidget>("txtOut")), QString("输出"));
    QCOMPARE(nameOf(Control<QWidget>("txtFunc")), QString("选择要运行的函数："));
    QCOMPARE(nameOf(Control<QWidget>("cmdRun")), QString("运行！"));
    QCOMPARE(nameOf(Control<QWidget>("Label1")), QString("选择要运行的函数："));
    auto* status = Control<QLabel>("lalStat");
    status->setText("语法错误： x");
    QCOMPARE(nameOf(status), QString("语法错误： x"));
}

void TestMainWindow::longStatusTextIsCutOffNotLost()
{
    window = OpenWindow();
    auto* status = Control<QLabel>("lalStat");
    const QString start = "语法错误： expected ';' before '}' token, and then some more words ";
    status->setText(start.repeated(3));
    const QImage shortText = status->grab().toImage();
    const QString huge = start.repeated(20000); // over a megabyte
    status->setText(huge);
    QCOMPARE(status->text(), huge);
    QCOMPARE(status->grab().toImage(), shortText); // the same two lines show
}

void TestMainWindow::statusTextCanBeSelectedAndCopied()
{
    window = OpenWindow();
    auto* status = Control<QLabel>("lalStat");
    const QString message = "语法错误： expected ';' before '}' token";
    status->setText(message);
    const int y = status->contentsRect().top() + 5;
    QTest::mousePress(status, Qt::LeftButton, {}, QPoint(status->contentsRect().left(), y));
    QTest::mouseRelease(status, Qt::LeftButton, {}, QPoint(status->width() / 2, y));
    // Selecting never takes the focus from the editor.
    QCOMPARE(QApplication::focusWidget(), Control<QWidget>("txtCode"));
    QApplication::clipboard()->clear();
    QString copied;
    QTimer::singleShot(0, this, [&copied] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        menu->actions().constFirst()->trigger();
        copied = QApplication::clipboard()->text();
        menu->close();
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(10, y),
                            status->mapToGlobal(QPoint(10, y)));
    QApplication::sendEvent(status, &click);
    // A leading piece of the message, not all of it.
    QVERIFY2(copied.size() > 3 && copied.size() < message.size(), qPrintable(copied));
    QVERIFY(message.startsWith(copied));
}

void TestMainWindow::outputPaneUsesTheEditorsFixedPitchFontAndFollowsOutput()
{
    window = OpenWindow();
    auto* out = Control<QPlainTextEdit>("txtOut");
    QCOMPARE(out->font(), Control<QPlainTextEdit>("txtCode")->font());
    QVERIFY(QFontInfo(out->font()).fixedPitch());
    // "%5d" columns line up.
    const QFontMetrics metrics(out->font());
    QCOMPARE(metrics.horizontalAdvance("    1"), metrics.horizontalAdvance("12345"));
    for (int i = 0; i < 200; ++i)
        WriteOutput(QString("line %1\n").arg(i));
    QVERIFY(out->cursorForPosition(QPoint(0, 0)).blockNumber() > 0); // scrolled
    QVERIFY(out->viewport()->rect().contains(out->cursorRect()));
    QCOMPARE(out->textCursor().block().previous().text(), QString("line 199"));
}

void TestMainWindow::runKeysRunOnceAndLeaveTheText_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("F5 in the editor") << "txtCode" << int(Qt::Key_F5) << int(Qt::NoModifier);
    QTest::newRow("Ctrl+Enter in the editor")
        << "txtCode" << int(Qt::Key_Return) << int(Qt::ControlModifier);
    QTest::newRow("Ctrl+keypad Enter in the editor")
        << "txtCode" << int(Qt::Key_Enter) << int(Qt::ControlModifier | Qt::KeypadModifier);
    QTest::newRow("F5 in the output pane") << "txtOut" << int(Qt::Key_F5) << int(Qt::NoModifier);
    QTest::newRow("Ctrl+Enter on the button")
        << "cmdRun" << int(Qt::Key_Return) << int(Qt::ControlModifier);
    QTest::newRow("Enter in the name box")
        << "txtFunc" << int(Qt::Key_Return) << int(Qt::NoModifier);
    QTest::newRow("keypad Enter in the name box")
        << "txtFunc" << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
    QTest::newRow("Ctrl+Enter in the name box")
        << "txtFunc" << int(Qt::Key_Return) << int(Qt::ControlModifier);
}

void TestMainWindow::runKeysRunOnceAndLeaveTheText()
{
    QFETCH(QString, control);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    window = OpenWindow();
    auto* code = Control<QPlainTextEdit>("txtCode");
    code->setPlainText("void Demo1()\n{\n}");
    code->moveCursor(QTextCursor::End);
    // Nothing is built: a Run calls the name at once, and with no module that brings up the
    // message box, once per Run.
    window->CodeChanged = false;
    QStringList boxes;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&boxes] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->close();
        }
    });
    closer.start(10);
    QWidget* target = Control<QWidget>(qPrintable(control));
    target->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), target);
    QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTest::qWait(100);
    QCOMPARE(boxes, QStringList{"函数 “Demo1” 未定义"});
    QCOMPARE(code->toPlainText(), QString("void Demo1()\n{\n}"));
    QCOMPARE(Control<QLineEdit>("txtFunc")->text(), QString("Demo1"));
    const QString tip = Control<QPushButton>("cmdRun")->toolTip();
    QVERIFY2(tip.contains("F5") && tip.contains("Ctrl+Enter"), qPrintable(tip));
}

void TestMainWindow::startUp_data()
{
    QTest::addColumn<bool>("hasSource");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("editor");
    QTest::addColumn<bool>("codeChanged");
    QTest::newRow("no T.cpp") << false << QByteArray() << "" << false;
    QTest::newRow("saved code") << true
                                << QByteArray("#include \"stdafx.h\"\r\n#include \"T.h\"\r\n"
                                              "void Demo1()\r\n{\r\n}\r\n")
                                << "void Demo1()\n{\n}"
                                << true;
    QTest::newRow("empty saved code")
        << true << QByteArray("#include \"stdafx.h\"\r\n#include \"T.h\"\r\n") << "" << false;
    QTest::newRow("too short to restore") << true << QByteArray("junk\r\n") << "" << false;
}

void TestMainWindow::startUp()
{
    QFETCH(bool, hasSource);
    QFETCH(QByteArray, source);
    QFETCH(QString, editor);
    QFETCH(bool, codeChanged);
    if (hasSource) {
        QFile file(workDir + "T.cpp");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(source);
    }
    window = OpenWindow();
    QCOMPARE(Control<QPlainTextEdit>("txtCode")->toPlainText(), editor);
    QCOMPARE(window->CodeChanged, codeChanged);
    QCOMPARE(window->hDll, nullptr);
    QCOMPARE(Control<QPlainTextEdit>("txtOut")->toPlainText(), QString());
    QCOMPARE(Control<QLabel>("lalStat")->text(), QString());
    QCOMPARE(window->WorkDir, workDir);
    // Nothing else is written at start-up: only the empty T.cpp when there was none.
    QFile file(workDir + "T.cpp");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), source);
    QCOMPARE(QDir(workDir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"T.cpp"});
}

void TestMainWindow::startUpWithoutToolchainFolder()
{
    workDir = folder->path() + "/cl/";
    window = OpenWindow();
    QCOMPARE(Control<QPlainTextEdit>("txtCode")->toPlainText(), QString());
    QVERIFY(!window->CodeChanged);
    QVERIFY(!QFile::exists(workDir));
}

void TestMainWindow::editorChangesSetCodeChanged_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("typed") << "typed";
    QTest::newRow("pasted") << "pasted";
    QTest::newRow("set by the program") << "set";
    QTest::newRow("deleted") << "deleted";
}

void TestMainWindow::editorChangesSetCodeChanged()
{
    QFETCH(QString, how);
    QFile file(workDir + "T.cpp");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("1\r\n2\r\nint x;");
    file.close();
    window = OpenWindow();
    window->CodeChanged = false; // as after a successful build
    auto* code = Control<QPlainTextEdit>("txtCode");
    code->setFocus();
    if (how == "typed") {
        QTest::keyClicks(code, "y");
    } else if (how == "pasted") {
        QApplication::clipboard()->setText("\nint y;");
        code->moveCursor(QTextCursor::End);
        QTest::keyClick(code, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(code->toPlainText(), QString("int x;\nint y;"));
    } else if (how == "set") {
        code->setPlainText("int x;"); // the same text again still counts
    } else {
        code->moveCursor(QTextCursor::End);
        QTest::keyClick(code, Qt::Key_Backspace);
    }
    QVERIFY(window->CodeChanged);
}

void TestMainWindow::typingTheFunctionNameIsNoChange()
{
    window = OpenWindow();
    QVERIFY(!window->CodeChanged);
    auto* func = Control<QLineEdit>("txtFunc");
    func->selectAll();
    QTest::keyClicks(func, "Demo2");
    QCOMPARE(func->text(), QString("Demo2"));
    QVERIFY(!window->CodeChanged);
}

void TestMainWindow::colouringRestoredCodeIsNoChange()
{
    // Far more lines than are coloured at once: the rest are coloured later, in slices.
    QByteArray source = "#include \"stdafx.h\"\r\n#include \"T.h\"\r\n";
    for (int i = 0; i < 20000; ++i)
        source += "int v" + QByteArray::number(i) + " = 1; // value\r\n";
    QFile file(workDir + "T.cpp");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(source);
    file.close();
    window = OpenWindow();
    QVERIFY(window->CodeChanged);
    window->CodeChanged = false; // as after a successful build
    auto* code = qobject_cast<CodeEditor*>(Control<QPlainTextEdit>("txtCode"));
    QVERIFY(code);
    code->moveCursor(QTextCursor::End); // the view goes down: colours follow, in slices
    QVERIFY(code->Highlighter()->IsColouring());
    QTRY_VERIFY_WITH_TIMEOUT(!code->Highlighter()->IsColouring(), 30000);
    const QTextBlock last = code->document()->lastBlock().previous();
    QVERIFY(!last.layout()->formats().isEmpty()); // coloured to the end
    QVERIFY(!window->CodeChanged);
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
