#pragma once

#include <QSyntaxHighlighter>
#include <QTextCursor>
#include <QTimer>
#include <functional>
#include <vector>

// A QSyntaxHighlighter that never holds the window up for long. An edit (a paste, a restored
// file, a comment opened at the top) colours a screenful of lines at once; the lines after
// that keep what they showed and are coloured in short slices from the event loop, top down,
// since each line's colours depend on the state the line above ends in. Slices stop some way
// below what is shown and go on when the view moves down: a 10 MB text costs its colours only
// as far as it is read.
class SlicedHighlighter : public QSyntaxHighlighter {
    Q_OBJECT

public:
    explicit SlicedHighlighter(QTextDocument* document);

    // The last line (block number) worth colouring now; unset, the whole text is.
    void SetLastWantedLine(std::function<int()> lastWantedLine);
    // Colours on where the lines wanted now are waiting (after the view moved).
    void Resume();
    // True while lines up to the last wanted one still wait for their colours.
    bool IsColouring() const;

protected:
    // Colours one line with setFormat and returns the state it ends in (>= 0); previousState is
    // the state of the line above, 0 for the first line.
    virtual int HighlightLine(const QString& text, int previousState) = 0;

    // Colours the whole document again, in slices from the top (after a change of colours).
    void RecolourAll();

private:
    void highlightBlock(const QString& text) final;
    void OnContentsChange(int from, int charsRemoved, int charsAdded);
    void Defer(const QTextBlock& block);
    void RunSlice();
    void Schedule();
    std::vector<QTextCursor>::iterator EarliestMark();

    QTimer slice_;
    int budget_;
    bool constructed_ = true;
    bool inSlice_ = false;
    qint64 sliceDeadline_ = 0;
    int sliceWantedThrough_ = 0;
    int passEnd_ = 0; // where the last line coloured in this pass ends
    std::function<int()> lastWantedLine_;
    // Where the lines that wait begin; cursors, so that they move with edits.
    std::vector<QTextCursor> marks_;
};
