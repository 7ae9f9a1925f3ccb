#include "code_editor.h"
#include "cpp_highlighter.h"
#include "editor_text.h"

#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

using Kind = CppHighlighter::Kind;
Q_DECLARE_METATYPE(Kind)

// The code editor on its own: colours, line number gutter, Enter and Tab.
class TestCodeEditor : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void editorTextKeepsWhatTheUserTyped();
    void coloursTokens_data();
    void coloursTokens();
    void longTextIsColouredAsFarAsItIsRead();
    void coloursReadWellOnLightAndDarkBackgrounds();
    void gutterSitsInsideTheBoxAndWidensWithLines();
    void enterKeepsIndentationAndTabInsertsSpaces_data();
    void enterKeepsIndentationAndTabInsertsSpaces();
    void editingKeys_data();
    void editingKeys();
    void commentToggleGivesBackTheText_data();
    void commentToggleGivesBackTheText();
    void matchingBracketIsMarked_data();
    void matchingBracketIsMarked();

private:
    void SetText(const QString& text);
    void SetMarkedText(const QString& marked);
    QString MarkedText() const;
    QTextCharFormat FormatAt(int position) const;

    CodeEditor* editor = nullptr;
};

void TestCodeEditor::init()
{
    editor = new CodeEditor;
    editor->setGeometry(100, 100, 439, 401);
    editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(editor));
}

void TestCodeEditor::cleanup()
{
    delete editor;
}

void TestCodeEditor::SetText(const QString& text)
{
    editor->setPlainText(text);
    QTRY_VERIFY(!editor->Highlighter()->IsColouring());
}

QTextCharFormat TestCodeEditor::FormatAt(int position) const
{
    const QTextBlock block = editor->document()->findBlock(position);
    const int offset = position - block.position();
    for (const QTextLayout::FormatRange& range : block.layout()->formats())
        if (offset >= range.start && offset < range.start + range.length)
            return range.format;
    return {};
}

void TestCodeEditor::coloursTokens_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("token"); // its last occurrence in code
    QTest::addColumn<int>("kind");      // a Kind, or -1 for plain text
    const int plain = -1;
    auto row = [](const char* name, const char* code, const char* token, int kind) {
        QTest::newRow(name) << QString::fromUtf8(code) << QString::fromUtf8(token) << kind;
    };
    row("keyword", "    return x;", "return", int(Kind::Keyword));
    row("type", "unsigned long n = 0;", "unsigned", int(Kind::Type));
    row("standard type", "std::vector<int> v;", "vector", int(Kind::Type));
    row("identifier with a keyword inside", "int internal = 1;", "internal", plain);
    row("string", "auto s = \"a // b\";", "\"a // b\"", int(Kind::String));
    row("escaped quote in a string", "f(\"a\\\"b\", x);", "\"a\\\"b\"", int(Kind::String));
    row("after an escaped quote", "f(\"a\\\"b\", x);", "x", plain);
    row("character", "char c = '\"'; int i;", "'\"'", int(Kind::String));
    row("after a character quote", "char c = '\"'; int i;", "int", int(Kind::Type));
    row("wide string", "auto w = L\"wide\";", "L\"wide\"", int(Kind::String));
    row("raw string", "auto r = R\"(a \"b\" c)\";", "R\"(a \"b\" c)\"", int(Kind::String));
    row("raw string across lines", "auto r = R\"x(one\n)\" two\n)x\"; int y;", ")\" two",
        int(Kind::String));
    row("after a raw string across lines", "auto r = R\"x(one\n)\" two\n)x\"; int y;", "int",
        int(Kind::Type));
    row("line comment", "int x; // int y", "// int y", int(Kind::Comment));
    row("comment across lines", "/* one\nint y;\n*/ int z;", "int y;", int(Kind::Comment));
    row("after a comment across lines", "/* one\nint y;\n*/ int z;", "int", int(Kind::Type));
    row("comment in a string", "s = \"/*\"; int a;", "int", int(Kind::Type));
    row("hex number", "x = 0x1F;", "0x1F", int(Kind::Number));
    row("separated number", "x = 1'000'000;", "1'000'000", int(Kind::Number));
    row("floating number", "x = 2.5e-3f;", "2.5e-3f", int(Kind::Number));
    row("digit in a name", "x2 = y;", "x2", plain);
    row("include", "#include <vector>", "#include <vector>", int(Kind::Preprocessor));
    row("indented directive", "  #define N 10", "#define N 10", int(Kind::Preprocessor));
    row("continued directive", "#define TWICE(x) \\\n    ((x) * 2)", "((x) * 2)",
        int(Kind::Preprocessor));
    row("comment after a directive", "#include <map> // maps", "// maps", int(Kind::Comment));
    row("slashes in a directive's text", "#define URL \"http://x\"", "\"http://x\"",
        int(Kind::Preprocessor));
    row("line after a directive", "#include <map>\nint m;", "int", int(Kind::Type));
}

