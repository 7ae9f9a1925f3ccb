#pragma once

#include <QString>
#include <optional>

class QPlainTextEdit;

// "T.cpp" in the work folder holds the user's code behind two fixed include lines, in the
// narrow code page with CR LF line breaks. Line L of the file is line L - 2 of the editor.

// The editor's whole text, with every line break as "\n" and nothing else changed.
QString EditorText(const QPlainTextEdit* editor);

// Writes the two include lines, the text (line breaks as CR LF) and a final CR LF.
// False on any failure; an existing file is then left as it was.
bool MakeCode(const QString& workDir, const QString& editorText);

// Everything after the file's second CR LF, with "\n" line breaks; nothing when the file is
// missing, unreadable or has fewer than two CR LF. When the folder exists but the file does
// not, an empty "T.cpp" is left behind.
std::optional<QString> RestoreCode(const QString& workDir);
