#include "editor_keys.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <utility>

namespace {

const QString kIndent(EditorKeys::kIndentWidth, u' ');
const QString kCommentMark = QStringLiteral("// ");

qsizetype LeadingBlanks(const QString& text)
{
    qsizetype count = 0;
    while (count < text.size() && (text[count] == u' ' || text[count] == u'\t'))
        ++count;
    return count;
}

bool IsBlank(const QString& text)
{
    return LeadingBlanks(text) == text.size();
}

// The numbers of the first and last line that a selection touches. A selection that ends right
// at the start of a line does not take that line in.
std::pair<int, int> SelectedLines(const QTextCursor& cursor)
{
    const QTextDocument* document = cursor.document();
    const QTextBlock first = document->findBlock(cursor.selectionStart());
    QTextBlock last = document->findBlock(cursor.selectionEnd());
    if (cursor.hasSelection() && last != first && cursor.selectionEnd() == last.position())
        last = last.previous();
    return {first.blockNumber(), last.blockNumber()};
}

// Selects the lines first to last whole (without the last one's line break).
void SelectLines(QPlainTextEdit* editor, int first, int last)
{
    const QTextDocument* document = editor->document();
    const QTextBlock end = document->findBlockByNumber(last);
    QTextCursor cursor(editor->document());
    cursor.setPosition(document->findBlockByNumber(first).position());
    cursor.setPosition(end.position() + end.length() - 1, QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
}

// Removes count characters at offset of the line.
void RemoveInLine(const QTextBlock& block, qsizetype offset, qsizetype count)
{
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + int(offset));
    cursor.setPosition(block.position() + int(offset + count), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void InsertInLine(const QTextBlock& block, qsizetype offset, const QString& text)
{
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + int(offset));
    cursor.insertText(text);
}

// The line that holds the "{" matched by a "}" at the start of line `line`; invalid when there
// is none.
QTextBlock OpeningBraceLine(const QTextBlock& line)
{
    int depth = 0;
    for (QTextBlock block = line.previous(); block.isValid(); block = block.previous()) {
        const QString text = block.text();
        for (qsizetype i = text.size() - 1; i >= 0; --i) {
            if (text[i] == u'}') {
                ++depth;
            } else if (text[i] == u'{') {
                if (depth == 0)
                    return block;
                --depth;
            }
        }
    }
    return {};
}

} // namespace

namespace EditorKeys {

bool IndentLines(QPlainTextEdit* editor)
{
    QTextCursor cursor = editor->textCursor();
    const QTextDocument* document = editor->document();
    if (!cursor.hasSelection() ||
        document->findBlock(cursor.selectionStart()) == document->findBlock(cursor.selectionEnd()))
        return false;
    const auto [first, last] = SelectedLines(cursor);
    cursor.beginEditBlock();
    for (int line = first; line <= last; ++line) {
        const QTextBlock block = document->findBlockByNumber(line);
        if (!IsBlank(block.text()))
            InsertInLine(block, 0, kIndent);
    }
    cursor.endEditBlock();
    SelectLines(editor, first, last);
    return true;
}

void DedentLines(QPlainTextEdit* editor)
{
    QTextCursor cursor = editor->textCursor();
    const QTextDocument* document = editor->document();
    const bool hadSelection = cursor.hasSelection();
    const auto [first, last] = SelectedLines(cursor);
    cursor.beginEditBlock();
    for (int line = first; line <= last; ++line) {
        const QTextBlock block = document->findBlockByNumber(line);
        const QString text = block.text();
        qsizetype count = 0;
        if (text.startsWith(u'\t'))
            count = 1;
        else
            while (count < kIndentWidth && count < text.size() && text[count] == u' ')
                ++count;
        if (count > 0)
            RemoveInLine(block, 0, count);
    }
    cursor.endEditBlock();
    if (hadSelection)
        SelectLines(editor, first, last);
    else
        editor->setTextCursor(cursor); // moved along with the text
}

void NewLine(QPlainTextEdit* editor)
{
    QTextCursor cursor = editor->textCursor();
    const QString before = cursor.block().text().left(cursor.positionInBlock());
    QString indent = before.left(LeadingBlanks(before));
    if (before.trimmed().endsWith(u'{'))
        indent += kIndent;
    cursor.insertText(u'\n' + indent);
    editor->setTextCursor(cursor);
}

bool CloseBrace(QPlainTextEdit* editor)
{
    QTextCursor cursor = editor->textCursor();
    if (cursor.hasSelection())
        return false;
    const QTextBlock block = cursor.block();
    const qsizetype caret = cursor.positionInBlock();
    if (!IsBlank(block.text().left(caret)))
        return false;
    const QTextBlock opening = OpeningBraceLine(block);
    if (!opening.isValid())
        return false;
    const QString openingText = opening.text();
    cursor.beginEditBlock();
    cursor.setPosition(block.position());
    cursor.setPosition(block.position() + int(caret), QTextCursor::KeepAnchor);
    cursor.insertText(openingText.left(LeadingBlanks(openingText)) + u'}');
    cursor.endEditBlock();
    editor->setTextCursor(cursor);
    return true;
}

bool BackspaceIndentation(QPlainTextEdit* editor)
{
    QTextCursor cursor = editor->textCursor();
    const qsizetype caret = cursor.positionInBlock();
    if (cursor.hasSelection() || caret < 2)
        return false;
    const QString before = cursor.block().text().left(caret);
    if (before.count(u' ') != before.size())
        return false;
    const qsizetype count = caret % kIndentWidth == 0 ? kIndentWidth : caret % kIndentWidth;
    cursor.setPosition(cursor.position() - int(count), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    editor->setTextCursor(cursor);
    return true;
}

void ToggleComment(QPlainTextEdit* editor)
{
    QTextCursor cursor = editor->textCursor();
    const QTextDocument* document = editor->document();
    const bool hadSelection = cursor.hasSelection();
    const auto [first, last] = SelectedLines(cursor);

    qsizetype indent = -1;
    bool allComments = true;
    bool anyText = false;
    for (int line = first; line <= last; ++line) {
        const QString text = document->findBlockByNumber(line).text();
        if (IsBlank(text))
            continue;
        anyText = true;
        const qsizetype blanks = LeadingBlanks(text);
        indent = indent < 0 ? blanks : std::min(indent, blanks);
        allComments = allComments && QStringView(text).mid(blanks).startsWith(u"//");
    }
    if (!anyText)
        return;

    cursor.beginEditBlock();
    for (int line = first; line <= last; ++line) {
        const QTextBlock block = document->findBlockByNumber(line);
        const QString text = block.text();
        if (IsBlank(text))
            continue;
        if (allComments) {
            const qsizetype blanks = LeadingBlanks(text);
            RemoveInLine(block, blanks,
                         QStringView(text).mid(blanks).startsWith(kCommentMark) ? 3 : 2);
        } else {
            InsertInLine(block, indent, kCommentMark);
        }
    }
    cursor.endEditBlock();
    if (hadSelection)
        SelectLines(editor, first, last);
    else
        editor->setTextCursor(cursor);
}

} // namespace EditorKeys
