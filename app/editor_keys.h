#pragma once

class QPlainTextEdit;

// The editing keys of the code editor, each working on the editor's cursor as one undo step.
// Indentation is in steps of four spaces.
namespace EditorKeys {

constexpr int kIndentWidth = 4;

// Tab with a selection over several lines: four more spaces at the start of each line that
// holds text; the lines stay selected. Returns false (nothing done) for a caret or a
// selection within one line.
bool IndentLines(QPlainTextEdit* editor);

// Shift+Tab: up to four spaces (or one tab) less at the start of each selected line, or of the
// caret's line when nothing is selected.
void DedentLines(QPlainTextEdit* editor);

// Enter: a new line with the indentation of the text before the caret, four spaces more when
// that text ends with "{".
void NewLine(QPlainTextEdit* editor);

// "}" typed where only blanks precede it on the line: the line takes the indentation of the
// line holding the matching "{". Returns false when that does not apply (the key is typed as
// usual).
bool CloseBrace(QPlainTextEdit* editor);

// Backspace with the caret in the line's leading spaces and nothing selected: back to the
// previous multiple of four. Returns false when that does not apply.
bool BackspaceIndentation(QPlainTextEdit* editor);

// Ctrl+/: puts "// " in front of the selected lines (or the caret's line), at the smallest
// indentation among them; when every one of them that holds text is already a "//" comment,
// takes the marks away again. Lines of blanks only are left alone. Pressed twice, it gives back
// the text it started from.
void ToggleComment(QPlainTextEdit* editor);

} // namespace EditorKeys
