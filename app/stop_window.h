#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;
class QSocketNotifier;

// The helper's one window. Vornak tells it over a socket when a call of a module's code begins
// and ends; a call that runs long gets this window, "函数 “Loop” 已运行 3 秒" and a stop button.
// Pressed, the button sends Vornak's calling thread the stop signal, tagged with the call's
// ticket, every few milliseconds until the call has ended: Vornak stops it at the first safe
// point and ignores a signal meant for a call that is over.
class StopWindow : public QWidget {
    Q_OBJECT

public:
    StopWindow(int socket, pid_t vornak);

private:
    void ReadMessages();
    void Begin(const QByteArray& arguments);
    void End(int ticket);
    void Tick();
    void Stop();
    void SendStopSignal();
    void Reply(const QByteArray& message);

    int socket_;
    pid_t vornak_;
    QSocketNotifier* notifier_ = nullptr;
    QLabel* text_ = nullptr;
    QPushButton* stop_ = nullptr;
    QTimer tick_;
    QTimer resend_;
    QElapsedTimer running_;

    int ticket_ = 0; // the call now running; 0 when none is
    pid_t thread_ = 0;
    int signal_ = 0;
    QString label_;
    bool pressWhenShown_ = false; // kept until a window shows
};
