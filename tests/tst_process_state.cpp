#include "crash_guard.h"
#include "process_state.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kRestorerFlag = 0x04000000; // SA_RESTORER on Linux

void OnSignal(int) {}
void OnTerminate()
{
    std::abort();
}

// Everything ProcessState keeps, as the test sees it from outside.
struct Observed {
    mode_t umask = 0;
    QString directory;
    dev_t devices[3] = {};
    ino_t inodes[3] = {};
    bool open[3] = {};
    std::FILE* streams[3] = {};
    std::terminate_handler terminate = nullptr;
    sigset_t mask{};
    QList<QPair<quintptr, int>> actions; // handler and flags of every signal

    static Observed Now()
    {
        Observed now;
        now.umask = ::umask(0);
        ::umask(now.umask);
        now.directory = QDir::currentPath();
        for (int fd = 0; fd < 3; ++fd) {
            struct stat info {};
            now.open[fd] = fstat(fd, &info) == 0;
            now.devices[fd] = info.st_dev;
            now.inodes[fd] = info.st_ino;
        }
        now.streams[0] = stdin;
        now.streams[1] = stdout;
        now.streams[2] = stderr;
        now.terminate = std::get_terminate();
        pthread_sigmask(SIG_SETMASK, nullptr, &now.mask);
        for (int signal = 1; signal <= SIGRTMAX; ++signal) {
            struct sigaction action {};
            // glibc adds SA_RESTORER (its return trampoline) to every action it sets.
            if (sigaction(signal, nullptr, &action) == 0)
                now.actions << qMakePair(quintptr(action.sa_handler),
                                         action.sa_flags & ~kRestorerFlag);
            else
                now.actions << qMakePair(quintptr(0), -1);
        }
        return now;
    }

    QStringList DifferencesFrom(const Observed& other) const
    {
        QStringList changed;
        if (umask != other.umask)
            changed << "umask";
        if (directory != other.directory)
            changed << "directory";
        for (int fd = 0; fd < 3; ++fd)
            if (open[fd] != other.open[fd] || devices[fd] != other.devices[fd] ||
                inodes[fd] != other.inodes[fd])
                changed << QString("fd %1").arg(fd);
        for (int i = 0; i < 3; ++i)
            if (streams[i] != other.streams[i])
                changed << QString("C stream %1").arg(i);
        if (terminate != other.terminate)
            changed << "terminate handler";
        for (int signal = 1; signal <= SIGRTMAX; ++signal)
            if (sigismember(&mask, signal) != sigismember(&other.mask, signal))
                changed << QString("mask of %1").arg(signal);
        for (int i = 0; i < actions.size(); ++i)
            if (actions[i] != other.actions[i])
                changed << QString("action of %1").arg(i + 1);
        return changed;
    }
};

void Handle(int signal, int flags = 0)
{
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

void Block(std::initializer_list<int> numbers)
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : numbers)
        sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void OntoNull(int fd)
{
    const int null = open("/dev/null", O_RDWR);
    dup2(null, fd);
    close(null);
}

std::FILE* spareStream = nullptr;

// What a module's code may do to the process. Each leaves a change that ProcessState undoes.
struct Change {
    const char* name;
    void (*make)();
};

