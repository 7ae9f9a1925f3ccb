#pragma once

#include <QLabel>
#include <QTextLayout>

// The status line: red for a failure, amber for a build's first warning. Its text wraps, and
// when it does not fit, its last shown line ends in "…" and pointing at it shows it whole.
// Only the first few thousand characters are painted: a runaway message (a script that wrote
// megabytes into one line) must not stall every repaint of the window. text() stays whole.
// The shown text can be selected with the mouse and copied from the context menu (复制全部
// copies all of it); the line never takes the keyboard focus.
class StatusLine : public QLabel {
    Q_OBJECT

public:
    explicit StatusLine(QWidget* parent = nullptr);

    QString SelectedText() const;
    // A warning rather than a failure: not in the error red. setText() leaves it as it is.
    void SetWarning(bool warning);
    bool IsWarning() const { return warning_; }
    // Whether the text did not fit at the last layout: its end is cut off with "…".
    bool IsCut();

protected:
    bool event(QEvent* event) override;
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
    bool warning_ = false;
    // The lines wholly inside the line's height, at least one; the last ends in "…" when cut.
    int shownLines_ = 0;
    bool cut_ = false;
};
