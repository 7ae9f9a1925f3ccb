// Start-up with a 10 MB "T.cpp": the real window restored from it, until it is shown, and the
// CPU it uses until it is idle (colours made in slices after the first paint count here).
// Baseline from the same run: a plain text box given the same text and shown.
#include "bench_common.h"
#include "main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>
#include <cstdio>

namespace {

struct Timing {
    double shownMs = 0; // wall clock until the window is shown and painted
    double shownCpuMs = 0;
    double idleCpuMs = 0; // CPU until nothing is left to do
};

// Lets the event loop run until it has had nothing to do for a while.
void Settle()
{
    QElapsedTimer quiet;
    quiet.start();
    double cpu = CpuMs();
    while (quiet.elapsed() < 1500) {
        QTest::qWait(50);
        const double now = CpuMs();
        if (now - cpu > 5) // still busy
            quiet.restart();
        cpu = now;
    }
}

template <typename Open> Timing Measure(Open open)
{
    Timing timing;
    QElapsedTimer clock;
    const double cpu = CpuMs();
    clock.start();
    auto window = open();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qFatal("the window was not shown");
    QCoreApplication::processEvents();
    timing.shownMs = clock.nsecsElapsed() / 1e6;
    timing.shownCpuMs = CpuMs() - cpu;
    Settle();
    timing.idleCpuMs = CpuMs() - cpu;
    return timing;
}

void Report(const char* what, const std::vector<Timing>& runs)
{
    std::vector<double> shown, shownCpu, idleCpu;
    for (const Timing& run : runs) {
        shown.push_back(run.shownMs);
        shownCpu.push_back(run.shownCpuMs);
        idleCpu.push_back(run.idleCpuMs);
    }
    std::printf("%-34s shown %7.0f ms (CPU %7.0f ms), CPU until idle %7.0f ms\n", what,
                Median(shown), Median(shownCpu), Median(idleCpu));
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    const QString code = SnippetLines(10 * 1024 * 1024 / 34); // about 10 MB
    QTemporaryDir dir;
    const QString workDir = dir.path() + u'/';
    QFile file(workDir + QStringLiteral("T.cpp"));
    if (!file.open(QIODevice::WriteOnly) || file.write(SavedSource(code)) < 0)
        qFatal("cannot write T.cpp");
    file.close();
    std::printf("T.cpp: %.1f MB, %lld lines; medians of %d runs\n", file.size() / 1048576.0,
                code.count(u'\n') + 1, runs);

    std::vector<Timing> window, plain;
    for (int i = 0; i < runs; ++i) {
        window.push_back(Measure([&] { return std::make_unique<FormMain>(workDir); }));
        plain.push_back(Measure([&] {
            auto box = std::make_unique<QPlainTextEdit>();
            box->setFont(QFont(QStringLiteral("Courier New"), 9));
            box->resize(439, 401);
            box->setPlainText(code);
            return box;
        }));
    }
    Report("the window restored from T.cpp", window);
    Report("baseline: a plain text box", plain);
    return 0;
}
