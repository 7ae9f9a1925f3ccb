#pragma once

#include <QString>

class QPlainTextEdit;

// The pane that PrintOut writes to: the main window's output pane.
void AttachOutputPane(QPlainTextEdit* pane);

// Appends text at the end of the pane and leaves the caret after it with nothing selected, so
// the pane follows the output. CR LF and a lone CR count as one line break each. Inside an
// OutputBatch the write is held back until the outermost batch closes. Called on another
// thread (one that a module started), the text is handed to the pane's thread and appended
// when that thread next runs its event loop: widgets are only touched on their own thread.
void WriteOutput(const QString& text);

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
