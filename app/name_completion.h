#pragma once

#include <QObject>
#include <QStringList>
#include <optional>

class QCompleter;
class QLineEdit;
class QStringListModel;

// The function names of the last module built, offered in a popup under the name box as the
// user types (case does not count), and the likely one meant by a name the module lacks.
class NameCompletion : public QObject {
    Q_OBJECT

public:
    explicit NameCompletion(QLineEdit* nameBox);

    void SetNames(const QStringList& names);
    QStringList Names() const { return names_; }
    QCompleter* Completer() const { return completer_; }

    // The name that `typed` most likely meant: one that differs only in case, else the one
    // closest by edits (insert, delete, replace or swap two neighbours of a character) when it
    // is close enough for a slip of the hand: one edit, two for names of six characters or
    // more. Nothing when no name is that close or two are equally close.
    std::optional<QString> LikelyName(const QString& typed) const;

private:
    QStringList names_;
    QStringListModel* model_;
    QCompleter* completer_;
};
