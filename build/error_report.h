#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

// Finding the compiler's error reports among the entries of a failed compile. An error report
// is an entry that, split at ":" into at most three pieces, has a line number in piece 1,
// "error" (this case only) in piece 2 and the message in piece 3, as in
//   T.cpp(5) : error C2065: 'x' : undeclared identifier
// A drive letter's colon ends piece 1 early, so "C:\work\T.cpp(5) : error ..." is no report.

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

// L - 3: how many lines below the start of the editor's text "T.cpp" line `line` lies (the two
// include lines and the first editor line come first); nothing on 32-bit overflow, which also
// marks a line number that no report can be taken from.
std::optional<qint32> DownCount(qint32 line);

struct ErrorReport {
    qsizetype index = 0;
    qint32 line = 0;
    QString message;
};

// The first complete error report among entries 1 onward (entry 0 is never one): with a
// message and a line whose DownCount exists.
std::optional<ErrorReport> FindErrorReport(const QStringList& info);
