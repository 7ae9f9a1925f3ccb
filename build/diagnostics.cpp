#include "diagnostics.h"

#include "narrow_text.h"
#include "result_file.h"
#include "source_file.h"

#include <QFile>
#include <QRegularExpression>

namespace {

// Far more than any window shows; a runaway log stops here.
constexpr qsizetype kMostFields = 20000;

struct Field {
    QString kind;
    std::optional<qint32> sourceLine;
    QString place;
    QString text;
};

std::optional<Field> ReadField(const QString& field)
{
    // The place ends at the first ": kind: " (a header's place has colons of its own).
    static const QRegularExpression form(
        QStringLiteral(
            R"(^(.*?) ?: ?(fatal error|error|internal compiler error|warning|note): (.*)$)"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression userPlace(QStringLiteral(R"(^T\.cpp\(([0-9]+)\)$)"));
    const QRegularExpressionMatch match = form.match(field);
    if (!match.hasMatch())
        return std::nullopt;
    Field result{match.captured(2), std::nullopt, match.captured(1), match.captured(3)};
    const QRegularExpressionMatch user = userPlace.match(result.place);
    bool ok = false;
    const qint32 line = user.hasMatch() ? user.captured(1).toInt(&ok) : 0;
    if (ok && EditorLine(line))
        result.sourceLine = line;
    return result;
}

} // namespace

QList<Diagnostic> ParseDiagnostics(const QStringList& fields)
{
    QList<Diagnostic> diagnostics;
    for (qsizetype i = 1; i < fields.size(); ++i) {
        const std::optional<Field> field = ReadField(fields[i]);
        if (!field)
            continue;
        if (field->kind == u"note") {
            if (!diagnostics.isEmpty())
                diagnostics.last().notes.append({field->sourceLine, field->place, field->text});
            continue;
        }
        Diagnostic diagnostic;
        diagnostic.isError = field->kind != u"warning";
        diagnostic.sourceLine = field->sourceLine;
        diagnostic.place = field->place;
        diagnostic.message = field->text;
        diagnostics.append(diagnostic);
    }
    return diagnostics;
}

QList<Diagnostic> ReadDiagnosticsFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    ResultFieldReader reader(file);
    QStringList fields;
    while (fields.size() < kMostFields && !reader.AtEnd()) {
        const QByteArray field = reader.Next();
        if (reader.Failed())
            break;
        fields.append(FromNarrow(field));
    }
    return ParseDiagnostics(fields);
}

QString FirstWarningText(const QList<Diagnostic>& diagnostics)
{
    // The compilers order warnings differently (g++ by function): the topmost line is first.
    const Diagnostic* first = nullptr;
    for (const Diagnostic& diagnostic : diagnostics) {
        if (diagnostic.isError)
            continue;
        if (!first || (diagnostic.sourceLine &&
                       (!first->sourceLine || *diagnostic.sourceLine < *first->sourceLine)))
            first = &diagnostic;
    }
    if (!first)
        return {};
    const std::optional<qint64> line =
        first->sourceLine ? EditorLine(*first->sourceLine) : std::nullopt;
    const QString place = line ? QStringLiteral("第 %1 行").arg(*line) : first->place;
    return place + QStringLiteral("：") + first->message;
}
