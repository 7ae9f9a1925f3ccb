#pragma once

#include <QByteArrayView>
#include <QString>

class QPlainTextEdit;

// The pane that PrintOut writes to: the main window's output pane.
void AttachOutputPane(QPlainTextEdit* pane);

// Appends text at the end of the pane and leaves the caret after it with nothing selected, so
// the pane follows the output. CR LF and a lone CR count as one line break each. Inside an
// OutputBatch the write is held back until the outermost batch closes.
//
// Any thread may write: every write joins one queue in the order it was made, so a thread's
// lines printed before its join() come before what its caller prints after. Widgets are only
// touched on their own thread: a write from another thread asks the pane's thread to show the
// queue, which it does when it next runs its event loop, or closes a batch.
void WriteOutput(const QString& text);

// When the current call has already shown all it may (output_limit.h), counts the line breaks
// of text (narrow text: a line feed byte is a line feed in every code page used here) as left
// out, without converting it, and returns true.
bool OmitIfFull(QByteArrayView text);

// While a batch is open, writes are collected and reach the pane as one insertion when the
// outermost batch closes. A module printing line by line would otherwise pay a whole document
// edit per line. Batches belong to the pane's thread.
class OutputBatch {
public:
    OutputBatch();
    ~OutputBatch();
    OutputBatch(const OutputBatch&) = delete;
    OutputBatch& operator=(const OutputBatch&) = delete;
};

// A batch around one call of a module's code, with the call's own allowance of output. When
// the call runs long, what it printed is shown while it runs: once it has run 0.3 s, at most
// every 0.15 s, the pane is appended to and painted at once (the event loop is not running).
class CallOutput {
public:
    CallOutput();
    ~CallOutput();
    CallOutput(const CallOutput&) = delete;
    CallOutput& operator=(const CallOutput&) = delete;

private:
    OutputBatch batch_;
};