void TestCodeEditor::coloursTokens()
{
    QFETCH(QString, code);
    QFETCH(QString, token);
    QFETCH(int, kind);
    SetText(code);
    const qsizetype start = code.lastIndexOf(token);
    QVERIFY(start >= 0);
    const QTextCharFormat expected =
        kind < 0 ? QTextCharFormat() : editor->Highlighter()->Format(Kind(kind));
    for (qsizetype i = start; i < start + token.size(); ++i) {
        if (code[i] == u'\n')
            continue;
        QVERIFY2(FormatAt(int(i)) == expected,
                 qPrintable(QString("character %1 of \"%2\"").arg(i - start).arg(token)));
    }
    // The token's colour stops where it ends.
    const qsizetype after = start + token.size();
    if (kind >= 0 && after < code.size() && code[after] != u'\n')
        QVERIFY(FormatAt(int(after)) != expected);
}

void TestCodeEditor::longTextIsColouredAsFarAsItIsRead()
{
    QString text;
    for (int i = 0; i < 5000; ++i)
        text += QString("int v%1 = %1;\n").arg(i);
    SetText(text);
    const int last = editor->document()->lastBlock().previous().position();
    const QTextCharFormat type = editor->Highlighter()->Format(Kind::Type);
    const QTextCharFormat comment = editor->Highlighter()->Format(Kind::Comment);
    QCOMPARE(FormatAt(0), type);
    QCOMPARE(FormatAt(last), QTextCharFormat()); // far below the view: not yet

    editor->moveCursor(QTextCursor::End);
    QVERIFY(editor->Highlighter()->IsColouring());
    QTRY_VERIFY(!editor->Highlighter()->IsColouring());
    QCOMPARE(FormatAt(last), type);

    // A comment opened at the top reaches the shown end of the text, and closing it again too.
    QTextCursor top(editor->document());
    top.insertText("/*");
    QCOMPARE(FormatAt(0), comment); // at once
    QTRY_VERIFY(!editor->Highlighter()->IsColouring());
    QCOMPARE(FormatAt(last), comment);
    top.deletePreviousChar();
    top.deletePreviousChar();
    QTRY_VERIFY(!editor->Highlighter()->IsColouring());
    QCOMPARE(FormatAt(last), type);
    QCOMPARE(editor->toPlainText(), text);
}

void TestCodeEditor::coloursReadWellOnLightAndDarkBackgrounds()
{
    SetText("int x;");
    for (const auto& [base, text] : {std::pair{QColor(255, 255, 255), QColor(0, 0, 0)},
                                     std::pair{QColor(30, 30, 30), QColor(220, 220, 220)}}) {
        QPalette palette = editor->palette();
        palette.setColor(QPalette::Base, base);
        palette.setColor(QPalette::Text, text);
        editor->setPalette(palette);
        QTRY_VERIFY(!editor->Highlighter()->IsColouring());
        for (int kind = 0; kind < int(Kind::Count); ++kind) {
            const QColor colour = editor->Highlighter()->Format(Kind(kind)).foreground().color();
            QVERIFY2(
                std::abs(colour.lightness() - base.lightness()) >= 90,
                qPrintable(QString("kind %1: %2 on %3").arg(kind).arg(colour.name(), base.name())));
        }
        // The text already shown takes the new colours.
        QCOMPARE(FormatAt(0), editor->Highlighter()->Format(Kind::Type));
    }
}

