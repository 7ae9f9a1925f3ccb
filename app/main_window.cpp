#include "main_window.h"

#include "build_steps.h"
#include "busy_input.h"
#include "code_editor.h"
#include "crash_guard.h"
#include "diagnostic_marks.h"
#include "diagnostics.h"
#include "editor_commands.h"
#include "editor_text.h"
#include "module_functions.h"
#include "name_completion.h"
#include "output_menu.h"
#include "output_pane.h"
#include "run_keys.h"
#include "source_file.h"
#include "status_line.h"
#include "tool_runner.h"
#include "window_layout.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTextBlock>
#include <algorithm>
#include <unistd.h>

namespace {

// text, followed by "（第 N 行）" with N the editor's line of "T.cpp" line sourceLine, if any.
QString WithEditorLine(const QString& text, std::optional<int> sourceLine)
{
    const std::optional<qint64> line = sourceLine ? EditorLine(*sourceLine) : std::nullopt;
    return line ? text + QStringLiteral("（第 %1 行）").arg(*line) : text;
}

// The busy pointer while the window waits for a build; put back on every way out.
class BusyPointer {
public:
    BusyPointer() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QGuiApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

// Scroll bars when the text does not fit. The editor wraps long lines at its edge; the output
// pane never does, so printed columns stay columns.
void SetUpTextPane(QPlainTextEdit* pane, bool wrap)
{
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    pane->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    pane->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
}

// The text of a missing name's box, the likely name asked about.
QString WithLikelyName(const QString& report, const QString& likely)
{
    return report + QStringLiteral("\n是否想运行 “%1”？").arg(likely);
}

} // namespace

QString FormMain::DefaultWorkDir()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/cl/");
}

FormMain::FormMain(QWidget* parent) : FormMain(DefaultWorkDir(), parent) {}

FormMain::FormMain(const QString& workDir, QWidget* parent) : QWidget(parent), WorkDir(workDir)
{
    CreateControls();
    AttachOutputPane(txtOut);
    connect(txtCode, &QPlainTextEdit::textChanged, this, [this] { CodeChanged = true; });
    connect(cmdRun, &QPushButton::clicked, this, &FormMain::cmdRun_Click);
    busyInput = new BusyInputFilter(this);
    QCoreApplication::instance()->installEventFilter(busyInput);
    WatchThreadCrashes();
    Restore();
}

void FormMain::WatchThreadCrashes()
{
    InstallCrashGuard();
    if (ThreadCrashFd() < 0)
        return;
    auto* notifier = new QSocketNotifier(ThreadCrashFd(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[64];
        while (read(ThreadCrashFd(), bytes, sizeof bytes) > 0) {
        }
        ReportThreadCrash();
    });
}

void FormMain::ReportThreadCrash()
{
    if (running) {
        threadCrashWaits = true;
        return;
    }
    threadCrashWaits = false;
    const std::optional<CallOutcome> crash = TakeThreadCrashReport(hDll);
    if (!crash)
        return;
    if (crash->moduleSpent) {
        FreeDLL(); // stays in memory: its parked thread still uses it
        ModuleSpent = true;
    }
    ShowReport(*crash);
}

FormMain::~FormMain()
{
    FreeDLL();
}

