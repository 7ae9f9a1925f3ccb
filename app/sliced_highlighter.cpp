#include "sliced_highlighter.h"

#include <QElapsedTimer>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <limits>

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
    // QSyntaxHighlighter colours every line an edit touches before the edit returns: for a
    // restored 10 MB text that is every line. Edits are taken here instead. (Should the name
    // of its slot ever change, both run: slower, still right.)
    disconnect(document, SIGNAL(contentsChange(int, int, int)), this,
               SLOT(_q_reformatBlocks(int, int, int)));
    connect(document, &QTextDocument::contentsChange, this, &SlicedHighlighter::OnContentsChange);
    // A highlighter given a document may plan to colour all of it on the next turn; this
    // takes the plan up now, while the document is empty, without calling the subclass that
    // is still being built.
    constructed_ = false;
    rehighlight();
    constructed_ = true;

    slice_.setSingleShot(true);
    slice_.setInterval(0);
    connect(&slice_, &QTimer::timeout, this, &SlicedHighlighter::RunSlice);
}

void SlicedHighlighter::SetLastWantedLine(std::function<int()> lastWantedLine)
{
    lastWantedLine_ = std::move(lastWantedLine);
}

void SlicedHighlighter::OnContentsChange(int from, int charsRemoved, int charsAdded)
{
    QTextDocument* doc = document();
    QTextBlock block = doc->findBlock(from);
    const QTextBlock last = doc->findBlock(from + charsAdded + (charsRemoved > 0 ? 1 : 0));
    const int end = last.isValid() ? last.position() + last.length() : doc->characterCount();
    // Every changed line once; a pass goes on past the change while the states change.
    while (block.isValid() && block.position() < end) {
        if (budget_ <= 0) {
            Defer(block); // the lines after it are reached from here
            return;
        }
        passEnd_ = block.position();
        rehighlightBlock(block);
        block = doc->findBlock(std::max(passEnd_, block.position() + block.length()));
    }
}

void SlicedHighlighter::highlightBlock(const QString& text)
{
    if (!constructed_)
        return;
    const QTextBlock block = currentBlock();
    passEnd_ = block.position() + block.length();
    const QTextBlock previous = block.previous();
    const int previousState = previous.isValid() ? previous.userState() : 0;
    const bool ready =
        previousState != kUnknown &&
        (inSlice_ ? Now() < sliceDeadline_ && block.blockNumber() <= sliceWantedThrough_
                  : budget_ > 0);
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
    if (block == currentBlock())
        for (const QTextLayout::FormatRange& range : block.layout()->formats())
            setFormat(range.start, range.length, range.format);
    // A line that was never coloured after another such line is reached from the mark before.
    const QTextBlock previous = block.previous();
    const bool followsWaitingLine =
        block.userState() == kUnknown && previous.isValid() && previous.userState() == kUnknown;
    const bool marked =
        std::any_of(marks_.begin(), marks_.end(),
                    [&block](const QTextCursor& mark) { return mark.block() == block; });
    if (!followsWaitingLine && !marked)
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

std::vector<QTextCursor>::iterator SlicedHighlighter::EarliestMark()
{
    return std::min_element(marks_.begin(), marks_.end(), [](const auto& a, const auto& b) {
        return a.position() < b.position();
    });
}

bool SlicedHighlighter::IsColouring() const
{
    if (marks_.empty())
        return false;
    if (!lastWantedLine_)
        return true;
    int earliest = marks_.front().position();
    for (const QTextCursor& mark : marks_)
        earliest = std::min(earliest, mark.position());
    return document()->findBlock(earliest).blockNumber() <= lastWantedLine_();
}

void SlicedHighlighter::Resume()
{
    if (IsColouring())
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
    sliceWantedThrough_ = lastWantedLine_ ? lastWantedLine_() : std::numeric_limits<int>::max();
    while (IsColouring() && Now() < sliceDeadline_) {
        const auto earliest = EarliestMark();
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
    if (IsColouring())
        Schedule();
}
