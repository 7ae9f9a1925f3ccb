#include "code_editor.h"
#include "cpp_highlighter.h"
#include "main_window.h"
#include "output_pane.h"
#include "qt_translations.h"
#include "status_line.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QGroupBox>
#include <QHelpEvent>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QToolTip>
#include <memory>

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();

    void controlsHaveTheirTextsAndPlaces_data();
    void controlsHaveTheirTextsAndPlaces();
    void frameArrayHoldsBothPanes();
    void windowOpensCentredAtItsSizeAndGrows();
    void panesScrollAndOutputKeepsLongLines();
    void editorAndStatusLook();
    void editorHasFocusOnOpen();
    void tabOrderRunsThroughTheFourControls();
    void tabInsertsSpacesAndCtrlTabLeavesEditor();
    void everyControlHasAnAccessibleName();
    void longStatusTextIsCutOffNotLost();
    void cutStatusTextIsElidedAndWholeOnHover();
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

    void closingSavesWhatWasTypedAndStartRestoresIt();
    void closingWithoutAnEditWritesNothing();
    void ctrlSSavesWithoutBuilding();
    void failedSaveOnCloseAsksFirst();
    void findFieldFindsAndWrapsAround();
    void goToLinePutsTheCaretAtTheLineStart();
    void fontSizeKeysChangeBothPanes();
    void outputMenuClearsThePane();
    void menusReadInChineseWithQtsTranslations();

private:
    std::unique_ptr<FormMain> OpenWindow();
    // Where a control lies, in the window's coordinates.
    QRect InWindow(const QWidget* control) const
    {
        return QRect(control->mapTo(window.get(), QPoint(0, 0)), control->size());
    }
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
    QTest::newRow("txtCode") << "txtCode"
                             << "";
    QTest::newRow("txtOut") << "txtOut"
                            << "";
    QTest::newRow("Label1") << "Label1"
                            << "选择要运行的函数：";
    QTest::newRow("txtFunc") << "txtFunc"
                             << "Demo1";
    QTest::newRow("cmdRun") << "cmdRun"
                            << "运行！";
    QTest::newRow("lalStat") << "lalStat"
                             << "";
}

void TestMainWindow::controlsHaveTheirTextsAndPlaces()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    window = OpenWindow();
    QWidget* control = window->findChild<QWidget*>(name);
    QVERIFY(control);
    // What a user sees: the control whole inside the window, and on no other control.
    QVERIFY(control->isVisible());
    const QRect place = InWindow(control);
    QVERIFY2(window->rect().contains(place), qPrintable(name));
    for (const char* other : {"txtCode", "txtOut", "Label1", "txtFunc", "cmdRun", "lalStat"}) {
        if (name != QLatin1String(other))
            QVERIFY2(!place.intersects(InWindow(Control<QWidget>(other))),
                     qPrintable(name + " overlaps " + other));
    }
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
    QGroupBox* code = nullptr;
    QGroupBox* out = nullptr;
    for (QGroupBox* frame : frames) {
        const int index = frame->property("index").toInt();
        QVERIFY(index == 1 || index == 2);
        if (index == 2) {
            QCOMPARE(frame->title(), QString("脚本"));
            QCOMPARE(Control<QPlainTextEdit>("txtCode")->parentWidget(), frame);
            code = frame;
        } else {
            QCOMPARE(frame->title(), QString("输出"));
            QCOMPARE(Control<QPlainTextEdit>("txtOut")->parentWidget(), frame);
            out = frame;
        }
    }
    QVERIFY(code && out);
    // Side by side, the code on the left, each whole inside the window, neither on the other.
    const QRect left = InWindow(code);
    const QRect right = InWindow(out);
    QVERIFY(window->rect().contains(left) && window->rect().contains(right));
    QVERIFY(left.right() < right.left());
    QCOMPARE(left.top(), right.top());
    // Its text box inside each frame, below the frame's title.
    for (QGroupBox* frame : frames) {
        const QRect box = frame->findChild<QPlainTextEdit*>()->geometry();
        QVERIFY(frame->rect().contains(box));
        QVERIFY(box.top() >= frame->fontMetrics().height() / 2);
    }
}

