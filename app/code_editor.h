#pragma once

#include <QPlainTextEdit>
#include <memory>

class CppHighlighter;
class DiagnosticMarks;
class LineNumberGutter;

// The code editor: a plain text box with line numbers in a narrow gutter at its left edge
// (inside the box, so the box keeps its place and size), C++ colours, the bracket that matches
// the one at the caret marked, and the editing keys of editor_keys.h: Tab and Shift+Tab,
// Enter and "}" that indent, Backspace through indentation, Ctrl+/ for comments.
class CodeEditor : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit CodeEditor(QWidget* parent = nullptr);
    ~CodeEditor() override;

    CppHighlighter* Highlighter() const { return highlighter_; }
    int GutterWidth() const;
    // The last build's marks in the gutter (diagnostic_marks.h); repaint after changing them.
    DiagnosticMarks& Marks() const { return *marks_; }
    void ShowMarks();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    friend class LineNumberGutter;
    void PaintGutter(QPaintEvent* event);
    void UpdateGutterWidth();
    void FollowCurrentLine();
    void MarkMatchingBrackets();
    // The tooltip of the mark on the line at y (the viewport's coordinates).
    bool ShowMarkToolTip(QEvent* event, QWidget* over);

    LineNumberGutter* gutter_ = nullptr;
    CppHighlighter* highlighter_ = nullptr;
    std::unique_ptr<DiagnosticMarks> marks_;
    int currentLine_ = -1;
};
