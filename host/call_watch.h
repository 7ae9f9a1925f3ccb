#pragma once

#include <QString>
#include <optional>

// While the window's thread runs a module's code it cannot draw: a small helper process,
// started once, watches each guarded call and, when one runs long, shows a window of its own with
// a stop button. Pressed, it sends the calling thread the stop signal (StopSignal()), tagged with
// the call's ticket, again and again until the call has ended; the crash guard ends the call at
// the first point where that is safe.
//
// Messages go over a socket pair: "begin <ticket> <thread> <signal> <label>", "end <ticket>" and
// "press" to the helper; "shown <ticket> <ms>" back when the window appears, with the time on the
// machine's monotonic clock.

// Starts the helper program (once per process; later calls do nothing). False when it could
// not be started: calls then run unwatched, as before. Start it from main(), never from library
// code that the tests load.
bool StartCallWatch(const QString& program);

// The signal that asks the window's thread to stop its call.
int StopSignal();

// The ticket of the guarded call now running on the window's thread, 0 when none is.
// Async-signal-safe.
int WatchedTicket();

// Tells the helper of one guarded call from construction to destruction. label says what runs:
// "函数 “Loop”" for an entry.
class WatchedCall {
public:
    explicit WatchedCall(const QString& label);
    ~WatchedCall();
    WatchedCall(const WatchedCall&) = delete;
    WatchedCall& operator=(const WatchedCall&) = delete;

    int Ticket() const { return ticket_; }

private:
    int ticket_ = 0;
    int outerTicket_ = 0;
};

// For tests: the helper presses its stop button as soon as the window of the next long call
// shows.
void PressStopWhenShown();

// When the helper showed the window of the call with this ticket, in milliseconds of the
// monotonic clock; nothing when it did not (or has not said so yet).
std::optional<qint64> StopWindowShownAt(int ticket);

// The ticket of the last call started.
int LastWatchedTicket();
