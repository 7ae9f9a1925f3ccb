#include "build_steps.h"

#include "error_report.h"

#include <limits>

namespace {

// Whether the editor can count its lines from `line` (T.cpp's line L is L - 3 lines below the
// editor's first) without overflowing 32 bits: a report on any other line is passed over.
bool EditorCanReach(qint32 line)
{
    return line >= std::numeric_limits<qint32>::min() + 3;
}

} // namespace

StepResult RunCompileStep(const ScriptRunner& shellExe)
{
    QStringList info;
    if (shellExe(QStringLiteral("MyCL.bat"), info))
        return {};

    std::optional<qint32> line;
    for (qsizetype i = 1; i < info.size(); ++i) {
        const std::optional<ErrorEntry> entry = ReadErrorEntry(info[i]);
        if (!entry)
            continue;
        line = entry->line;
        if (EditorCanReach(entry->line) && entry->message)
            return StepResult::Failed(QStringLiteral("语法错误：") + *entry->message, line);
    }
    // No complete report: the script's second message, or its only one.
    return StepResult::Failed(info.value(info.size() > 1 ? 1 : 0), line);
}

StepResult RunLinkStep(const ScriptRunner& shellExe)
{
    QStringList info;
    if (shellExe(QStringLiteral("MyLink.bat"), info))
        return {};
    return StepResult::Failed(info.value(0));
}
