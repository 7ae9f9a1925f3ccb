#include "build_steps.h"

#include "error_report.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QTextCursor>

namespace {

// The Down count is of displayed lines, so the editor's lines must be wrapped at its real
// width. A shown editor is. One that was never shown still waits for the resize events that
// set that width, so it gets them now: the editor's own places its viewport, the viewport's
// wraps the text at the viewport's width. (Qt sends them again on showing it; no harm.)
// The cursor then lays out each block it passes on demand.
void EnsureLaidOut(QPlainTextEdit* editor)
{
    for (QWidget* widget : {static_cast<QWidget*>(editor), editor->viewport()}) {
        if (widget->testAttribute(Qt::WA_PendingResizeEvent)) {
            QResizeEvent resize(widget->size(), QSize());
            QCoreApplication::sendEvent(widget, &resize);
        }
    }
}

} // namespace

bool SelectSourceLine(QPlainTextEdit* txtCode, qint32 line)
{
    txtCode->setFocus();
    QTextCursor cursor(txtCode->document());
    cursor.movePosition(QTextCursor::Start);
    const std::optional<qint32> downs = DownCount(line);
    if (downs && *downs >= 0) {
        EnsureLaidOut(txtCode);
        cursor.movePosition(QTextCursor::Down, QTextCursor::MoveAnchor, *downs);
        cursor.movePosition(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
    }
    // A line of the include lines (L <= 2) leaves the caret at the start, nothing selected.
    txtCode->setTextCursor(cursor);
    return downs.has_value();
}

bool MakeObj(const ScriptRunner& shellExe, QPlainTextEdit* txtCode, QLabel* lalStat)
{
    QStringList info;
    if (shellExe(QStringLiteral("MyCL.bat"), info))
        return true;

    for (qsizetype i = 1; i < info.size(); ++i) {
        const std::optional<ErrorEntry> entry = ReadErrorEntry(info[i]);
        if (!entry)
            continue;
        const bool lineFound = SelectSourceLine(txtCode, entry->line);
        if (!lineFound || !entry->message)
            continue;
        lalStat->setText(QStringLiteral("语法错误：") + *entry->message);
        return false;
    }
    // No report: the script's second message, or its only one.
    lalStat->setText(info.value(info.size() > 1 ? 1 : 0));
    return false;
}

bool MakeDll(const ScriptRunner& shellExe, QLabel* lalStat)
{
    QStringList info;
    if (shellExe(QStringLiteral("MyLink.bat"), info))
        return true;
    lalStat->setText(info.value(0));
    return false;
}
