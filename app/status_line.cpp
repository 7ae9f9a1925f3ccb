#include "status_line.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTextOption>
#include <QToolTip>
#include <algorithm>

namespace {

// Far more than the line can show at any font size.
constexpr qsizetype kMostPainted = 4000;

} // namespace

StatusLine::StatusLine(QWidget* parent) : QLabel(parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(true);
    SetWarning(false);
    setCursor(Qt::IBeamCursor);
    setFocusPolicy(Qt::NoFocus);
}

void StatusLine::SetWarning(bool warning)
{
    warning_ = warning;
    QPalette colours = palette();
    const bool dark = colours.color(QPalette::Window).lightness() < 128;
    const QColor amber = dark ? QColor(0xF0, 0xB0, 0x30) : QColor(0xA8, 0x62, 0x00);
    colours.setColor(QPalette::WindowText, warning ? amber : QColor(255, 0, 0));
    setPalette(colours);
}

bool StatusLine::IsCut()
{
    LayOut();
    return cut_;
}

bool StatusLine::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (IsCut())
            QToolTip::showText(help->globalPos(),
                               QStringLiteral("<p>") + text().left(kMostPainted).toHtmlEscaped() +
                                   QStringLiteral("</p>"),
                               this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

void StatusLine::LayOut()
{
    const QString shown = text().left(kMostPainted);
    const int width = contentsRect().width();
    if (shown == laidOutText_ && width == laidOutWidth_ && font() == laidOutFont_)
        return;
    if (shown != laidOutText_)
        anchor_ = caret_ = 0; // a new message drops the old selection
    laidOutText_ = shown;
    laidOutWidth_ = width;
    laidOutFont_ = font();

    layout_.setText(shown);
    layout_.setFont(font());
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout_.setTextOption(option);
    layout_.beginLayout();
    // Lines below the bottom edge are never shown: stop there.
    qreal y = 0;
    const int height = contentsRect().height();
    while (y < height) {
        QTextLine line = layout_.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout_.endLayout();

    // The lines that fit whole; when text is left below them, the last of them is elided.
    shownLines_ = 0;
    for (int i = 0; i < layout_.lineCount(); ++i) {
        const QTextLine line = layout_.lineAt(i);
        if (i > 0 && line.y() + line.height() > height)
            break;
        shownLines_ = i + 1;
    }
    cut_ = false;
    if (shownLines_ > 0) {
        const QTextLine last = layout_.lineAt(shownLines_ - 1);
        cut_ = last.textStart() + last.textLength() < text().size();
    }
}

void StatusLine::paintEvent(QPaintEvent*)
{
    LayOut();
    QPainter painter(this);
    painter.setClipRect(contentsRect());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    QList<QTextLayout::FormatRange> selections;
    if (anchor_ != caret_) {
        QTextLayout::FormatRange selected;
        selected.start = std::min(anchor_, caret_);
        selected.length = std::abs(caret_ - anchor_);
        selected.format.setBackground(palette().brush(QPalette::Highlight));
        selected.format.setForeground(palette().brush(QPalette::HighlightedText));
        selections.append(selected);
    }
    if (!cut_) {
        layout_.draw(&painter, contentsRect().topLeft(), selections);
        return;
    }
    // All but the last shown line as laid out; that one with the rest of the text, elided.
    const QTextLine last = layout_.lineAt(shownLines_ - 1);
    painter.save();
    painter.setClipRect(
        QRectF(contentsRect().topLeft(), QSizeF(contentsRect().width(), last.y())).toRect());
    layout_.draw(&painter, contentsRect().topLeft(), selections);
    painter.restore();
    QString rest = laidOutText_.mid(last.textStart());
    rest.replace(u'\n', u' ');
    const QString elided = fontMetrics().elidedText(rest, Qt::ElideRight, contentsRect().width());
    painter.drawText(QRectF(contentsRect().left(), contentsRect().top() + last.y(),
                            contentsRect().width(), last.height()),
                     Qt::AlignLeft | Qt::AlignTop, elided);
}

int StatusLine::PositionAt(const QPoint& point)
{
    LayOut();
    const QPointF at = point - contentsRect().topLeft();
    if (layout_.lineCount() == 0)
        return 0;
    for (int i = 0; i < layout_.lineCount(); ++i) {
        const QTextLine line = layout_.lineAt(i);
        if (at.y() < line.y() + line.height())
            return line.xToCursor(at.x());
    }
    const QTextLine last = layout_.lineAt(layout_.lineCount() - 1);
    return last.textStart() + last.textLength();
}

QString StatusLine::SelectedText() const
{
    const int start = std::min(anchor_, caret_);
    return laidOutText_.mid(start, std::abs(caret_ - anchor_));
}

void StatusLine::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QLabel::mousePressEvent(event);
    anchor_ = caret_ = PositionAt(event->position().toPoint());
    update();
}

void StatusLine::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return QLabel::mouseMoveEvent(event);
    caret_ = PositionAt(event->position().toPoint());
    update();
}

void StatusLine::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QLabel::mouseReleaseEvent(event);
    caret_ = PositionAt(event->position().toPoint());
    QClipboard* clipboard = QApplication::clipboard();
    if (anchor_ != caret_ && clipboard->supportsSelection())
        clipboard->setText(SelectedText(), QClipboard::Selection);
    update();
}

void StatusLine::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The whole message, as it is usually wanted whole.
    if (event->button() != Qt::LeftButton)
        return QLabel::mouseDoubleClickEvent(event);
    LayOut();
    anchor_ = 0;
    caret_ = int(laidOutText_.size());
    update();
}

void StatusLine::contextMenuEvent(QContextMenuEvent* event)
{
    LayOut();
    QMenu menu(this);
    QAction* copy = menu.addAction(QStringLiteral("复制"), this,
                                   [this] { QApplication::clipboard()->setText(SelectedText()); });
    copy->setEnabled(anchor_ != caret_);
    menu.addAction(QStringLiteral("复制全部"), this,
                   [this] { QApplication::clipboard()->setText(text()); });
    menu.exec(event->globalPos());
}
