#pragma once

#include "diagnostics.h"

#include <QColor>
#include <QList>
#include <QTextCursor>

class QPalette;
class QPlainTextEdit;
class QTextBlock;

// The marks of the last build in the editor's line-number gutter: red on each line with an
// error, amber on each line with only warnings, and that line's messages (notes included)
// for its tooltip. A mark holds a cursor at the start of its line, so it moves with the text
// while the user edits; the next build replaces them all.
class DiagnosticMarks {
public:
    explicit DiagnosticMarks(QPlainTextEdit* editor) : editor_(editor) {}

    // The marks of these diagnostics; those without a line of the user's have none.
    void Set(const QList<Diagnostic>& diagnostics);
    void Clear() { marks_.clear(); }
    bool IsEmpty() const { return marks_.isEmpty(); }

    enum class Kind { None, Warning, Error };
    // The mark of the block: the worse when two have come to share it by an edit.
    Kind KindOf(const QTextBlock& block) const;
    // The block's messages, one paragraph each, notes indented below; empty without a mark.
    QString ToolTipOf(const QTextBlock& block) const;
    // The colour a mark of this kind is painted in, on this palette's background.
    static QColor ColourOf(Kind kind, const QPalette& palette);

private:
    struct Mark {
        QTextCursor start; // at the start of its line
        bool isError = false;
        QStringList messages;
    };

    QPlainTextEdit* editor_;
    QList<Mark> marks_;
};
