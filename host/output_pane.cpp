#include "output_pane.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <optional>
#include <utility>

namespace {

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
    QPointer<QPlainTextEdit> pane;
    int batchDepth = 0;
    std::optional<QString> pending; // engaged once anything was written, even ""
};

OutputChannel& Channel()
{
    static OutputChannel channel;
    return channel;
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

} // namespace

void AttachOutputPane(QPlainTextEdit* pane)
{
    Channel().pane = pane;
}

void WriteOutput(const QString& text)
{
    if (!OnPaneThread()) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [text] { WriteOutput(text); }, Qt::QueuedConnection);
        return;
    }
    OutputBatch batch;
    OutputChannel& channel = Channel();
    if (!channel.pane)
        return;
    if (!channel.pending)
        channel.pending.emplace();
    *channel.pending += WithLineFeeds(text);
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
    const std::optional<QString> text = std::exchange(channel.pending, std::nullopt);
    if (text && channel.pane)
        Append(*channel.pane, *text);
}