void FormMain::CreateControls()
{
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Vornak"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);
    resize(919, 480);

    auto makeFrame = [this](int index, const QString& caption, const QRect& geometry) {
        auto* frame = new QGroupBox(caption, this);
        frame->setObjectName(QStringLiteral("Frame1"));
        frame->setProperty("index", index);
        frame->setGeometry(geometry);
        Frame1[index] = frame;
        return frame;
    };
    makeFrame(2, QStringLiteral("脚本"), QRect(8, 10, 457, 425));
    makeFrame(1, QStringLiteral("输出"), QRect(474, 10, 435, 425));

    txtCode = new CodeEditor(Frame1[2]);
    txtCode->setObjectName(QStringLiteral("txtCode"));
    txtCode->setGeometry(8, 18, 439, 401);
    QFont codeFont(QStringLiteral("Courier New"), 9);
    codeFont.setStyleHint(QFont::TypeWriter);
    codeFont.setFixedPitch(true);
    txtCode->setFont(codeFont);
    SetUpTextPane(txtCode, true);
    txtCode->setTabStopDistance(4 * QFontMetricsF(codeFont).horizontalAdvance(u' '));
    txtCode->setAccessibleName(QStringLiteral("脚本"));
    txtCode->installEventFilter(this);

    txtOut = new QPlainTextEdit(Frame1[1]);
    txtOut->setObjectName(QStringLiteral("txtOut"));
    txtOut->setGeometry(8, 18, 419, 401);
    SetUpTextPane(txtOut, false);
    AddClearToContextMenu(txtOut);
    txtOut->setTabChangesFocus(true);
    txtOut->setFont(codeFont); // columns of printed output line up
    txtOut->setAccessibleName(QStringLiteral("输出"));

    Label1 = new QLabel(QStringLiteral("选择要运行的函数："), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 448, 113, 19);

    txtFunc = new QLineEdit(QStringLiteral("Demo1"), this);
    txtFunc->setObjectName(QStringLiteral("txtFunc"));
    txtFunc->setGeometry(122, 446, 193, 23);
    txtFunc->setAccessibleName(Label1->text());
    Label1->setBuddy(txtFunc);

    cmdRun = new QPushButton(QStringLiteral("运行！"), this);
    cmdRun->setObjectName(QStringLiteral("cmdRun"));
    cmdRun->setGeometry(322, 446, 133, 23);
    cmdRun->setAutoDefault(false);
    AttachRunKeys(this, txtFunc, cmdRun);
    names_ = new NameCompletion(txtFunc);

    lalStat = new StatusLine(this);
    lalStat->setObjectName(QStringLiteral("lalStat"));
    lalStat->setGeometry(474, 446, 435, 27);

    // Only the editor, the name box, the button and the output pane take the focus.
    for (QWidget* passive : {static_cast<QWidget*>(Frame1[1]), static_cast<QWidget*>(Frame1[2]),
                             static_cast<QWidget*>(Label1), static_cast<QWidget*>(lalStat)})
        passive->setFocusPolicy(Qt::NoFocus);
    setTabOrder(txtCode, txtFunc);
    setTabOrder(txtFunc, cmdRun);
    setTabOrder(cmdRun, txtOut);
    txtCode->setFocus();

    AttachEditorCommands(this, txtCode, txtOut);
    auto* save = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), this);
    save->setContext(Qt::WindowShortcut);
    connect(save, &QShortcut::activated, this, &FormMain::SaveCode);

    // The places above are those at the starting size; the panes take what the window grows.
    auto* layout = new WindowLayout(this);
    layout->Add(Frame1[2], WindowLayout::Follows::LeftPane);
    layout->Add(Frame1[1], WindowLayout::Follows::RightPane);
    layout->Add(txtCode, WindowLayout::Follows::InsideFrame);
    layout->Add(txtOut, WindowLayout::Follows::InsideFrame);
    for (QWidget* below : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(txtFunc),
                           static_cast<QWidget*>(cmdRun)})
        layout->Add(below, WindowLayout::Follows::LeftBelow);
    layout->Add(lalStat, WindowLayout::Follows::RightBelow);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void FormMain::Restore()
{
    const std::optional<QString> code = RestoreCode(WorkDir);
    // An empty restored text is no change: there is nothing to build.
    if (code && !code->isEmpty())
        txtCode->setPlainText(*code);
    CodeChanged = code && !code->isEmpty();
    savedText_ = code.value_or(QString());
}

bool FormMain::SaveCode()
{
    if (!MakeCode())
        return false;
    // A save that failed before is put right now.
    if (lalStat->text().startsWith(QStringLiteral("生成代码失败！")))
        lalStat->setText(QString());
    return true;
}

bool FormMain::SaveBeforeClose()
{
    const QString text = EditorText(txtCode);
    if (text == savedText_)
        return true;
    const StepResult saved = WriteSourceFile(WorkDir, text);
    if (saved) {
        savedText_ = text;
        return true;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vornak"),
                    QStringLiteral("代码未能保存：%1。仍要关闭吗？").arg(saved.message),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() == QMessageBox::Yes)
        return true;
    Show(saved, QStringLiteral("生成代码失败！"));
    return false;
}

