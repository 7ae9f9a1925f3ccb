#include "busy_input.h"

#include <QEvent>
#include <QInputEvent>
#include <ctime>

namespace {

bool IsUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
        return true;
    default:
        return false;
    }
}

} // namespace

BusyInputFilter::BusyInputFilter(QObject* parent) : QObject(parent) {}

std::uint64_t BusyInputFilter::Now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1000 + std::uint64_t(now.tv_nsec) / 1000000;
}

void BusyInputFilter::Begin()
{
    if (depth_++ == 0)
        busyFrom_ = busyUntil_ = std::uint32_t(Now());
}

void BusyInputFilter::End()
{
    if (--depth_ == 0)
        busyUntil_ = std::uint32_t(Now());
}

void BusyInputFilter::FreeNow()
{
    busyUntil_ = std::uint32_t(Now());
}

bool BusyInputFilter::MadeWhileBusy(std::uint64_t timestamp) const
{
    // The window system's clock is 32 bits wide and wraps around every 49 days.
    const auto stamp = std::uint32_t(timestamp);
    return timestamp != 0 && busyUntil_ != busyFrom_ &&
           std::uint32_t(stamp - busyFrom_) <= std::uint32_t(busyUntil_ - busyFrom_);
}

bool BusyInputFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (IsUserInput(event->type()) &&
        MadeWhileBusy(static_cast<const QInputEvent*>(event)->timestamp())) {
        // An accepted shortcut override keeps the key from reaching the window's shortcuts too.
        event->accept();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
