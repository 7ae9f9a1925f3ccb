#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// Every error and warning of the last compile, as MyCL.bat leaves them in "diag.txt"
// (compile_errors.awk with all=1): fields as in "ret.txt", the first the source file's name,
// then one per diagnostic,
//   T.cpp(7) : warning: unused variable 'x' [-Wunused-variable]
// each followed by its notes,
//   T.cpp(3) : note: expanded from macro 'SCALE'
//   /usr/include/c++/12/bits/stl_algo.h:1809:14 : note: required from ...
// A place without "T.cpp(L)" is the compiler's own (a header, or no line of the user's).

struct DiagnosticNote {
    std::optional<qint32> sourceLine; // the line of "T.cpp"
    QString place;                    // the compiler's place when there is no such line
    QString text;
};

struct Diagnostic {
    bool isError = true; // otherwise a warning
    std::optional<qint32> sourceLine;
    QString place;
    QString message;
    QList<DiagnosticNote> notes;
};

// The diagnostics of the fields of "diag.txt" (field 0, the file name, is not one). A note
// before any diagnostic, or a field of another form, is passed over.
QList<Diagnostic> ParseDiagnostics(const QStringList& fields);

// The same for the file; a missing or unreadable file has none.
QList<Diagnostic> ReadDiagnosticsFile(const QString& path);

// The warning on the topmost line, for the status line: "第 N 行：" (N the editor's line) and its
// message; the compiler's place instead when it names no line of the user's. Empty with no warning.
QString FirstWarningText(const QList<Diagnostic>& diagnostics);
