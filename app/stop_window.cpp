#include "stop_window.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <csignal>
#include <ctime>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// How long a call runs before the window shows, and how often a pressed stop is sent again
// while the call has not come to a point where it can stop.
constexpr int kShowAfterMs = 1500;
constexpr int kResendMs = 10;

} // namespace

StopWindow::StopWindow(int socket, pid_t vornak) : socket_(socket), vornak_(vornak)
{
    setObjectName(QStringLiteral("StopWindow"));
    setWindowTitle(QStringLiteral("Vornak"));
    setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint);
    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("lblRunning"));
    stop_ = new QPushButton(QStringLiteral("停止"), this);
    stop_->setObjectName(QStringLiteral("cmdStop"));
    stop_->setAccessibleName(QStringLiteral("停止"));
    stop_->setDefault(true);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(text_, 1);
    layout->addWidget(stop_);
    setMinimumWidth(320);

    notifier_ = new QSocketNotifier(socket_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopWindow::ReadMessages);
    connect(stop_, &QPushButton::clicked, this, &StopWindow::Stop);
    tick_.setInterval(100);
    connect(&tick_, &QTimer::timeout, this, &StopWindow::Tick);
    resend_.setInterval(kResendMs);
    connect(&resend_, &QTimer::timeout, this, &StopWindow::SendStopSignal);
}

void StopWindow::ReadMessages()
{
    char buffer[4096];
    for (;;) {
        const ssize_t size = recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (size == 0 || (size < 0 && errno != EAGAIN && errno != EINTR)) {
            QApplication::quit(); // Vornak has ended
            return;
        }
        if (size < 0)
            return;
        const QByteArray message(buffer, size);
        if (message.startsWith("begin "))
            Begin(message.mid(6));
        else if (message.startsWith("end "))
            End(message.mid(4).toInt());
        else if (message == "press")
            pressWhenShown_ = true;
    }
}

void StopWindow::Begin(const QByteArray& arguments)
{
    // "<ticket> <thread> <signal> <label>"
    const QList<QByteArray> fields = arguments.split(' ');
    if (fields.size() < 4)
        return;
    resend_.stop();
    ticket_ = fields[0].toInt();
    thread_ = pid_t(fields[1].toInt());
    signal_ = fields[2].toInt();
    label_ = QString::fromUtf8(
        arguments.mid(fields[0].size() + fields[1].size() + fields[2].size() + 3));
    running_.start();
    tick_.start();
}

void StopWindow::End(int ticket)
{
    if (ticket != ticket_)
        return;
    ticket_ = 0;
    tick_.stop();
    resend_.stop();
    hide();
}

void StopWindow::Tick()
{
    if (!ticket_)
        return;
    const qint64 elapsed = running_.elapsed();
    if (elapsed < kShowAfterMs)
        return;
    text_->setText(label_ + QStringLiteral(" 已运行 %1 秒").arg(elapsed / 1000));
    if (isVisible())
        return;
    stop_->setEnabled(true);
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center().x() - width() / 2, area.top() + area.height() / 4);
    }
    show();
    raise();
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    Reply("shown " + QByteArray::number(ticket_) + ' ' +
          QByteArray::number(qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000));
    if (pressWhenShown_) {
        pressWhenShown_ = false;
        stop_->click();
    }
}

void StopWindow::Stop()
{
    if (!ticket_)
        return;
    stop_->setEnabled(false);
    SendStopSignal();
    resend_.start();
}

void StopWindow::SendStopSignal()
{
    if (!ticket_ || !signal_) {
        resend_.stop();
        return;
    }
    siginfo_t info{};
    info.si_signo = signal_;
    info.si_code = SI_QUEUE;
    info.si_pid = getpid();
    info.si_uid = getuid();
    info.si_value.sival_int = ticket_;
    if (syscall(SYS_rt_tgsigqueueinfo, vornak_, thread_, signal_, &info) != 0 && errno == ESRCH)
        resend_.stop();
}

void StopWindow::Reply(const QByteArray& message)
{
    send(socket_, message.constData(), size_t(message.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
}
