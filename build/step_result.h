#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// What a build step did, for the window to show: steps never touch widgets.
struct StepResult {
    bool ok = true;
    // For the status line when the step failed (may be empty).
    QString message;
    // The line of "T.cpp" to select in the editor, when the failure has one.
    std::optional<qint32> sourceLine;
    // The message is about that line: the window adds "（第 N 行）", N the editor's line.
    bool messageNamesLine = false;

    explicit operator bool() const { return ok; }

    static StepResult Failed(QString message, std::optional<qint32> line = std::nullopt)
    {
        return {false, std::move(message), line, false};
    }
};
