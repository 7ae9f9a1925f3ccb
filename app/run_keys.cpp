#include "run_keys.h"

#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

void AttachRunKeys(QWidget* window, QLineEdit* nameBox, QPushButton* runButton)
{
    // Window-wide shortcuts are served before the editor sees the key, so Ctrl+Enter never
    // breaks the line it is pressed in. Qt::Key_Enter is the keypad's Enter.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_Return),
          QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(keys, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, runButton, &QPushButton::click);
    }
    QObject::connect(nameBox, &QLineEdit::returnPressed, runButton, &QPushButton::click);
    runButton->setToolTip(QStringLiteral("运行（F5 或 Ctrl+Enter）"));
}
