#pragma once

#include <QString>

class QPlainTextEdit;

// The editor's whole text, with every line break as "\n" and nothing else changed: what is
// saved as "T.cpp" (MakeCode) and compared with it.
QString EditorText(const QPlainTextEdit* editor);
