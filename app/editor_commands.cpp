#include "editor_commands.h"

#include "find_bar.h"

#include <QInputDialog>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTextBlock>
#include <algorithm>
#include <functional>

namespace {

constexpr int kSmallestPointSize = 5;
constexpr int kLargestPointSize = 72;

void AddShortcut(QWidget* window, const QKeySequence& keys, const std::function<void()>& action)
{
    auto* shortcut = new QShortcut(keys, window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, window, action);
}

} // namespace

void GoToLine(QPlainTextEdit* editor)
{
    QInputDialog dialog(editor->window());
    dialog.setObjectName(QStringLiteral("goToLine"));
    dialog.setWindowTitle(QStringLiteral("Vornak"));
    const int lines = editor->document()->blockCount();
    dialog.setLabelText(QStringLiteral("转到行（1–%1）：").arg(lines));
    dialog.setInputMode(QInputDialog::IntInput);
    dialog.setIntRange(1, lines);
    dialog.setIntValue(editor->textCursor().blockNumber() + 1);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QTextBlock block = editor->document()->findBlockByNumber(dialog.intValue() - 1);
    QTextCursor cursor(block);
    editor->setTextCursor(cursor);
    editor->centerCursor();
    editor->setFocus(Qt::OtherFocusReason);
}

void AttachEditorCommands(QWidget* window, QPlainTextEdit* editor, QPlainTextEdit* output)
{
    auto* findBar = new FindBar(editor);
    AddShortcut(window, QKeySequence(Qt::CTRL | Qt::Key_F), [findBar] { findBar->Open(); });
    AddShortcut(window, QKeySequence(Qt::CTRL | Qt::Key_G), [editor] { GoToLine(editor); });

    const int startSize = editor->font().pointSize();
    auto setSize = [editor, output](int size) {
        QFont font = editor->font();
        font.setPointSize(std::clamp(size, kSmallestPointSize, kLargestPointSize));
        editor->setFont(font);
        output->setFont(font);
    };
    for (const QKeySequence& keys :
         {QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(Qt::CTRL | Qt::Key_Plus)})
        AddShortcut(window, keys, [editor, setSize] { setSize(editor->font().pointSize() + 1); });
    AddShortcut(window, QKeySequence(Qt::CTRL | Qt::Key_Minus),
                [editor, setSize] { setSize(editor->font().pointSize() - 1); });
    AddShortcut(window, QKeySequence(Qt::CTRL | Qt::Key_0),
                [setSize, startSize] { setSize(startSize); });
}
