#pragma once

#include "step_result.h"

#include <QString>
#include <optional>

// "T.cpp" in the work folder holds the user's code behind two fixed include lines, in the
// narrow code page with CR LF line breaks. Line L of the file is line L - 2 of the editor.

// The editor line (from 1) that holds line `fileLine` of "T.cpp"; nothing for the include lines.
std::optional<qint64> EditorLine(qint32 fileLine);

// Writes the two include lines, the text (line breaks as CR LF) and a final CR LF, replacing
// "T.cpp" in one step: a new file beside it, written and synced, then renamed over it. On any
// failure "T.cpp" is left as it was and the message says why, in words: the disk is full, the
// folder is read-only, "T.cpp" is a folder, or a character of the text has no place in the
// narrow code page (named, with its line).
StepResult WriteSourceFile(const QString& workDir, const QString& editorText);

// Everything after the file's second CR LF, less the one CR LF that WriteSourceFile adds after the
// text (when the file ends with one), with "\n" line breaks; nothing when the file is missing,
// unreadable or has fewer than two CR LF. When the folder exists but the file does not, an empty
// "T.cpp" is left behind.
std::optional<QString> RestoreCode(const QString& workDir);
