#pragma once

#include "step_result.h"

#include <QString>
#include <QStringList>
#include <functional>

// Runs a script of the toolchain folder as RunScript does.
using ScriptRunner = std::function<bool(const QString& file, QStringList& info)>;

// Compile step: runs "MyCL.bat". On failure, the first error report among the messages from
// entry 1 on (error_report.h) gives the line of "T.cpp" and "语法错误：" + the message. A report
// without a message still gives its line, and the scan goes on. With no report the message is
// entry 1, or entry 0 when that is the only one, and the line that of the last report seen.
StepResult RunCompileStep(const ScriptRunner& shellExe);

// Link step: runs "MyLink.bat". On failure the message is its first one (entry 0), as it is,
// also when it is empty.
StepResult RunLinkStep(const ScriptRunner& shellExe);
