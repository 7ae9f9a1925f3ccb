#pragma once

class QPlainTextEdit;

// The pane that PrintOut writes to: the main window's output pane.
void AttachOutputPane(QPlainTextEdit* pane);
