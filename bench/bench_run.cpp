// Times a Run through the real window: the first Run after an edit (save, compile, link, load,
// call) and a Run without an edit (call only), with each step's share of the first.
// Usage: bench_run [runs]   (the toolchain folder of this build is copied to a temporary folder)

#include "main_window.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <vector>

namespace {

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Milliseconds(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 10;

    QTemporaryDir folder;
    const QString workDir = folder.path() + "/cl/";
    // cp -a keeps the times: the precompiled header stays newer than stdafx.h.
    if (QProcess::execute("cp", {"-a", VORNAK_TOOLCHAIN_DIR, workDir}) != 0)
        return 1;
    QFile::remove(workDir + "T.cpp");
    QFile snippetFile(VORNAK_SNIPPET);
    if (!snippetFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "no snippet at %s\n", VORNAK_SNIPPET);
        return 1;
    }
    const QString snippet = QString::fromUtf8(snippetFile.readAll());

    FormMain window(workDir);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    auto* code = window.findChild<QPlainTextEdit*>("txtCode");
    auto* out = window.findChild<QPlainTextEdit*>("txtOut");
    auto* run = window.findChild<QPushButton*>("cmdRun");
    auto* status = window.findChild<QLabel*>("lalStat");

    std::vector<double> build, call, save, compile, link, load, invoke;
    for (int i = 0; i < runs; ++i) {
        // An edit that changes the code a little each time.
        code->setPlainText(snippet + QString("// run %1\n").arg(i));
        out->clear();
        QElapsedTimer timer;
        timer.start();
        QTest::mouseClick(run, Qt::LeftButton);
        build.push_back(Milliseconds(timer));
        if (!status->text().isEmpty() || out->toPlainText().isEmpty()) {
            std::fprintf(stderr, "run failed: %s\n", qPrintable(status->text()));
            return 1;
        }
        for (int j = 0; j < 10; ++j) {
            timer.start();
            QTest::mouseClick(run, Qt::LeftButton);
            call.push_back(Milliseconds(timer));
        }

        // The same steps one by one, for the breakdown.
        code->setPlainText(snippet + QString("// step %1\n").arg(i));
        window.FreeDLL();
        timer.start();
        window.MakeCode();
        save.push_back(Milliseconds(timer));
        timer.start();
        window.MakeObj();
        compile.push_back(Milliseconds(timer));
        timer.start();
        window.MakeDll();
        link.push_back(Milliseconds(timer));
        timer.start();
        window.LoadDLL();
        load.push_back(Milliseconds(timer));
        timer.start();
        window.CallDLL("Demo1");
        invoke.push_back(Milliseconds(timer));
        window.CodeChanged = false;
    }

    window.FreeDLL(); // the module's runtime holds stdout until it is released
    std::printf("runs: %d\n", runs);
    std::printf("first Run after an edit: median %.1f ms (min %.1f, max %.1f)\n", Median(build),
                *std::min_element(build.begin(), build.end()),
                *std::max_element(build.begin(), build.end()));
    std::printf("Run without an edit:     median %.3f ms (%zu calls)\n", Median(call), call.size());
    std::printf(
        "breakdown (medians): write %.2f, compile %.1f, link %.1f, load %.2f, call %.3f ms\n",
        Median(save), Median(compile), Median(link), Median(load), Median(invoke));
    std::printf("ratio first Run / Run without edit: %.0f\n", Median(build) / Median(call));
    return 0;
}
