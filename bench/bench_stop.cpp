// How soon 停止 ends a runaway call: for an endless loop, a sleep, a malloc/free loop and a
// printing loop, the time from the stop window's appearance (when the helper presses 停止 at
// once) to the call's return, and the process's memory after a stopped flood of output.
// Baseline from the same run: the endless loop, stopped at its first try (it runs nothing but
// the module's own code), so that the ratio shows what waiting for a safe point costs.
#include "Module.h"
#include "call_watch.h"
#include "main_window.h"
#include "narrow_text.h"

#include "bench_common.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr const char* kModuleSource = R"(
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
using Routine = void (*)(const char*);
static Routine print;
extern "C" void Config(std::intptr_t routine, std::intptr_t, std::intptr_t, std::intptr_t)
{ print = reinterpret_cast<Routine>(routine); }
extern "C" void Loop(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)
{ for (long n = 0;; ++n) asm volatile("" : : "r"(n)); }
extern "C" void Sleep(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t) { sleep(100); }
extern "C" void Malloc(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)
{ for (;;) { void* volatile p = std::malloc(100); std::free(p); } }
extern "C" void Flood(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)
{ char line[32]; for (long i = 0;; ++i) { std::snprintf(line, sizeof line, "line %ld\n", i); print(line); } }
)";

qint64 NowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    FixNarrowCodeset();
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (!StartCallWatch(QStringLiteral(VORNAK_STOP_PROGRAM)))
        qFatal("the stop helper did not start");

    QTemporaryDir dir;
    const QString workDir = dir.path() + u'/';
    QFile source(workDir + QStringLiteral("stop.cpp"));
    if (!source.open(QIODevice::WriteOnly) || source.write(kModuleSource) < 0)
        qFatal("cannot write the module source");
    source.close();
    if (QProcess::execute(QStringLiteral("g++"),
                          {"-std=c++20", "-shared", "-fPIC", "-fno-gnu-unique", "-O0", "-o",
                           workDir + QStringLiteral("T.dll"), source.fileName()}) != 0)
        qFatal("g++ could not build the benchmark module");

    FormMain window(workDir);
    window.show();
    // Boxes of stopped calls are closed as soon as they show.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->close();
    });
    closer.start(10);

    std::printf("%-34s %s\n", "from the window's appearance to", "median, max (ms)");
    double baseline = 0;
    for (const char* entry : {"Loop", "Sleep", "Malloc", "Flood"}) {
        std::vector<double> delays;
        long floodKiB = 0;
        for (int i = 0; i < runs; ++i) {
            if (!window.hDll && !window.LoadDLL())
                qFatal("the benchmark module did not load");
            PressStopWhenShown();
            const CallOutcome outcome = CallEntry(window.hDll, QString::fromLatin1(entry));
            const qint64 end = NowMs();
            const std::optional<qint64> shown = StopWindowShownAt(LastWatchedTicket());
            if (!shown)
                qFatal("no stop window for %s", entry);
            delays.push_back(double(end - *shown));
            if (outcome.moduleSpent)
                window.FreeDLL();
            if (std::string(entry) == "Flood") {
                floodKiB = std::max(floodKiB, ResidentKiB());
                window.findChild<QPlainTextEdit*>(QStringLiteral("txtOut"))->clear();
            }
        }
        const double median = Median(delays);
        if (baseline == 0)
            baseline = std::max(median, 1.0);
        std::printf("%-34s %6.0f %6.0f   x%.0f", entry, median,
                    *std::max_element(delays.begin(), delays.end()), median / baseline);
        if (floodKiB)
            std::printf("   resident after the flood: %ld MiB", floodKiB / 1024);
        std::printf("\n");
    }
    return 0;
}