void TestMainWindow::windowOpensCentredAtItsSizeAndGrows()
{
    window = OpenWindow();
    QCOMPARE(window->windowTitle(), QString("Vornak"));
    QCOMPARE(window->size(), QSize(919, 480));
    QCOMPARE(window->minimumSize(), QSize(919, 480));
    QVERIFY(window->maximumWidth() > 919 && window->maximumHeight() > 480);
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(flags & Qt::WindowMaximizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    const QPoint centre = window->screen()->availableGeometry().center();
    // Centred up to the frame's margins, which the window system adds.
    QVERIFY2((window->geometry().center() - centre).manhattanLength() <= 40,
             qPrintable(QString("window centre %1,%2")
                            .arg(window->geometry().center().x())
                            .arg(window->geometry().center().y())));

    auto* code = Control<QWidget>("txtCode");
    auto* out = Control<QWidget>("txtOut");
    QWidget* left = code->parentWidget();
    QWidget* right = out->parentWidget();
    const QRect leftAtStart = left->geometry();
    const QRect rightAtStart = right->geometry();
    const QRect codeAtStart = code->geometry();
    const QRect outAtStart = out->geometry();
    const QRect funcAtStart = Control<QWidget>("txtFunc")->geometry();
    const QRect runAtStart = Control<QWidget>("cmdRun")->geometry();
    window->resize(919 + 400, 480 + 300);
    QTRY_COMPARE(window->size(), QSize(1319, 780));
    // The panes share the width and take the height; the gap between them stays.
    QCOMPARE(left->width() + right->width(), leftAtStart.width() + rightAtStart.width() + 400);
    QVERIFY(left->width() >= leftAtStart.width() + 150 &&
            right->width() >= rightAtStart.width() + 150);
    QCOMPARE(right->x() - left->geometry().right(), rightAtStart.x() - leftAtStart.right());
    QCOMPARE(left->height(), leftAtStart.height() + 300);
    QCOMPARE(right->height(), rightAtStart.height() + 300);
    QCOMPARE(right->geometry().right(), window->width() - 1 - (918 - rightAtStart.right()));
    // Each text box fills its frame as before.
    QCOMPARE(left->width() - code->width(), leftAtStart.width() - codeAtStart.width());
    QCOMPARE(right->height() - out->height(), rightAtStart.height() - outAtStart.height());
    // The row below stays below the panes, at its size; the status line under the output.
    QCOMPARE(Control<QWidget>("txtFunc")->geometry(), funcAtStart.translated(0, 300));
    QCOMPARE(Control<QWidget>("cmdRun")->geometry(), runAtStart.translated(0, 300));
    const QRect status = Control<QWidget>("lalStat")->geometry();
    QCOMPARE(status.left(), right->x());
    QCOMPARE(status.width(), right->width());
    QVERIFY(status.top() > right->geometry().bottom());
    QVERIFY(status.bottom() < window->height());

    // It never gets smaller than it started, and back at that size all is as it was.
    window->resize(600, 300);
    QTRY_COMPARE(window->size(), QSize(919, 480));
    QCOMPARE(left->geometry(), leftAtStart);
    QCOMPARE(right->geometry(), rightAtStart);
    QCOMPARE(code->geometry(), codeAtStart);
}

void TestMainWindow::panesScrollAndOutputKeepsLongLines()
{
    window = OpenWindow();
    auto* code = Control<QPlainTextEdit>("txtCode");
    auto* out = Control<QPlainTextEdit>("txtOut");
    for (QPlainTextEdit* pane : {code, out}) {
        QVERIFY(!pane->isReadOnly());
        QVERIFY(!pane->verticalScrollBar()->isVisible()); // nothing to scroll yet
    }
    // The editor wraps a long line; a full editor scrolls up and down.
    code->setPlainText(QString(400, 'x'));
    QTRY_VERIFY(code->document()->firstBlock().layout()->lineCount() > 1);
    QVERIFY(!code->horizontalScrollBar()->isVisible());
    code->setPlainText(QString("int x;\n").repeated(200));
    QTRY_VERIFY(code->verticalScrollBar()->isVisible());

    // Printed lines of 200 characters stay one line each, with a scroll bar to reach their end.
    QString row = "|";
    for (int column = 0; column < 20; ++column)
        row += QString("%1").arg(column, 9) + "|";
    QCOMPARE(row.size(), 201);
    for (int i = 0; i < 100; ++i)
        WriteOutput(row + "\n");
    QTRY_VERIFY(out->horizontalScrollBar()->isVisible());
    QVERIFY(out->verticalScrollBar()->isVisible());
    for (QTextBlock block = out->document()->firstBlock(); block.isValid(); block = block.next())
        QVERIFY(block.layout()->lineCount() <= 1);
    QVERIFY(out->horizontalScrollBar()->maximum() > 0);
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
    // Shift+Tab takes the line four spaces out and stays in the editor.
    code->setFocus();
    QTest::keyClick(code, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), code);
    QCOMPARE(code->toPlainText(), QString("x"));
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

void TestMainWindow::cutStatusTextIsElidedAndWholeOnHover()
{
    window = OpenWindow();
    auto* status = Control<StatusLine>("lalStat");
    auto hover = [status] {
        QToolTip::hideText();
        (void)QTest::qWaitFor([] { return !QToolTip::isVisible(); });
        const QPoint at(10, 5);
        QHelpEvent help(QEvent::ToolTip, at, status->mapToGlobal(at));
        QApplication::sendEvent(status, &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    status->setText("语法错误： expected ';'");
    QVERIFY(!status->IsCut());
    QCOMPARE(hover(), QString());

    const QString message = "语法错误： no matching function for call to 'f(std::vector<int>&)', "
                            "candidates are f(int), f(double), f(const char*) and f(long) "
                            "and then the last words of the message";
    status->setText(message);
    QVERIFY(status->IsCut());
    QVERIFY2(hover().contains("the last words of the message"), qPrintable(hover()));

    QApplication::clipboard()->clear();
    QTimer::singleShot(0, this, [] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            menu->actions().constLast()->trigger(); // 复制全部
            menu->close();
        }
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(10, 5),
                            status->mapToGlobal(QPoint(10, 5)));
    QApplication::sendEvent(status, &click);
    QCOMPARE(QApplication::clipboard()->text(), message);
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
                                << "void Demo1()\n{\n}" << true;
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

void TestMainWindow::closingSavesWhatWasTypedAndStartRestoresIt()
{
    // Typed and never run: after a close the code is in "T.cpp", and the next start shows it,
    // unchanged however often that is done.
    QString expected;
    for (int cycle = 0; cycle < 3; ++cycle) {
        window = OpenWindow();
        auto* code = Control<QPlainTextEdit>("txtCode");
        QCOMPARE(code->toPlainText(), expected);
        code->moveCursor(QTextCursor::End);
        QTest::keyClicks(code, QString("int v%1;").arg(cycle));
        QTest::keyClick(code, Qt::Key_Return);
        expected = code->toPlainText();
        QVERIFY(window->close());
        QVERIFY(!window->isVisible());
        window.reset();
    }
    QCOMPARE(expected, QString("int v0;\nint v1;\nint v2;\n"));
    window = OpenWindow();
    QCOMPARE(Control<QPlainTextEdit>("txtCode")->toPlainText(), expected);
    QVERIFY(window->CodeChanged); // the next Run builds
}

void TestMainWindow::closingWithoutAnEditWritesNothing()
{
    // Written by hand, without the final line break that a save would add.
    const QByteArray source = "// mine\r\n\r\nint x;";
    QFile file(workDir + "T.cpp");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(source);
    file.close();
    window = OpenWindow();
    QVERIFY(window->close());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), source);
    window.reset();

    // Nothing restored and nothing typed: no "T.cpp" is made where there was no folder.
    workDir = folder->path() + "/none/";
    window = OpenWindow();
    QVERIFY(window->close());
    QVERIFY(!QFile::exists(workDir));
}

void TestMainWindow::ctrlSSavesWithoutBuilding()
{
    window = OpenWindow();
    auto* code = Control<QPlainTextEdit>("txtCode");
    QTest::keyClicks(code, "void Demo1() {}");
    QTest::keyClick(code, Qt::Key_S, Qt::ControlModifier);
    QFile file(workDir + "T.cpp");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("#include \"stdafx.h\"\r\n#include \"T.h\"\r\n"
                                        "void Demo1() {}\r\n"));
    QCOMPARE(code->toPlainText(), QString("void Demo1() {}")); // no "s" typed
    QVERIFY(window->CodeChanged);                              // still to be built
    QCOMPARE(QDir(workDir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"T.cpp"});
    QCOMPARE(Control<QLabel>("lalStat")->text(), QString());
}

