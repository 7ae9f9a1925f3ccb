#pragma once

#include <QLineEdit>

class QPlainTextEdit;

// The small find field over the top right corner of a text box. Enter selects the next
// occurrence of its text after the caret (going round to the start at the end), Shift+Enter the
// previous one; case does not count. Escape hides the field and gives the box the focus back,
// the found text selected. A search that finds nothing tints the field.
class FindBar : public QLineEdit {
    Q_OBJECT

public:
    explicit FindBar(QPlainTextEdit* box);

    // Shows the field with its text selected and gives it the focus.
    void Open();
    // Selects the next (or previous) occurrence in the box; false when there is none.
    bool Find(bool backwards);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PlaceInBox();
    void ShowFound(bool found);

    QPlainTextEdit* box_;
};