void TestCodeEditor::gutterSitsInsideTheBoxAndWidensWithLines()
{
    const QRect box = editor->geometry();
    SetText("int x;");
    const int narrow = editor->viewport()->geometry().left();
    QVERIFY(narrow > editor->contentsRect().left());
    QString lines;
    for (int i = 0; i < 1000; ++i)
        lines += "x;\n";
    SetText(lines);
    const int wide = editor->viewport()->geometry().left();
    QVERIFY(wide > narrow);
    // Narrow: five digits need well under a tenth of the box.
    QVERIFY(wide < box.width() / 10);
    QCOMPARE(editor->geometry(), box);
    // The text starts right of the numbers.
    QVERIFY(editor->viewport()->mapTo(editor, editor->cursorRect().topLeft()).x() >= wide);
}

void TestCodeEditor::enterKeepsIndentationAndTabInsertsSpaces_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("caret");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("after");
    const int none = Qt::NoModifier;
    QTest::newRow("enter after an indented line")
        << "    int x;" << 10 << int(Qt::Key_Return) << none << "    int x;\n    ";
    QTest::newRow("keypad enter") << "    int x;" << 10 << int(Qt::Key_Enter)
                                  << int(Qt::KeypadModifier) << "    int x;\n    ";
    QTest::newRow("enter without indentation")
        << "int x;" << 6 << int(Qt::Key_Return) << none << "int x;\n";
    QTest::newRow("enter keeps tabs")
        << "\t\tx" << 3 << int(Qt::Key_Return) << none << "\t\tx\n\t\t";
    QTest::newRow("enter inside the indentation")
        << "        y" << 4 << int(Qt::Key_Return) << none << "    \n        y";
    QTest::newRow("enter splits a line")
        << "  a(b);" << 4 << int(Qt::Key_Return) << none << "  a(\n  b);";
    QTest::newRow("tab") << "" << 0 << int(Qt::Key_Tab) << none << "    ";
    QTest::newRow("tab inside a line") << "ab" << 1 << int(Qt::Key_Tab) << none << "a    b";
}

void TestCodeEditor::enterKeepsIndentationAndTabInsertsSpaces()
{
    QFETCH(QString, before);
    QFETCH(int, caret);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, after);
    editor->setPlainText(before);
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(caret);
    editor->setTextCursor(cursor);
    QTest::keyClick(editor, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(editor->toPlainText(), after);
    // The caret follows what was inserted; the next key goes there.
    QTest::keyClicks(editor, "z");
    QCOMPARE(editor->textCursor().position(), caret + int(after.size() - before.size()) + 1);
    // One undo takes the whole key back.
    editor->undo();
    editor->undo();
    QCOMPARE(editor->toPlainText(), before);
}