const Change kChanges[] = {
    {"umask 0777", [] { umask(0777); }},
    {"current directory", [] { (void)chdir("/"); }},
    {"fd 1 on the null device", [] { OntoNull(1); }},
    {"fds 0 to 2 on the null device",
     [] {
         for (int fd = 0; fd < 3; ++fd)
             OntoNull(fd);
     }},
    {"fd 0 closed", [] { close(0); }},
    {"stdout and stderr replaced",
     [] {
         stdout = spareStream;
         stderr = spareStream;
     }},
    {"stdin replaced", [] { stdin = spareStream; }},
    {"terminate handler", [] { std::set_terminate(OnTerminate); }},
    {"SIGSEGV and SIGINT blocked",
     [] {
         Block({SIGSEGV, SIGINT});
     }},
    {"every signal blocked",
     [] {
         sigset_t all;
         sigfillset(&all);
         pthread_sigmask(SIG_SETMASK, &all, nullptr);
     }},
    {"SIGCHLD ignored", [] { signal(SIGCHLD, SIG_IGN); }},
    {"SIGUSR2 handled, with flags", [] { Handle(SIGUSR2, SA_RESTART | SA_NODEFER); }},
    {"real-time signals handled",
     [] {
         Handle(SIGRTMIN + 3);
         Handle(SIGRTMAX);
     }},
    {"every signal ignored",
     [] {
         for (int signal = 1; signal <= SIGRTMAX; ++signal)
             if (signal != SIGKILL && signal != SIGSTOP)
                 std::signal(signal, SIG_IGN);
     }},
    {"all of it at once",
     [] {
         umask(0);
         (void)chdir("/tmp");
         OntoNull(2);
         stdout = spareStream;
         std::set_terminate(OnTerminate);
         Block({SIGTERM});
         signal(SIGPIPE, SIG_DFL);
         Handle(SIGHUP);
     }},
};

} // namespace

class TestProcessState : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        spareStream = std::fopen("/dev/null", "w");
        QVERIFY(spareStream);
    }

    void cleanupTestCase() { std::fclose(spareStream); }

    void restoresWhatTheCodeChanged_data()
    {
        QTest::addColumn<int>("change");
        for (int i = 0; i < int(std::size(kChanges)); ++i)
            QTest::newRow(kChanges[i].name) << i;
    }

    void restoresWhatTheCodeChanged()
    {
        QFETCH(int, change);
        const Observed before = Observed::Now();
        {
            ProcessState state;
            kChanges[change].make();
            QVERIFY(!Observed::Now().DifferencesFrom(before).isEmpty()); // the change took
        }
        QCOMPARE(Observed::Now().DifferencesFrom(before), QStringList());
    }

    void restoresAfterAJumpOutOfACrash()
    {
        const Observed before = Observed::Now();
        ProcessState state;
        auto crash = [] {
            umask(077);
            Block({SIGUSR1});
            signal(SIGCHLD, SIG_IGN);
            OntoNull(1);
            *static_cast<volatile int*>(nullptr) = 1;
        };
        CrashReport report;
        QVERIFY(!RunGuarded(crash, report));
        state.Restore();
        QCOMPARE(Observed::Now().DifferencesFrom(before), QStringList());
    }

    void restoresAgainAfterASecondChange()
    {
        const Observed before = Observed::Now();
        ProcessState state;
        umask(0777);
        state.Restore();
        (void)chdir("/");
        state.Restore();
        QCOMPARE(Observed::Now().DifferencesFrom(before), QStringList());
    }

    void leavesCStreamsWhenAsked()
    {
        std::FILE* const out = stdout;
        {
            ProcessState state(ProcessState::CStreams::Leave);
            stdout = spareStream;
            umask(0777);
        }
        QCOMPARE(stdout, spareStream);
        stdout = out;
        QVERIFY(Observed::Now().umask != 0777); // the rest is put back
    }

    void copyThatTheCodeClosedIsNotPutBack()
    {
        // The code closes descriptors that it did not open (the copies among them), opens a
        // file that takes one of their numbers, and points fd 1 elsewhere.
        const int savedOut = dup(1);
        struct stat zero {};
        QVERIFY(stat("/dev/zero", &zero) == 0);
        auto isOpen = [](int fd) { return fcntl(fd, F_GETFD) != -1; };
        QList<int> openBefore;
        for (int fd = 3; fd < 256; ++fd)
            if (isOpen(fd))
                openBefore << fd;
        int file = -1;
        {
            ProcessState state;
            for (int fd = 3; fd < 256; ++fd)
                if (!openBefore.contains(fd))
                    close(fd);
            file = open("/dev/zero", O_RDONLY);
            QVERIFY(file >= 0);
            OntoNull(1);
        }
        close(file);
        struct stat out {};
        QVERIFY(fstat(1, &out) == 0);
        QVERIFY(out.st_ino != zero.st_ino || out.st_dev != zero.st_dev);
        dup2(savedOut, 1);
        close(savedOut);
    }
};

QTEST_GUILESS_MAIN(TestProcessState)
#include "tst_process_state.moc"
