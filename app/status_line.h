#pragma once

#include <QLabel>

// The red status line. Its text wraps and what does not fit is cut off at the bottom edge.
// Only the first few thousand characters are painted: a runaway message (a script that wrote
// megabytes into one line) must not stall every repaint of the window. text() stays whole.
class StatusLine : public QLabel {
    Q_OBJECT

public:
    explicit StatusLine(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