// In the texts of these tests "|" is the caret and "^" the other end of the selection.
void TestCodeEditor::SetMarkedText(const QString& marked)
{
    QString text = marked;
    const qsizetype anchorMark = text.indexOf(u'^');
    text.remove(u'^');
    const qsizetype caretMark = text.indexOf(u'|');
    text.remove(u'|');
    const qsizetype caret = caretMark;
    qsizetype anchor = caret;
    if (anchorMark >= 0)
        anchor = anchorMark < caretMark ? anchorMark : anchorMark - 1;
    editor->setPlainText(text);
    QTextCursor cursor(editor->document());
    cursor.setPosition(int(anchor));
    cursor.setPosition(int(caret), QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
}

QString TestCodeEditor::MarkedText() const
{
    const QTextCursor cursor = editor->textCursor();
    QString text = editor->toPlainText();
    const int caret = cursor.position();
    const int anchor = cursor.anchor();
    if (anchor == caret)
        return text.insert(caret, u'|');
    if (anchor > caret)
        return text.insert(anchor, u'^').insert(caret, u'|');
    return text.insert(caret, u'|').insert(anchor, u'^');
}

void TestCodeEditor::editingKeys_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("after");
    const int none = Qt::NoModifier;
    const int tab = Qt::Key_Tab;
    const int backtab = Qt::Key_Backtab;
    QTest::newRow("tab indents the lines of a selection")
        << "^int a;\nint b;\nint c;|" << tab << none << "^    int a;\n    int b;\n    int c;|";
    QTest::newRow("tab indents lines touched by the selection")
        << "int a;\nin^t b;\nint| c;\nint d;" << tab << none
        << "int a;\n^    int b;\n    int c;|\nint d;";
    QTest::newRow("tab leaves out the line the selection ends at the start of")
        << "^a\nb\n|c" << tab << none << "^    a\n    b|\nc";
    QTest::newRow("tab leaves empty lines empty")
        << "^a\n\nb|" << tab << none << "^    a\n\n    b|";
    QTest::newRow("tab on a selection within a line replaces it")
        << "a^bc|d" << tab << none << "a    |d";
    QTest::newRow("shift+tab dedents the lines of a selection")
        << "^        a\n  b\nc\n\tdd|" << backtab << int(Qt::ShiftModifier) << "^    a\nb\nc\ndd|";
    QTest::newRow("shift+tab without a selection dedents the line")
        << "        int a;|" << backtab << int(Qt::ShiftModifier) << "    int a;|";
    QTest::newRow("shift+tab keeps the caret in its place in the text")
        << "    {\n        in|t a;" << backtab << int(Qt::ShiftModifier) << "    {\n    in|t a;";
    QTest::newRow("enter after a brace indents four more")
        << "    if (x) {|" << int(Qt::Key_Return) << none << "    if (x) {\n        |";
    QTest::newRow("enter after a brace and blanks")
        << "{  |" << int(Qt::Key_Return) << none << "{  \n    |";
    QTest::newRow("closing brace takes the indentation of its opening one")
        << "    void f() {\n        int x;\n        |" << int(Qt::Key_BraceRight) << none
        << "    void f() {\n        int x;\n    }|";
    QTest::newRow("closing brace skips inner pairs")
        << "{\n    if (a) { b(); }\n    |" << int(Qt::Key_BraceRight) << none
        << "{\n    if (a) { b(); }\n}|";
    QTest::newRow("closing brace after text is typed as it is")
        << "{\n    x |" << int(Qt::Key_BraceRight) << none << "{\n    x }|";
    QTest::newRow("closing brace without an opening one")
        << "    |" << int(Qt::Key_BraceRight) << none << "    }|";
    QTest::newRow("backspace in indentation goes back to a multiple of four")
        << "        |x" << int(Qt::Key_Backspace) << none << "    |x";
    QTest::newRow("backspace after six blanks")
        << "      |" << int(Qt::Key_Backspace) << none << "    |";
    QTest::newRow("backspace after one blank") << " |" << int(Qt::Key_Backspace) << none << "|";
    QTest::newRow("backspace after text removes one character")
        << "    ab  |" << int(Qt::Key_Backspace) << none << "    ab |";
    QTest::newRow("backspace with a selection removes it")
        << "^        |x" << int(Qt::Key_Backspace) << none << "|x";
    QTest::newRow("ctrl+/ comments the caret's line")
        << "    int| a;" << int(Qt::Key_Slash) << int(Qt::ControlModifier) << "    // int| a;";
    QTest::newRow("ctrl+/ comments at the smallest indentation")
        << "^    a\n\n        b|" << int(Qt::Key_Slash) << int(Qt::ControlModifier)
        << "^    // a\n\n    //     b|";
    QTest::newRow("ctrl+shift+/ where the slash is shifted")
        << "int| a;" << int(Qt::Key_Slash) << int(Qt::ControlModifier | Qt::ShiftModifier)
        << "// int| a;";
    QTest::newRow("ctrl+/ takes comments away")
        << "^// a\n    //b|" << int(Qt::Key_Slash) << int(Qt::ControlModifier) << "^a\n    b|";
}

