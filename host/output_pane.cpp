#include "output_pane.h"

#include "crash_guard.h"
#include "output_limit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <mutex>
#include <optional>
#include <utility>

namespace {

// A call shows its output while it runs once it has run this long, this often.
constexpr qint64 kLiveAfterMs = 300;
constexpr qint64 kLiveEveryMs = 150;

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

struct OutputChannel {
    // The pane's thread only.
    QPointer<QPlainTextEdit> pane;
    int batchDepth = 0;
    int callDepth = 0;
    QElapsedTimer callClock;
    qint64 lastShownMs = 0;

    // Every thread, under the mutex.
    std::mutex mutex;
    std::optional<QString> pending; // engaged once anything was written, even ""
    bool showRequested = false;
    OutputLimit limit;
};

OutputChannel& Channel()
{
    static OutputChannel channel;
    return channel;
}

// The text waiting for the pane; the channel's mutex is held.
QString& Pending(OutputChannel& channel)
{
    return channel.pending ? *channel.pending : channel.pending.emplace();
}

void Append(QPlainTextEdit& pane, const QString& text)
{
    QTextCursor cursor(pane.document());
    cursor.movePosition(QTextCursor::End);
    if (!text.isEmpty())
        cursor.insertText(text);
    pane.setTextCursor(cursor);
}

bool OnPaneThread()
{
    const QCoreApplication* application = QCoreApplication::instance();
    return !application || QThread::currentThread() == application->thread();
}

// Appends what waits to the pane. The pane's thread only.
void ShowPending()
{
    OutputChannel& channel = Channel();
    std::optional<QString> text;
    {
        // Taken out first: the pane's signals may lead to more writes.
        std::lock_guard lock(channel.mutex);
        text = std::exchange(channel.pending, std::nullopt);
        channel.showRequested = false;
    }
    if (text && channel.pane)
        Append(*channel.pane, *text);
}

// During a long call: shows what waits and paints the pane now.
void ShowWhileRunning()
{
    OutputChannel& channel = Channel();
    const qint64 now = channel.callClock.elapsed();
    if (now < kLiveAfterMs || now - channel.lastShownMs < kLiveEveryMs)
        return;
    channel.lastShownMs = now;
    ShowPending();
    if (channel.pane)
        channel.pane->repaint();
}

void RequestShow()
{
    if (QCoreApplication* application = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            application,
            [] {
                if (Channel().batchDepth == 0)
                    ShowPending();
            },
            Qt::QueuedConnection);
}

} // namespace

void AttachOutputPane(QPlainTextEdit* pane)
{
    Channel().pane = pane;
}

void WriteOutput(const QString& text)
{
    NoStopHere noStop; // the queue's lock must never be left taken
    OutputChannel& channel = Channel();
    const bool onPaneThread = OnPaneThread();
    bool requestShow = false;
    {
        std::lock_guard lock(channel.mutex);
        Pending(channel) += channel.limit.Admit(WithLineFeeds(text));
        if (!onPaneThread && !channel.showRequested)
            requestShow = channel.showRequested = true;
    }
    if (!onPaneThread) {
        if (requestShow)
            RequestShow();
        return;
    }
    if (channel.batchDepth == 0)
        ShowPending();
    else if (channel.callDepth > 0)
        ShowWhileRunning();
}

bool OmitIfFull(QByteArrayView text)
{
    NoStopHere noStop;
    OutputChannel& channel = Channel();
    {
        std::lock_guard lock(channel.mutex);
        if (!channel.limit.Full())
            return false;
        channel.limit.Omit(text.count('\n'), !text.isEmpty() && !text.endsWith('\n'));
    }
    // What was admitted before the limit was reached still shows while the call runs.
    if (OnPaneThread() && channel.callDepth > 0)
        ShowWhileRunning();
    return true;
}

OutputBatch::OutputBatch()
{
    ++Channel().batchDepth;
}

OutputBatch::~OutputBatch()
{
    if (--Channel().batchDepth == 0)
        ShowPending();
}

CallOutput::CallOutput()
{
    OutputChannel& channel = Channel();
    if (channel.callDepth++ > 0)
        return;
    channel.callClock.start();
    channel.lastShownMs = 0;
    NoStopHere noStop;
    std::lock_guard lock(channel.mutex);
    // Notes owed for what the last call's threads printed after it.
    if (const QString notes = channel.limit.Finish(); !notes.isEmpty())
        Pending(channel) += notes;
    channel.limit.Reset();
}

CallOutput::~CallOutput()
{
    OutputChannel& channel = Channel();
    if (--channel.callDepth > 0)
        return;
    NoStopHere noStop;
    std::lock_guard lock(channel.mutex);
    if (const QString notes = channel.limit.Finish(); !notes.isEmpty())
        Pending(channel) += notes;
}
