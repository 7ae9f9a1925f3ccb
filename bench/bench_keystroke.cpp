// A keystroke in a 10,000-line text: the real window's editor (colours, line numbers) restored
// from "T.cpp", against a plain text box with the same font, size and text, in the same run.
// Each sample is one key (a letter, then Backspace, alternately) in the middle of the text,
// until the window has handled its events (colours, layout, paint). Also the worst keystroke:
// the '*' that opens a comment at the top and recolours every line after it (as far as the
// editor colours ahead of the view).
#include "bench_common.h"
#include "code_editor.h"
#include "cpp_highlighter.h"
#include "main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <clocale>
#include <cstdio>

namespace {

void PutCaretInTheMiddle(QPlainTextEdit* editor)
{
    const QTextBlock middle = editor->document()->findBlockByNumber(5000);
    QTextCursor cursor(middle);
    cursor.movePosition(QTextCursor::EndOfBlock);
    editor->setTextCursor(cursor);
    editor->ensureCursorVisible();
    QCoreApplication::processEvents();
}

double KeyMs(QPlainTextEdit* editor, Qt::Key key, char text = 0)
{
    QElapsedTimer clock;
    clock.start();
    if (text)
        QTest::keyClick(editor, text);
    else
        QTest::keyClick(editor, key);
    QCoreApplication::processEvents();
    return clock.nsecsElapsed() / 1e6;
}

void WaitForColours(CodeEditor* editor)
{
    while (editor->Highlighter()->IsColouring())
        QCoreApplication::processEvents();
}

void Report(const char* what, const std::vector<double>& samples)
{
    std::printf("%-40s median %6.2f ms, 90th percentile %6.2f ms (%zu keys)\n", what,
                Median(samples), Percentile(samples, 0.9), samples.size());
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 200;

    const QString code = SnippetLines(10000);
    QTemporaryDir dir;
    const QString workDir = dir.path() + u'/';
    QFile file(workDir + QStringLiteral("T.cpp"));
    if (!file.open(QIODevice::WriteOnly) || file.write(SavedSource(code)) < 0)
        qFatal("cannot write T.cpp");
    file.close();

    FormMain window(workDir);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("the window was not shown");
    auto* editor = window.findChild<CodeEditor*>(QStringLiteral("txtCode"));
    if (!editor || editor->blockCount() != 10000)
        qFatal("the editor does not hold the 10,000 lines");
    WaitForColours(editor);

    // The baseline: no colours, no line numbers.
    QPlainTextEdit plain;
    plain.setFont(editor->font());
    plain.setLineWrapMode(editor->lineWrapMode());
    plain.setWordWrapMode(editor->wordWrapMode());
    plain.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    plain.resize(editor->size());
    plain.setPlainText(code);
    plain.show();
    if (!QTest::qWaitForWindowExposed(&plain))
        qFatal("the baseline was not shown");

    PutCaretInTheMiddle(editor);
    PutCaretInTheMiddle(&plain);
    std::vector<double> ours, base;
    for (int i = 0; i < rounds; ++i) {
        // Alternating, so that both meet the same machine load.
        ours.push_back(KeyMs(editor, Qt::Key_X, 'x'));
        base.push_back(KeyMs(&plain, Qt::Key_X, 'x'));
        ours.push_back(KeyMs(editor, Qt::Key_Backspace));
        base.push_back(KeyMs(&plain, Qt::Key_Backspace));
    }
    if (editor->toPlainText() != code || plain.toPlainText() != code)
        qFatal("the keys did not leave the text as it was");
    std::printf("10,000 lines, %d KiB\n", int(code.size() / 1024));
    Report("editor (colours, line numbers)", ours);
    Report("baseline (plain text box)", base);
    std::printf("ratio editor / baseline: %.2f\n", Median(ours) / Median(base));

    // The worst key: "/*" typed at the top turns every line after it into a comment.
    std::vector<double> opening, recoloured;
    for (int i = 0; i < 5; ++i) {
        editor->moveCursor(QTextCursor::Start);
        QTest::keyClick(editor, '/');
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(editor, '*');
        QCoreApplication::processEvents();
        opening.push_back(clock.nsecsElapsed() / 1e6);
        WaitForColours(editor);
        recoloured.push_back(clock.nsecsElapsed() / 1e6);
        QTest::keyClick(editor, Qt::Key_Backspace);
        QTest::keyClick(editor, Qt::Key_Backspace);
        WaitForColours(editor);
    }
    std::printf(
        "'*' opening a comment at the top: key %.1f ms, coloured ahead of the view after %.0f ms "
        "(medians of %zu)\n",
        Median(opening), Median(recoloured), opening.size());
    return 0;
}
