#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

// Lets the main window grow from the size it was laid out at. Every control keeps the place it
// was given at that size; what the window has more goes to the two panes: they share the extra
// width (the left one takes the odd pixel less) and take all of the extra height, and the row
// below them moves down with them. The window cannot get smaller than its starting size.
class WindowLayout : public QObject {
    Q_OBJECT

public:
    // How a control follows the window: it is the left or the right pane (a frame), it is in the
    // row below under the left or the right pane, or it fills a frame that grows.
    enum class Follows { LeftPane, RightPane, LeftBelow, RightBelow, InsideFrame };

    // The window's size now is its starting size.
    explicit WindowLayout(QWidget* window);

    // The control's present geometry is its place at the starting size.
    void Add(QWidget* control, Follows follows);

    // Places every control for the window's size.
    void Apply();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Placement {
        QWidget* control;
        QRect start;
        Follows rule;
    };

    QWidget* window_;
    QSize start_;
    std::vector<Placement> placements_;
};
