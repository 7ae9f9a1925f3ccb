#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// Reading the compiler's error reports among the lines of "ret.txt" (compile_errors.awk). An
// error report is a line that, split at ":" into at most three pieces, has a line number in
// piece 1, "error" (this case only) in piece 2 and the message in piece 3, as in
//   T.cpp(5) : error: use of undeclared identifier 'x'
// An error that is on no line of the user's keeps the compiler's "file:line:col: error: ..."
// form: its first colon ends piece 1 before any bracket, so it is no report.

// The line number of a source reference: the text up to the first ")" and after the first
// "(" if there is one, "12)" giving 12. Blanks (spaces, tabs) around it are allowed, and one
// sign right before the digits; anything else, or a value outside 32 bits, gives nothing.
std::optional<qint32> SourceLineNumber(QStringView sourceReference);

struct ErrorEntry {
    qint32 line = 0;                // the line of "T.cpp"
    std::optional<QString> message; // piece 3 unchanged; a report without one has no message
};

// The line and message of an entry that reports an error; nothing for any other entry.
std::optional<ErrorEntry> ReadErrorEntry(QStringView entry);
