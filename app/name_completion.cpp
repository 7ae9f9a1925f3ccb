#include "name_completion.h"

#include <QCompleter>
#include <QLineEdit>
#include <QStringListModel>
#include <algorithm>
#include <vector>

namespace {

// Edits between a and b, case ignored: insertions, deletions, replacements and swaps of two
// neighbouring characters (optimal string alignment).
qsizetype EditDistance(const QString& a, const QString& b)
{
    const QString x = a.toCaseFolded();
    const QString y = b.toCaseFolded();
    const qsizetype rows = x.size() + 1;
    const qsizetype columns = y.size() + 1;
    std::vector<qsizetype> d(size_t(rows * columns));
    auto at = [&](qsizetype i, qsizetype j) -> qsizetype& { return d[size_t(i * columns + j)]; };
    for (qsizetype i = 0; i < rows; ++i)
        at(i, 0) = i;
    for (qsizetype j = 0; j < columns; ++j)
        at(0, j) = j;
    for (qsizetype i = 1; i < rows; ++i) {
        for (qsizetype j = 1; j < columns; ++j) {
            const qsizetype cost = x[i - 1] == y[j - 1] ? 0 : 1;
            at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + cost});
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1])
                at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
        }
    }
    return at(rows - 1, columns - 1);
}

} // namespace

NameCompletion::NameCompletion(QLineEdit* nameBox)
    : QObject(nameBox), model_(new QStringListModel(this)), completer_(new QCompleter(this))
{
    completer_->setModel(model_);
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setCompletionMode(QCompleter::PopupCompletion);
    completer_->setModelSorting(QCompleter::CaseInsensitivelySortedModel);
    nameBox->setCompleter(completer_);
}

void NameCompletion::SetNames(const QStringList& names)
{
    names_ = names;
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    model_->setStringList(sorted);
}

std::optional<QString> NameCompletion::LikelyName(const QString& typed) const
{
    const QString trimmed = typed.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    std::optional<QString> best;
    qsizetype bestDistance = trimmed.size() >= 6 ? 2 : 1;
    bool tie = false;
    for (const QString& name : names_) {
        if (name == typed)
            return std::nullopt; // it is there: nothing to suggest
        if (name.compare(trimmed, Qt::CaseInsensitive) == 0)
            return name;
        const qsizetype distance = EditDistance(trimmed, name);
        if (distance < bestDistance || (distance == bestDistance && !best)) {
            best = name;
            bestDistance = distance;
            tie = false;
        } else if (distance == bestDistance) {
            tie = true;
        }
    }
    return tie ? std::nullopt : best;
}
