#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QLabel;
class QPlainTextEdit;

// Runs a script of the toolchain folder as ShellExe does.
using ScriptRunner = std::function<bool(const QString& file, QStringList& info)>;

// Focuses the editor and selects the editor line that holds line `line` of "T.cpp": the
// displayed line reached by L - 3 Downs from the start of the text, up to its end. A line of
// the include lines (L <= 2) puts the caret at the start with nothing selected. False, with the
// caret at the start, when L - 3 does not fit in 32 bits.
bool SelectSourceLine(QPlainTextEdit* txtCode, qint32 line);

// Compile step: runs "MyCL.bat". On failure, finds the first error report among the messages
// from entry 1 on (error_report.h), focuses the editor, selects the displayed line reached by
// L - 3 Downs from the start of the text up to its end, shows "语法错误：" + the message and
// returns false. A report on "T.cpp" line 2 or less counts: the caret goes to the start of the
// text with nothing selected, since the error lies in the include lines. A report without a
// message still moves the caret, then the scan goes on. With no report the status line shows
// entry 1, or entry 0 when that is the only one.
bool MakeObj(const ScriptRunner& shellExe, QPlainTextEdit* txtCode, QLabel* lalStat);

// Link step: runs "MyLink.bat". On failure the status line shows its first message (entry 0),
// as it is, also when it is empty.
bool MakeDll(const ScriptRunner& shellExe, QLabel* lalStat);
