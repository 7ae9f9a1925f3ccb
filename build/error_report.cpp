#include "error_report.h"

#include <limits>

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

std::optional<qint32> SourceLineNumber(QStringView sourceReference)
{
    // p and q count from 1, with 0 for a missing bracket; the q - p - 1 characters after
    // position p are the number. A negative count (no ")", or ")" before "(") fails.
    const qsizetype p = sourceReference.indexOf(u'(') + 1;
    const qsizetype q = sourceReference.indexOf(u')') + 1;
    const qsizetype count = q - p - 1;
    if (count < 0)
        return std::nullopt;
    QStringView text = sourceReference.mid(p, count);

    while (!text.isEmpty() && IsBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && IsBlank(text.back()))
        text.chop(1);
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'-' || text.front() == u'+')) {
        negative = text.front() == u'-';
        text = text.sliced(1);
    }
    if (text.isEmpty())
        return std::nullopt;

    qint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            return std::nullopt; // stops long digit runs before they overflow
    }
    if (negative)
        value = -value;
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(value);
}

std::optional<ErrorEntry> ReadErrorEntry(QStringView entry)
{
    const qsizetype firstColon = entry.indexOf(u':');
    if (firstColon < 0)
        return std::nullopt;
    const qsizetype secondColon = entry.indexOf(u':', firstColon + 1);
    const QStringView piece2 = secondColon < 0
                                   ? entry.sliced(firstColon + 1)
                                   : entry.sliced(firstColon + 1, secondColon - firstColon - 1);
    if (!piece2.contains(QStringLiteral("error"), Qt::CaseSensitive))
        return std::nullopt;
    const std::optional<qint32> line = SourceLineNumber(entry.first(firstColon));
    if (!line)
        return std::nullopt;

    ErrorEntry result;
    result.line = *line;
    if (secondColon >= 0)
        result.message = entry.sliced(secondColon + 1).toString();
    return result;
}
