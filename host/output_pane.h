#pragma once

#include <QString>

class QPlainTextEdit;

// The pane that PrintOut writes to: the main window's output pane.
void AttachOutputPane(QPlainTextEdit* pane);

// Puts text into the pane at character 60000 or at its end, whichever comes first, and leaves
// the caret after it with nothing selected. CR LF and a lone CR count as one line break each.
// Inside an OutputBatch the write is held back until the outermost batch closes.
void WriteOutput(const QString& text);

// While a batch is open, writes are collected and reach the pane as one insertion when the
// outermost batch closes, with exactly the text and caret that writing them one by one gives.
// A module printing line by line would otherwise pay a whole document edit per line.
class OutputBatch {
public:
    OutputBatch();
    ~OutputBatch();
    OutputBatch(const OutputBatch&) = delete;
    OutputBatch& operator=(const OutputBatch&) = delete;
};
