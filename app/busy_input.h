#pragma once

#include <QObject>
#include <cstdint>

class QEvent;

// While a Run keeps the window's thread busy (a build, a call of the module's code), the
// window system queues whatever the user clicks and types; when the thread comes free, all of
// it would be delivered, and a click on 运行！ made meanwhile would run the whole call again.
// Installed on the application, this filter drops input that was made while the window was
// busy. It tells that input by its timestamp: the window system stamps input with its clock in
// milliseconds, the same monotonic clock as this machine's (a display elsewhere has another
// clock, and then nothing is dropped).
class BusyInputFilter : public QObject {
    Q_OBJECT

public:
    explicit BusyInputFilter(QObject* parent = nullptr);

    // The window's thread is busy from now until the matching End.
    void Begin();
    void End();
    // The busy part is over though the Run goes on (a message box about to wait for the user):
    // input made until now is dropped, later input is not.
    void FreeNow();

    // Whether input stamped with this time was made during the last busy time.
    bool MadeWhileBusy(std::uint64_t timestamp) const;

    // This machine's monotonic clock in milliseconds, as the window system stamps input.
    static std::uint64_t Now();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int depth_ = 0;
    std::uint32_t busyFrom_ = 0;
    std::uint32_t busyUntil_ = 0;
};

// Marks the window busy for the life of the object.
class BusyTime {
public:
    explicit BusyTime(BusyInputFilter& filter) : filter_(filter) { filter_.Begin(); }
    ~BusyTime() { filter_.End(); }
    BusyTime(const BusyTime&) = delete;
    BusyTime& operator=(const BusyTime&) = delete;

private:
    BusyInputFilter& filter_;
};
