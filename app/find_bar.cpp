#include "find_bar.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextDocument>

namespace {

constexpr int kWidth = 220;
constexpr int kMargin = 4;

} // namespace

FindBar::FindBar(QPlainTextEdit* box) : QLineEdit(box), box_(box)
{
    setObjectName(QStringLiteral("findBar"));
    setPlaceholderText(QStringLiteral("查找"));
    setAccessibleName(QStringLiteral("查找"));
    setClearButtonEnabled(true);
    hide();
    box->installEventFilter(this);
    connect(this, &QLineEdit::textEdited, this, [this] { ShowFound(true); });
}

void FindBar::Open()
{
    PlaceInBox();
    show();
    raise();
    setFocus(Qt::ShortcutFocusReason);
    selectAll();
}

bool FindBar::Find(bool backwards)
{
    if (text().isEmpty())
        return false;
    const QTextDocument* document = box_->document();
    const QTextCursor caret = box_->textCursor();
    QTextCursor found;
    if (backwards) {
        found = document->find(text(), caret.selectionStart(), QTextDocument::FindBackward);
        if (found.isNull())
            found =
                document->find(text(), document->characterCount() - 1, QTextDocument::FindBackward);
    } else {
        found = document->find(text(), caret.selectionEnd());
        if (found.isNull())
            found = document->find(text(), 0);
    }
    ShowFound(!found.isNull());
    if (found.isNull())
        return false;
    box_->setTextCursor(found);
    box_->ensureCursorVisible();
    return true;
}

void FindBar::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        Find(event->modifiers() & Qt::ShiftModifier);
        return;
    }
    if (key == Qt::Key_Escape) {
        hide();
        box_->setFocus(Qt::OtherFocusReason);
        return;
    }
    QLineEdit::keyPressEvent(event);
}

bool FindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == box_ && event->type() == QEvent::Resize && isVisible())
        PlaceInBox();
    return QLineEdit::eventFilter(watched, event);
}

void FindBar::PlaceInBox()
{
    // Over the text's top right corner, left of a vertical scroll bar.
    const QRect area = box_->contentsRect();
    const int scrollBar =
        box_->verticalScrollBar()->isVisible() ? box_->verticalScrollBar()->width() : 0;
    const int width = std::min(kWidth, area.width() - 2 * kMargin);
    setGeometry(area.right() - scrollBar - kMargin - width + 1, area.top() + kMargin, width,
                sizeHint().height());
}

void FindBar::ShowFound(bool found)
{
    QPalette colours = box_->palette();
    if (!found) {
        const QColor base = colours.color(QPalette::Base);
        colours.setColor(QPalette::Base,
                         QColor::fromRgbF(float(base.redF() * 0.6 + 0.4),
                                          float(base.greenF() * 0.75), float(base.blueF() * 0.75)));
    }
    setPalette(colours);
}
