#include "sliced_highlighter.h"

#include <QElapsedTimer>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>

namespace {

// A line's state before it was ever coloured.
constexpr int kUnknown = -1;
// Lines coloured at once per turn of the event loop: more than a screenful.
constexpr int kLinesAtOnce = 200;
// Work done per slice, in milliseconds: well under a frame.
constexpr qint64 kSliceMs = 8;

qint64 Now()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

} // namespace

SlicedHighlighter::SlicedHighlighter(QTextDocument* document)
    : QSyntaxHighlighter(document), budget_(kLinesAtOnce)
{
    slice_.setSingleShot(true);
    slice_.setInterval(0);
    connect(&slice_, &QTimer::timeout, this, &SlicedHighlighter::RunSlice);
}

void SlicedHighlighter::highlightBlock(const QString& text)
{
    const QTextBlock block = currentBlock();
    const QTextBlock previous = block.previous();
    const int previousState = previous.isValid() ? previous.userState() : 0;
    const bool ready =
        previousState != kUnknown && (inSlice_ ? Now() < sliceDeadline_ : budget_ > 0);
    if (!ready) {
        Defer(block);
        return;
    }
    if (!inSlice_) {
        --budget_;
        Schedule(); // gives the budget back on the next turn
    }
    setCurrentBlockState(std::max(0, HighlightLine(text, previousState)));
}

void SlicedHighlighter::Defer(const QTextBlock& block)
{
    // The line keeps its colours and its state, so the pass ends here unless the change itself
    // goes on; a slice takes it up later.
    for (const QTextLayout::FormatRange& range : block.layout()->formats())
        setFormat(range.start, range.length, range.format);
    // A line that was never coloured after another such line is reached from the mark before.
    const QTextBlock previous = block.previous();
    const bool followsWaitingLine =
        block.userState() == kUnknown && previous.isValid() && previous.userState() == kUnknown;
    if (!followsWaitingLine)
        marks_.emplace_back(block);
    Schedule();
}

void SlicedHighlighter::RecolourAll()
{
    QTextDocument* doc = document();
    if (!doc)
        return;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        block.setUserState(kUnknown);
    marks_.clear();
    marks_.emplace_back(doc->begin());
    Schedule();
}

void SlicedHighlighter::Schedule()
{
    if (!slice_.isActive())
        slice_.start();
}

void SlicedHighlighter::RunSlice()
{
    budget_ = kLinesAtOnce;
    inSlice_ = true;
    sliceDeadline_ = Now() + kSliceMs;
    while (!marks_.empty() && Now() < sliceDeadline_) {
        auto earliest = std::min_element(
            marks_.begin(), marks_.end(),
            [](const QTextCursor& a, const QTextCursor& b) { return a.position() < b.position(); });
        QTextBlock block = earliest->block();
        marks_.erase(earliest);
        // Start where the known states end: a line needs the state of the one above.
        while (block.previous().isValid() && block.previous().userState() == kUnknown)
            block = block.previous();
        if (!block.isValid())
            continue;
        // Colours are no edit: the document must not tell its listeners that the text changed.
        const QSignalBlocker quiet(document());
        rehighlightBlock(block);
    }
    inSlice_ = false;
    if (!marks_.empty())
        Schedule();
}
