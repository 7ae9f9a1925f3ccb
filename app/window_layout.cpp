#include "window_layout.h"

#include <QEvent>
#include <QWidget>
#include <algorithm>

WindowLayout::WindowLayout(QWidget* window)
    : QObject(window), window_(window), start_(window->size())
{
    window->setMinimumSize(start_);
    window->installEventFilter(this);
}

void WindowLayout::Add(QWidget* control, Follows follows)
{
    placements_.push_back({control, control->geometry(), follows});
}

void WindowLayout::Apply()
{
    const int wider = std::max(0, window_->width() - start_.width());
    const int taller = std::max(0, window_->height() - start_.height());
    const int leftWider = wider / 2;
    const int rightWider = wider - leftWider;
    // Frames first: a control inside one follows its frame's growth.
    for (const Placement& placement : placements_) {
        QRect place = placement.start;
        switch (placement.rule) {
        case Follows::LeftPane:
            place.adjust(0, 0, leftWider, taller);
            break;
        case Follows::RightPane:
            place.adjust(leftWider, 0, leftWider + rightWider, taller);
            break;
        case Follows::LeftBelow:
            place.translate(0, taller);
            break;
        case Follows::RightBelow:
            place.translate(leftWider, taller);
            place.setWidth(placement.start.width() + rightWider);
            break;
        case Follows::InsideFrame:
            continue;
        }
        placement.control->setGeometry(place);
    }
    for (const Placement& placement : placements_) {
        if (placement.rule != Follows::InsideFrame)
            continue;
        const QWidget* frame = placement.control->parentWidget();
        const auto frameStart =
            std::find_if(placements_.begin(), placements_.end(),
                         [frame](const Placement& p) { return p.control == frame; });
        QRect place = placement.start;
        if (frameStart != placements_.end())
            place.adjust(0, 0, frame->width() - frameStart->start.width(),
                         frame->height() - frameStart->start.height());
        placement.control->setGeometry(place);
    }
}

bool WindowLayout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_ && event->type() == QEvent::Resize)
        Apply();
    return QObject::eventFilter(watched, event);
}
