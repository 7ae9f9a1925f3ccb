#pragma once

// FormMain is Vornak's one window and owns all of its state. A Run click goes
//   window (cmdRun_Click) -> source file (MakeCode writes "T.cpp")
//   -> compile step (MakeObj runs "MyCL.bat"; errors move the caret and fill the status line)
//   -> link step (MakeDll runs "MyLink.bat") -> module host (LoadDLL, CallDLL, guarded)
//   -> output pane (the module prints through PrintOut into txtOut).
// A crash or exit() in the module's code is caught by the host; the window shows its line.
// The build is skipped while the code is unchanged since the last successful one.

#include "module_host.h"

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <memory>

class BusyInputFilter;
class CommandShell;
class NameCompletion;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class FormMain : public QWidget {
    Q_OBJECT

public:
    // The work folder is the executable's folder + "/cl/".
    static QString DefaultWorkDir();
    explicit FormMain(QWidget* parent = nullptr);
    // For tests: a window working in the given folder (ending in "/").
    explicit FormMain(const QString& workDir, QWidget* parent = nullptr);
    ~FormMain() override;

    QString WorkDir;
    ModuleHandle hDll = nullptr;
    bool CodeChanged = false;
    // The last call crashed or ended by exit(): its module was released, and the next Run
    // loads it afresh, without a build.
    bool ModuleSpent = false;
    std::unique_ptr<CommandShell> ShellObj;

    // The steps of a Run, each working on this window's folder; a failed step's report is
    // shown (status line, and the line it names selected in the editor).
    bool MakeCode();
    // Ctrl+S: writes "T.cpp" as a Run does, and builds nothing.
    bool SaveCode();
    bool MakeObj();
    bool MakeDll();
    bool LoadDLL();
    // Shows what the call reports in a message box, then selects the line it names.
    CallOutcome CallDLL(const QString& func);
    // Selects the whole editor line that holds line `line` of "T.cpp" (L - 2, counted in lines
    // of text), caret at its end, and focuses the editor. A line of the include lines puts the
    // caret at the start, nothing selected; one past the end, on the last line.
    void SelectSourceLine(qint32 line);
    void FreeDLL();
    bool ShellExe(const QString& file, QStringList& info);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void Restore();
    // Before the window closes: writes "T.cpp" when the editor's text differs from what it
    // holds; when that fails, asks whether to close all the same.
    bool SaveBeforeClose();
    void cmdRun_Click();
    void RunSteps();
    bool Show(const StepResult& result, const QString& prefix = QString());
    // The last compile's errors and warnings as marks in the editor's gutter ("diag.txt").
    void ShowDiagnostics();
    // After a build that succeeded: its first warning in the status line, or nothing.
    void ShowFirstWarning();
    void ShowReport(const CallOutcome& outcome);
    void WatchThreadCrashes();
    void ReportThreadCrash();

    // The control array Frame1: index 2 holds the editor, index 1 the output pane.
    std::array<QGroupBox*, 3> Frame1{};
    QPlainTextEdit* txtCode = nullptr;
    QPlainTextEdit* txtOut = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* txtFunc = nullptr;
    QPushButton* cmdRun = nullptr;
    QLabel* lalStat = nullptr;
    NameCompletion* names_ = nullptr;
    // The editor text that "T.cpp" holds: last written, or restored at start-up.
    QString savedText_;
    QString firstWarning_; // of the last compile, without "警告："

    BusyInputFilter* busyInput = nullptr;
    bool running = false;          // inside a Run
    bool threadCrashWaits = false; // reported when the Run is over
};
