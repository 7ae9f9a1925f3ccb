#include "status_line.h"

#include <QPainter>
#include <QStyle>

namespace {

// Far more than the line can show at any font size.
constexpr qsizetype kMostPainted = 4000;

} // namespace

StatusLine::StatusLine(QWidget* parent) : QLabel(parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(true);
    QPalette red = palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    setPalette(red);
}

void StatusLine::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextWordWrap, palette(),
                          isEnabled(), text().left(kMostPainted), foregroundRole());
}
