#include "output_pane.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <optional>
#include <utility>

namespace {

// New text goes in at this character of the pane, or at its end when the pane is shorter.
constexpr qsizetype kInsertionLimit = 60000;

qsizetype PaneLength(const QPlainTextEdit& pane)
{
    return pane.document()->characterCount() - 1; // without the document's final separator
}

// The document makes one block break of CR LF, of a lone CR and of LF, so pieces are counted
// with LF alone. Doing it per piece keeps a CR that ends one write and an LF that starts the
// next as two breaks, as two separate insertions would make them.
QString WithLineFeeds(QString text)
{
    if (!text.contains(u'\r'))
        return text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

// The writes of one batch, arranged as a single insertion at base. Writing one by one, pieces
// are appended while the pane is shorter than the limit (the head, whose last piece may cross
// it), and every later piece goes in at the limit, in front of the pieces before it.
class PendingOutput {
public:
    explicit PendingOutput(qsizetype paneLength)
        : base_(std::min(kInsertionLimit, paneLength)), room_(kInsertionLimit - base_)
    {}

    void Add(const QString& piece)
    {
        if (head_.size() < room_) {
            head_ += piece;
            caret_ = head_.size();
        } else {
            // Kept back to front: reversing the whole at the end puts the latest piece first,
            // each piece in its own order.
            const qsizetype start = frontReversed_.size();
            frontReversed_ += piece;
            std::reverse(frontReversed_.begin() + start, frontReversed_.end());
            caret_ = room_ + piece.size();
        }
    }

    qsizetype Base() const { return base_; }
    qsizetype CaretOffset() const { return caret_; }

    QString Text() const
    {
        QString front = frontReversed_;
        std::reverse(front.begin(), front.end());
        return head_.left(room_) + front + head_.mid(room_);
    }

private:
    qsizetype base_;
    qsizetype room_;
    QString head_;
    QString frontReversed_;
    qsizetype caret_ = 0; // after the last piece, counted from base_
};

struct OutputChannel {
    QPointer<QPlainTextEdit> pane;
    int batchDepth = 0;
    std::optional<PendingOutput> pending;
};

OutputChannel& Channel()
{
    static OutputChannel channel;
    return channel;
}

void Apply(QPlainTextEdit& pane, const PendingOutput& output)
{
    QTextCursor cursor(pane.document());
    // The pane may have been changed by other hands since the batch began.
    const qsizetype base = std::min(output.Base(), PaneLength(pane));
    cursor.setPosition(int(base));
    const QString text = output.Text();
    if (!text.isEmpty())
        cursor.insertText(text);
    cursor.setPosition(int(std::min(base + output.CaretOffset(), PaneLength(pane))));
    pane.setTextCursor(cursor);
}

} // namespace

void AttachOutputPane(QPlainTextEdit* pane)
{
    Channel().pane = pane;
}

void WriteOutput(const QString& text)
{
    OutputBatch batch;
    OutputChannel& channel = Channel();
    if (!channel.pane)
        return;
    if (!channel.pending)
        channel.pending.emplace(PaneLength(*channel.pane));
    channel.pending->Add(WithLineFeeds(text));
}

OutputBatch::OutputBatch()
{
    ++Channel().batchDepth;
}

OutputBatch::~OutputBatch()
{
    OutputChannel& channel = Channel();
    if (--channel.batchDepth > 0)
        return;
    // Taken out first: the pane's signals may lead to more writes, which start a batch of their
    // own.
    std::optional<PendingOutput> output = std::exchange(channel.pending, std::nullopt);
    if (output && channel.pane)
        Apply(*channel.pane, *output);
}
