#pragma once

#include <QSyntaxHighlighter>
#include <QTextCursor>
#include <QTimer>
#include <vector>

// A QSyntaxHighlighter that never holds the window up for long. One pass (a paste, a restored
// file, a comment opened at the top) colours a screenful of lines at once; the lines after
// that keep what they showed and are coloured in short slices from the event loop, top down,
// since each line's colours depend on the state the line above ends in.
class SlicedHighlighter : public QSyntaxHighlighter {
    Q_OBJECT

public:
    explicit SlicedHighlighter(QTextDocument* document);

    // True while some lines still wait for their colours.
    bool HasPendingLines() const { return !marks_.empty(); }

protected:
    // Colours one line with setFormat and returns the state it ends in (>= 0); previousState is
    // the state of the line above, 0 for the first line.
    virtual int HighlightLine(const QString& text, int previousState) = 0;

    // Colours the whole document again, in slices from the top (after a change of colours).
    void RecolourAll();

private:
    void highlightBlock(const QString& text) final;
    void Defer(const QTextBlock& block);
    void RunSlice();
    void Schedule();

    QTimer slice_;
    int budget_;
    bool inSlice_ = false;
    qint64 sliceDeadline_ = 0;
    // Where the lines that wait begin; cursors, so that they move with edits.
    std::vector<QTextCursor> marks_;
};
