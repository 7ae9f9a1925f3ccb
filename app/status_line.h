#pragma once

#include <QLabel>
#include <QTextLayout>

// The red status line. Its text wraps and what does not fit is cut off at the bottom edge.
// Only the first few thousand characters are painted: a runaway message (a script that wrote
// megabytes into one line) must not stall every repaint of the window. text() stays whole.
// The shown text can be selected with the mouse and copied from the context menu; the line
// never takes the keyboard focus.
class StatusLine : public QLabel {
    Q_OBJECT

public:
    explicit StatusLine(QWidget* parent = nullptr);

    QString SelectedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Lays out the painted part of the text when it or the width changed.
    void LayOut();
    int PositionAt(const QPoint& point);

    QTextLayout layout_;
    QString laidOutText_;
    int laidOutWidth_ = -1;
    QFont laidOutFont_;
    int anchor_ = 0;
    int caret_ = 0;
};