void TestCodeEditor::editingKeys()
{
    QFETCH(QString, before);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, after);
    SetMarkedText(before);
    const QString text = editor->toPlainText();
    const QString keyText = key == Qt::Key_BraceRight ? QString("}") : QString();
    QTest::keyClick(editor, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    if (!keyText.isEmpty() && MarkedText() == before) // keyClick sends no text for '}'
        QTest::keyClicks(editor, keyText);
    QCOMPARE(MarkedText(), after);
    // One undo takes the whole key back.
    editor->undo();
    QCOMPARE(editor->toPlainText(), text);
}

void TestCodeEditor::commentToggleGivesBackTheText_data()
{
    QTest::addColumn<QString>("before");
    QTest::newRow("one line") << "int| a;";
    QTest::newRow("indented block") << "^void f()\n{\n    int a;\n\n    return;\n}|";
    QTest::newRow("some lines commented already") << "^// old\nnew\n  //x|";
    QTest::newRow("tabs") << "^\tint a;\n\t\tint b;|";
}

void TestCodeEditor::commentToggleGivesBackTheText()
{
    QFETCH(QString, before);
    SetMarkedText(before);
    const QString text = editor->toPlainText();
    QTest::keyClick(editor, Qt::Key_Slash, Qt::ControlModifier);
    const QString commented = editor->toPlainText();
    QVERIFY(commented != text);
    for (const QString& line : commented.split('\n'))
        QVERIFY2(line.trimmed().isEmpty() || line.trimmed().startsWith("//"), qPrintable(line));
    QTest::keyClick(editor, Qt::Key_Slash, Qt::ControlModifier);
    QCOMPARE(editor->toPlainText(), text);
}

void TestCodeEditor::matchingBracketIsMarked_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("marked"); // positions in text without the caret mark
    QTest::newRow("before an opening brace")
        << "void f() |{ if (a) { b(); } }" << QList<int>{9, 27};
    QTest::newRow("after a closing parenthesis") << "f(x)|;" << QList<int>{1, 3};
    QTest::newRow("the bracket after the caret first") << "f(g(x)|)" << QList<int>{1, 6};
    QTest::newRow("over lines") << "{\n  [a]\n}|" << QList<int>{0, 8};
    QTest::newRow("square brackets") << "a|[i[j]]" << QList<int>{1, 6};
    QTest::newRow("no bracket at the caret") << "f(a|b)" << QList<int>{};
    QTest::newRow("no match") << "|(a" << QList<int>{};
}

void TestCodeEditor::matchingBracketIsMarked()
{
    QFETCH(QString, text);
    QFETCH(QList<int>, marked);
    SetMarkedText(text);
    QList<int> positions;
    for (const QTextEdit::ExtraSelection& mark : editor->extraSelections()) {
        QCOMPARE(mark.cursor.selectedText().size(), 1);
        positions.append(mark.cursor.selectionStart());
    }
    std::sort(positions.begin(), positions.end());
    QCOMPARE(positions, marked);
}

void TestCodeEditor::editorTextKeepsWhatTheUserTyped()
{
    QPlainTextEdit editor;
    editor.setPlainText(QString("a\u00a0b\nc"));
    QCOMPARE(EditorText(&editor), QString("a\u00a0b\nc"));
    editor.moveCursor(QTextCursor::End);
    QTest::keyClick(&editor, Qt::Key_Return, Qt::ShiftModifier); // a soft line break
    QTest::keyClicks(&editor, "d");
    QCOMPARE(EditorText(&editor), QString("a\u00a0b\nc\nd"));
}

QTEST_MAIN(TestCodeEditor)
#include "tst_code_editor.moc"