bool FormMain::eventFilter(QObject* watched, QEvent* event)
{
    // Tab inserts spaces in the editor; Ctrl+Tab and Ctrl+Shift+Tab move the focus on.
    if (watched == txtCode && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            (key->modifiers() & Qt::ControlModifier)) {
            const bool backwards =
                key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
            focusNextPrevChild(!backwards);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FormMain::closeEvent(QCloseEvent* event)
{
    if (!SaveBeforeClose()) {
        event->ignore();
        return;
    }
    FreeDLL();
    QWidget::closeEvent(event);
}

bool FormMain::Show(const StepResult& result, const QString& prefix)
{
    if (result)
        return true;
    if (result.sourceLine)
        SelectSourceLine(*result.sourceLine);
    static_cast<StatusLine*>(lalStat)->SetWarning(false);
    lalStat->setText(prefix + (result.messageNamesLine
                                   ? WithEditorLine(result.message, result.sourceLine)
                                   : result.message));
    return false;
}

void FormMain::ShowDiagnostics()
{
    const QList<Diagnostic> diagnostics = ReadDiagnosticsFile(WorkDir + QStringLiteral("diag.txt"));
    auto* editor = static_cast<CodeEditor*>(txtCode);
    editor->Marks().Set(diagnostics);
    editor->ShowMarks();
    firstWarning_ = FirstWarningText(diagnostics);
}

void FormMain::ShowFirstWarning()
{
    static_cast<StatusLine*>(lalStat)->SetWarning(!firstWarning_.isEmpty());
    lalStat->setText(firstWarning_.isEmpty() ? QString()
                                             : QStringLiteral("警告：") + firstWarning_);
}

void FormMain::SelectSourceLine(qint32 line)
{
    txtCode->setFocus();
    QTextCursor cursor(txtCode->document());
    if (const std::optional<qint64> editorLine = EditorLine(line)) {
        const QTextBlock block = txtCode->document()->findBlockByNumber(
            int(std::min<qint64>(*editorLine, txtCode->document()->blockCount())) - 1);
        cursor.setPosition(block.position());
        cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
    }
    txtCode->setTextCursor(cursor);
}

bool FormMain::MakeCode()
{
    const QString text = EditorText(txtCode);
    if (!Show(WriteSourceFile(WorkDir, text), QStringLiteral("生成代码失败！")))
        return false;
    savedText_ = text;
    return true;
}

bool FormMain::ShellExe(const QString& file, QStringList& info)
{
    return RunScript(ShellObj, WorkDir, file, info);
}

bool FormMain::MakeObj()
{
    const StepResult compiled = RunCompileStep(
        [this](const QString& file, QStringList& info) { return ShellExe(file, info); });
    ShowDiagnostics();
    return Show(compiled);
}

bool FormMain::MakeDll()
{
    return Show(RunLinkStep(
        [this](const QString& file, QStringList& info) { return ShellExe(file, info); }));
}

bool FormMain::LoadDLL()
{
    if (!Show(LoadModule(WorkDir, hDll), QStringLiteral("加载模块失败！")))
        return false;
    ModuleSpent = false;
    return true;
}

CallOutcome FormMain::CallDLL(const QString& func)
{
    const CallOutcome outcome = CallEntry(hDll, func);
    // A name the module lacks: the box asks about the likely one, and Yes runs that.
    std::optional<QString> likely;
    if (outcome.report && outcome.report->endsWith(QStringLiteral("” 未定义")) &&
        !names_->Names().contains(func))
        likely = names_->LikelyName(func);
    if (!likely) {
        ShowReport(outcome);
        return outcome;
    }
    busyInput->FreeNow();
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vornak"),
                    WithLikelyName(*outcome.report, *likely), QMessageBox::Yes | QMessageBox::No,
                    this);
    if (box.exec() == QMessageBox::Yes) {
        txtFunc->setText(*likely);
        return CallDLL(*likely);
    }
    return outcome;
}

void FormMain::ShowReport(const CallOutcome& outcome)
{
    if (outcome.report) {
        // What was typed or clicked during the call must not answer the box.
        busyInput->FreeNow();
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Vornak"),
                        WithEditorLine(*outcome.report, outcome.sourceLine), QMessageBox::Ok, this);
        box.exec();
    }
    if (outcome.sourceLine)
        SelectSourceLine(*outcome.sourceLine);
}

void FormMain::FreeDLL()
{
    ReleaseModule(hDll);
}

void FormMain::cmdRun_Click()
{
    if (running)
        return; // a click delivered while a box of this Run is open
    running = true;
    {
        BusyTime busy(*busyInput);
        RunSteps();
    }
    running = false;
    if (threadCrashWaits)
        ReportThreadCrash();
}

void FormMain::RunSteps()
{
    if (CodeChanged) {
        BusyPointer busy;
        // The code is saved first: releasing the old module runs its static destructors, which
        // may never return.
        const bool saved = MakeCode();
        FreeDLL(); // so the link script can replace "T.dll"
        // Each step shows its own failure.
        if (!saved || !MakeObj() || !MakeDll() || !LoadDLL())
            return;
        ShowFirstWarning();
        CodeChanged = false;
        names_->SetNames(ModuleFunctionNames(WorkDir + QStringLiteral("T.dll"),
                                             WorkDir + QStringLiteral("rt.o")));
    } else if (ModuleSpent) {
        BusyPointer busy;
        if (!LoadDLL())
            return;
        ShowFirstWarning(); // the same build: its warning still holds
    }
    if (CallDLL(txtFunc->text()).moduleSpent) {
        FreeDLL();
        ModuleSpent = true;
    }
}