void TestMainWindow::failedSaveOnCloseAsksFirst()
{
    QVERIFY(QDir(workDir).mkdir("T.cpp")); // a folder where the file should be
    window = OpenWindow();
    auto* code = Control<QPlainTextEdit>("txtCode");
    QTest::keyClicks(code, "int x;");

    QStringList asked;
    auto answer = [this, &asked](QMessageBox::StandardButton button) {
        QTimer::singleShot(0, this, [&asked, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            asked << box->text();
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
            box->button(button)->click();
        });
    };
    answer(QMessageBox::No);
    QVERIFY(!window->close());
    QCOMPARE(asked, QStringList{"代码未能保存：“T.cpp” 是一个文件夹。仍要关闭吗？"});
    QVERIFY(window->isVisible());
    QCOMPARE(code->toPlainText(), QString("int x;"));
    QCOMPARE(Control<QLabel>("lalStat")->text(), QString("生成代码失败！“T.cpp” 是一个文件夹"));

    answer(QMessageBox::Yes);
    QVERIFY(window->close());
    QCOMPARE(asked.size(), 2);
    QVERIFY(!window->isVisible());
}

void TestMainWindow::findFieldFindsAndWrapsAround()
{
    window = OpenWindow();
    auto* code = Control<QPlainTextEdit>("txtCode");
    code->setPlainText("int a;\nint b;\nvoid f() { INT c; }");
    code->moveCursor(QTextCursor::Start);
    QTest::keyClick(code, Qt::Key_F, Qt::ControlModifier);
    auto* field = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(field && field != Control<QLineEdit>("txtFunc"));
    QVERIFY(field->isVisible());
    // Over the editor's area.
    QVERIFY(QRect(code->mapToGlobal(QPoint(0, 0)), code->size())
                .contains(QRect(field->mapToGlobal(QPoint(0, 0)), field->size())));
    QTest::keyClicks(field, "int");
    QList<int> found;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(code->textCursor().selectedText().toLower(), QString("int"));
        found << code->textCursor().selectionStart();
    }
    QCOMPARE(found, (QList<int>{0, 7, 25, 0})); // case does not count; round to the start
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(code->textCursor().selectionStart(), 25); // backwards, round to the end
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(code->textCursor().selectionStart(), 7);
    QTest::keyClick(field, Qt::Key_Escape);
    QVERIFY(!field->isVisible());
    QCOMPARE(QApplication::focusWidget(), code);
    QCOMPARE(code->textCursor().selectedText(), QString("int"));
    QCOMPARE(code->textCursor().selectionStart(), 7);

    // Text that is not there leaves the selection alone.
    QTest::keyClick(code, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(field, "missing");
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(code->textCursor().selectionStart(), 7);
    QVERIFY(field->palette().color(QPalette::Base) != code->palette().color(QPalette::Base));
}

