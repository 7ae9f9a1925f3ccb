#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QLabel;
class QPlainTextEdit;

// Runs a script of the toolchain folder as ShellExe does.
using ScriptRunner = std::function<bool(const QString& file, QStringList& info)>;

// Compile step: runs "MyCL.bat". On failure, puts the caret on the first reported line of
// the editor and the message in the status line, and returns false.
bool MakeObj(const ScriptRunner& shellExe, QPlainTextEdit* txtCode, QLabel* lalStat);

// Link step: runs "MyLink.bat". On failure the status line shows its first message.
bool MakeDll(const ScriptRunner& shellExe, QLabel* lalStat);
