// How fast a module's PrintOut lines reach the output pane. Builds a small module with g++,
// loads it into a real window and times CallDLL of an entry printing short lines, checking the
// pane's exact text each time. Baselines from the same run: the same text put into an empty
// pane in one insertion (the document's own cost), and the lines written one insertion each.
#include "Module.h"
#include "main_window.h"
#include "narrow_text.h"
#include "output_pane.h"

#include "bench_common.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextCursor>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <vector>

namespace {

constexpr const char* kModuleSource = R"(
#include <cstdint>
#include <cstdio>
using Routine = void (*)(const char*);
static Routine print;
extern "C" void Config(std::intptr_t routine, std::intptr_t, std::intptr_t, std::intptr_t)
{
    print = reinterpret_cast<Routine>(routine);
}
static void PrintLines(int count)
{
    char line[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "Line %d\n", i);
        print(line);
    }
}
extern "C" void Print100k(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t) { PrintLines(100000); }
extern "C" void Print1M(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t) { PrintLines(1000000); }
)";

QString Line(int i)
{
    return QStringLiteral("Line %1\n").arg(i);
}

// What the pane holds after the lines were printed one by one: each appended at the end.
QString PaneAfter(const QString& prefill, int count)
{
    QString text = prefill;
    for (int i = 0; i < count; ++i)
        text += Line(i);
    return text;
}

QString Filler(int n)
{
    QString text(n, u'x');
    for (int i = 79; i < n; i += 80)
        text[i] = u'\n';
    return text;
}

struct Timing {
    double callMs = 0;  // until CallDLL returned with the text in the pane
    double shownMs = 0; // and the window has handled its events (layout, paint)
    long paneKiB = 0;   // resident memory the filled pane adds
};

// One run in a fresh window: the pane starts with prefill, the entry prints, the text is checked.
Timing RunEntry(const QString& workDir, const QString& entry, const QString& prefill,
                const QString& expected)
{
    Timing timing;
    FormMain window(workDir);
    window.show();
    auto* out = window.findChild<QPlainTextEdit*>(QStringLiteral("txtOut"));
    out->setPlainText(prefill);
    if (!window.LoadDLL())
        qFatal("the benchmark module did not load");
    QCoreApplication::processEvents();
    malloc_trim(0);
    const long before = ResidentKiB();

    QElapsedTimer clock;
    clock.start();
    window.CallDLL(entry);
    timing.callMs = clock.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents();
    timing.shownMs = clock.nsecsElapsed() / 1e6;

    malloc_trim(0);
    timing.paneKiB = ResidentKiB() - before;
    if (out->toPlainText() != expected)
        qFatal("the pane does not hold the exact text");
    return timing;
}

double TimeMs(const std::function<void()>& work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return clock.nsecsElapsed() / 1e6;
}

// The baseline floor: the finished text put into a fresh window's empty pane in one insertion.
double InsertAtOnce(const QString& workDir, const QString& text)
{
    FormMain window(workDir);
    window.show();
    auto* out = window.findChild<QPlainTextEdit*>(QStringLiteral("txtOut"));
    QCoreApplication::processEvents();
    return TimeMs([&] {
        QTextCursor cursor(out->document());
        cursor.insertText(text);
        out->setTextCursor(cursor);
    });
}

void Report(const char* what, const std::vector<Timing>& runs)
{
    std::vector<double> call, shown, memory;
    for (const Timing& run : runs) {
        call.push_back(run.callMs);
        shown.push_back(run.shownMs);
        memory.push_back(run.paneKiB);
    }
    std::printf("%-44s %9.1f ms %9.1f ms %9.1f MiB  (%zu runs)\n", what, Median(call),
                Median(shown), Median(memory) / 1024, runs.size());
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, ""); // as the program does
    FixNarrowCodeset();
    std::printf("narrow code page: %s\n", NarrowCodeset().constData());

    QTemporaryDir dir;
    const QString workDir = dir.path() + u'/';
    QFile source(workDir + QStringLiteral("lines.cpp"));
    if (!source.open(QIODevice::WriteOnly) || source.write(kModuleSource) < 0)
        qFatal("cannot write the module source");
    source.close();
    if (QProcess::execute(QStringLiteral("g++"),
                          {"-std=c++20", "-shared", "-fPIC", "-fno-gnu-unique", "-O2", "-o",
                           workDir + QStringLiteral("T.dll"), source.fileName()}) != 0)
        qFatal("g++ could not build the benchmark module");

    const QString lines100k = PaneAfter(QString(), 100000);
    // A call shows at most 250,000 lines; the rest is counted in a note.
    const QString lines1M = PaneAfter(QString(), 250000) +
                            QStringLiteral("……（输出太多：其后的 750000 行已省略）\n");
    const QString full = Filler(70000);
    const QString fullAfter = PaneAfter(full, 100000);

    std::printf("%-44s %12s %12s %13s\n", "", "call", "+events", "pane memory");
    // Each run alternates with the first baseline, so both meet the same machine load.
    std::vector<Timing> runs;
    std::vector<double> single;
    for (int i = 0; i < 5; ++i) {
        runs.push_back(RunEntry(workDir, QStringLiteral("Print100k"), QString(), lines100k));
        single.push_back(InsertAtOnce(workDir, lines100k));
    }
    Report("100,000 lines into an empty pane", runs);
    std::vector<double> call;
    for (const Timing& run : runs)
        call.push_back(run.callMs);
    const double ours = Median(call);
    const double once = Median(single);
    std::printf("baseline, the same text as one insertion:    %9.1f ms; ratio ours / it = %.2f\n",
                once, ours / once);

    runs.clear();
    for (int i = 0; i < 5; ++i)
        runs.push_back(RunEntry(workDir, QStringLiteral("Print100k"), full, fullAfter));
    Report("100,000 lines after a 70,000-char pane", runs);

    runs.clear();
    for (int i = 0; i < 3; ++i)
        runs.push_back(RunEntry(workDir, QStringLiteral("Print1M"), QString(), lines1M));
    Report("1,000,000 lines (250,000 shown), empty pane", runs);

    // Baseline: every line its own insertion (PrintOut with no batch open), 3 runs.
    std::vector<double> oneByOne;
    std::vector<QByteArray> narrow;
    for (int i = 0; i < 100000; ++i)
        narrow.push_back(Line(i).toUtf8());
    for (int i = 0; i < 3; ++i) {
        FormMain window(workDir);
        window.show();
        { CallOutput allowance; } // a fresh allowance of output, as a call has
        oneByOne.push_back(TimeMs([&] {
            for (const QByteArray& line : narrow)
                PrintOut(line.constData());
        }));
        if (window.findChild<QPlainTextEdit*>(QStringLiteral("txtOut"))->toPlainText() != lines100k)
            qFatal("one by one: the pane does not hold the exact text");
    }
    const double unbatched = Median(oneByOne);
    std::printf("baseline, one insertion per line:            %9.1f ms; ratio it / ours = %.1f\n",
                unbatched, unbatched / ours);
    return 0;
}