void TestMainWindow::goToLinePutsTheCaretAtTheLineStart()
{
    window = OpenWindow();
    auto* code = Control<QPlainTextEdit>("txtCode");
    QString text;
    for (int i = 1; i <= 300; ++i)
        text += QString("    line %1\n").arg(i);
    code->setPlainText(text);
    int offered = 0;
    QTimer::singleShot(0, this, [&offered] {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        offered = dialog->intMaximum();
        dialog->setIntValue(250);
        dialog->accept();
    });
    Control<QWidget>("txtFunc")->setFocus();
    QTest::keyClick(Control<QWidget>("txtFunc"), Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(offered, 301);
    QCOMPARE(code->textCursor().blockNumber(), 249);
    QCOMPARE(code->textCursor().positionInBlock(), 0);
    QVERIFY(!code->textCursor().hasSelection());
    QCOMPARE(window->focusWidget(), code);
    QVERIFY(code->viewport()->rect().contains(code->cursorRect())); // scrolled to it

    // Cancelled, the caret stays.
    QTimer::singleShot(0, this, [] {
        if (auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    QTest::keyClick(code, Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(code->textCursor().blockNumber(), 249);
}

void TestMainWindow::fontSizeKeysChangeBothPanes()
{
    window = OpenWindow();
    auto* code = Control<QPlainTextEdit>("txtCode");
    auto* out = Control<QPlainTextEdit>("txtOut");
    const int start = code->font().pointSize();
    auto sizes = [code, out] {
        return QList<int>{code->font().pointSize(), out->font().pointSize()};
    };
    QTest::keyClick(code, Qt::Key_Equal, Qt::ControlModifier);
    QTest::keyClick(code, Qt::Key_Equal, Qt::ControlModifier);
    QCOMPARE(sizes(), (QList<int>{start + 2, start + 2}));
    QCOMPARE(code->font().family(), QString("Courier New"));
    QTest::keyClick(out, Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(sizes(), (QList<int>{start + 1, start + 1}));
    // The tab stops stay four spaces wide.
    QCOMPARE(code->tabStopDistance(), 4 * QFontMetricsF(code->font()).horizontalAdvance(' '));
    QTest::keyClick(code, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(sizes(), (QList<int>{start, start}));
    QCOMPARE(code->toPlainText(), QString()); // no key reached the text
}

void TestMainWindow::outputMenuClearsThePane()
{
    window = OpenWindow();
    auto* out = Control<QPlainTextEdit>("txtOut");
    WriteOutput("line 1\nline 2\n");
    QStringList items;
    QTimer::singleShot(0, this, [&items] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        QAction* clear = nullptr;
        for (QAction* action : menu->actions()) {
            items << action->text();
            if (action->text() == "清空")
                clear = action;
        }
        menu->close();
        if (clear)
            clear->trigger();
    });
    const QPoint inside(20, 10);
    QContextMenuEvent click(QContextMenuEvent::Mouse, inside, out->viewport()->mapToGlobal(inside));
    QApplication::sendEvent(out->viewport(), &click);
    QVERIFY2(items.size() > 3, qPrintable(items.join(',')));
    QCOMPARE(items.last(), QString("清空"));
    QCOMPARE(out->toPlainText(), QString());
    WriteOutput("after\n"); // the pane still takes output
    QCOMPARE(out->toPlainText(), QString("after\n"));
}

void TestMainWindow::menusReadInChineseWithQtsTranslations()
{
    QVERIFY2(LoadQtTranslations(QLocale(QLocale::Chinese, QLocale::China)),
             "Qt's translations are missing (Debian: qt6-translations-l10n)");
    window = OpenWindow();
    std::unique_ptr<QMenu> menu(Control<QPlainTextEdit>("txtCode")->createStandardContextMenu());
    QStringList items;
    for (QAction* action : menu->actions())
        items << action->text();
    const QString all = items.join(',');
    QVERIFY2(all.contains("撤") && all.contains("复制") && all.contains("粘贴"), qPrintable(all));
    // Not for a language that has none: nothing is loaded, nothing breaks.
    QVERIFY(!LoadQtTranslations(QLocale(QLocale::Zulu)));
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
