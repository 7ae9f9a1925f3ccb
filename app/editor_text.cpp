#include "editor_text.h"

#include <QPlainTextEdit>
#include <QTextDocument>

QString EditorText(const QPlainTextEdit* editor)
{
    // toPlainText() would also turn non-breaking spaces into blanks; the code keeps them.
    QString text = editor->document()->toRawText();
    for (QChar& ch : text) {
        switch (ch.unicode()) {
        case QChar::ParagraphSeparator:
        case QChar::LineSeparator:
        case 0xFDD0: // frame markers, which a plain text document never holds
        case 0xFDD1:
            ch = u'\n';
            break;
        default:
            break;
        }
    }
    return text;
}
