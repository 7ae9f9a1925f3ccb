#pragma once

class QPlainTextEdit;
class QWidget;

// The window-wide keys of the two panes:
//   Ctrl+F  a find field over the editor (find_bar.h);
//   Ctrl+G  asks for a line number and puts the editor's caret at the start of that line;
//   Ctrl+= (also Ctrl++), Ctrl+-, Ctrl+0  a larger, smaller and the starting font size, for
//   the editor and the output pane together.
void AttachEditorCommands(QWidget* window, QPlainTextEdit* editor, QPlainTextEdit* output);

// Asks for a line number (a dialog modal to the editor's window) and goes there.
void GoToLine(QPlainTextEdit* editor);
