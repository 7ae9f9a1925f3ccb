#include "bracket_match.h"

#include <QTextBlock>
#include <QTextDocument>

namespace {

// Characters looked at in either direction before the search gives up.
constexpr int kSearchLimit = 200000;

const QString kOpening = QStringLiteral("([{");
const QString kClosing = QStringLiteral(")]}");

std::optional<int> FindMatch(const QTextDocument* document, int position, QChar bracket)
{
    const qsizetype opening = kOpening.indexOf(bracket);
    const bool forward = opening >= 0;
    const QChar own = bracket;
    const QChar other = forward ? kClosing[opening] : kOpening[kClosing.indexOf(bracket)];
    int depth = 0;
    int looked = 0;
    QTextBlock block = document->findBlock(position);
    int offset = position - block.position();
    while (block.isValid() && looked < kSearchLimit) {
        const QString text = block.text();
        if (forward) {
            for (int i = offset + 1; i < text.size(); ++i, ++looked) {
                if (text[i] == own)
                    ++depth;
                else if (text[i] == other && depth-- == 0)
                    return block.position() + i;
            }
            block = block.next();
            offset = -1;
        } else {
            for (int i = offset - 1; i >= 0; --i, ++looked) {
                if (text[i] == own)
                    ++depth;
                else if (text[i] == other && depth-- == 0)
                    return block.position() + i;
            }
            block = block.previous();
            offset = block.isValid() ? int(block.text().size()) : 0;
        }
        ++looked;
    }
    return std::nullopt;
}

bool IsBracket(QChar ch)
{
    return kOpening.contains(ch) || kClosing.contains(ch);
}

} // namespace

std::optional<std::pair<int, int>> MatchingBrackets(const QTextDocument* document, int caret)
{
    for (const int position : {caret, caret - 1}) {
        if (position < 0 || position >= document->characterCount())
            continue;
        const QChar ch = document->characterAt(position);
        if (!IsBracket(ch))
            continue;
        if (const std::optional<int> match = FindMatch(document, position, ch))
            return std::pair(position, *match);
        return std::nullopt;
    }
    return std::nullopt;
}
