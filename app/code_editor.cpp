#include "code_editor.h"

#include "bracket_match.h"
#include "cpp_highlighter.h"
#include "diagnostic_marks.h"
#include "editor_keys.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QTextBlock>
#include <QToolTip>

// The strip left of the text that shows the line numbers.
class LineNumberGutter : public QWidget {
public:
    explicit LineNumberGutter(CodeEditor* editor) : QWidget(editor), editor_(editor)
    {
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent* event) override { editor_->PaintGutter(event); }
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::ToolTip && editor_->ShowMarkToolTip(event, this))
            return true;
        return QWidget::event(event);
    }

private:
    CodeEditor* editor_;
};

namespace {

// Space between the numbers and the text, in pixels.
constexpr int kGutterPadding = 6;
// Lines below the first shown one that are coloured before they are scrolled to.
constexpr int kLinesColouredAhead = 1000;

bool IsDark(const QPalette& palette)
{
    return palette.color(QPalette::Base).lightness() < 128;
}

QColor Blend(const QColor& a, const QColor& b, double share)
{
    return QColor::fromRgbF(float(a.redF() * (1 - share) + b.redF() * share),
                            float(a.greenF() * (1 - share) + b.greenF() * share),
                            float(a.blueF() * (1 - share) + b.blueF() * share));
}

} // namespace

CodeEditor::CodeEditor(QWidget* parent) : QPlainTextEdit(parent)
{
    gutter_ = new LineNumberGutter(this);
    marks_ = std::make_unique<DiagnosticMarks>(this);
    highlighter_ = new CppHighlighter(document());
    highlighter_->SetDarkBackground(IsDark(palette()));
    // Colours reach a good way below the view ahead of it, and follow it down.
    highlighter_->SetLastWantedLine(
        [this] { return firstVisibleBlock().blockNumber() + kLinesColouredAhead; });
    connect(this, &QPlainTextEdit::blockCountChanged, this, &CodeEditor::UpdateGutterWidth);
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
        if (dy)
            gutter_->scroll(0, dy);
        else
            gutter_->update(0, rect.y(), gutter_->width(), rect.height());
        highlighter_->Resume();
    });
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &CodeEditor::FollowCurrentLine);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &CodeEditor::MarkMatchingBrackets);
    UpdateGutterWidth();
}

CodeEditor::~CodeEditor() = default;

void CodeEditor::ShowMarks()
{
    gutter_->update();
}

bool CodeEditor::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && ShowMarkToolTip(event, viewport()))
        return true;
    return QPlainTextEdit::viewportEvent(event);
}

bool CodeEditor::ShowMarkToolTip(QEvent* event, QWidget* over)
{
    const auto* help = static_cast<QHelpEvent*>(event);
    const QPoint inViewport = viewport()->mapFromGlobal(over->mapToGlobal(help->pos()));
    const QTextBlock block = cursorForPosition(QPoint(0, inViewport.y())).block();
    const QRectF area = blockBoundingGeometry(block).translated(contentOffset());
    const bool onBlock = inViewport.y() >= area.top() && inViewport.y() < area.bottom();
    const QString tip = onBlock ? marks_->ToolTipOf(block) : QString();
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(help->globalPos(), tip, over);
    return true;
}

int CodeEditor::GutterWidth() const
{
    int digits = 2;
    for (int lines = std::max(1, blockCount()); lines >= 100; lines /= 10)
        ++digits;
    return fontMetrics().horizontalAdvance(u'9') * digits + kGutterPadding;
}

void CodeEditor::UpdateGutterWidth()
{
    const int width = GutterWidth();
    if (viewportMargins().left() != width)
        setViewportMargins(width, 0, 0, 0); // the text is wrapped again at the new width
    const QRect area = contentsRect();
    gutter_->setGeometry(area.left(), area.top(), width, area.height());
}

void CodeEditor::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    UpdateGutterWidth();
}

void CodeEditor::changeEvent(QEvent* event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        UpdateGutterWidth();
        setTabStopDistance(EditorKeys::kIndentWidth *
                           QFontMetricsF(font()).horizontalAdvance(u' '));
    } else if (event->type() == QEvent::PaletteChange)
        highlighter_->SetDarkBackground(IsDark(palette()));
}

void CodeEditor::FollowCurrentLine()
{
    const int line = textCursor().blockNumber();
    if (line != currentLine_) {
        currentLine_ = line;
        gutter_->update();
    }
}

void CodeEditor::PaintGutter(QPaintEvent* event)
{
    QPainter painter(gutter_);
    const QColor base = palette().color(QPalette::Base);
    const QColor text = palette().color(QPalette::Text);
    painter.fillRect(event->rect(), Blend(base, text, 0.04));
    const QColor muted = Blend(base, text, 0.45);

    QFont font = this->font();
    QFont bold = font;
    bold.setBold(true);
    const int right = gutter_->width() - kGutterPadding / 2;
    const int lineHeight = fontMetrics().height();
    const int current = textCursor().blockNumber();

    // One number per block, at its first line, so a wrapped line is numbered once.
    QTextBlock block = firstVisibleBlock();
    qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
    while (block.isValid() && top <= event->rect().bottom()) {
        const qreal height = blockBoundingRect(block).height();
        if (block.isVisible() && top + height >= event->rect().top()) {
            // A line with a diagnostic of the last build: a bar at the edge, a tinted number.
            if (const DiagnosticMarks::Kind kind = marks_->KindOf(block);
                kind != DiagnosticMarks::Kind::None) {
                const QColor colour = DiagnosticMarks::ColourOf(kind, palette());
                painter.fillRect(QRectF(0, top, gutter_->width(), lineHeight),
                                 Blend(base, colour, 0.45));
                painter.fillRect(QRectF(0, top, 4, lineHeight), colour);
            }
            const bool isCurrent = block.blockNumber() == current;
            painter.setFont(isCurrent ? bold : font);
            painter.setPen(isCurrent ? text : muted);
            painter.drawText(QRectF(0, top, right, lineHeight), Qt::AlignRight | Qt::AlignTop,
                             QString::number(block.blockNumber() + 1));
        }
        top += height;
        block = block.next();
    }
}

void CodeEditor::MarkMatchingBrackets()
{
    QList<QTextEdit::ExtraSelection> marks;
    if (const auto pair = MatchingBrackets(document(), textCursor().position())) {
        QTextCharFormat format;
        const QColor base = palette().color(QPalette::Base);
        format.setBackground(Blend(base, palette().color(QPalette::Highlight), 0.35));
        format.setFontWeight(QFont::Bold);
        for (const int position : {pair->first, pair->second}) {
            QTextEdit::ExtraSelection mark;
            mark.format = format;
            mark.cursor = QTextCursor(document());
            mark.cursor.setPosition(position);
            mark.cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
            marks.append(mark);
        }
    }
    if (!marks.isEmpty() || !extraSelections().isEmpty())
        setExtraSelections(marks);
}

void CodeEditor::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (modifiers == Qt::NoModifier && key == Qt::Key_Tab) {
        if (!EditorKeys::IndentLines(this))
            insertPlainText(QString(EditorKeys::kIndentWidth, u' '));
        return;
    }
    if ((modifiers & ~Qt::ShiftModifier) == Qt::NoModifier && key == Qt::Key_Backtab) {
        EditorKeys::DedentLines(this);
        return;
    }
    if (modifiers == Qt::NoModifier && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        EditorKeys::NewLine(this);
        return;
    }
    if (modifiers == Qt::NoModifier && key == Qt::Key_Backspace &&
        EditorKeys::BackspaceIndentation(this))
        return;
    // Ctrl+/ (with Shift where "/" is a shifted key).
    if ((modifiers & ~Qt::ShiftModifier) == Qt::ControlModifier && key == Qt::Key_Slash) {
        EditorKeys::ToggleComment(this);
        return;
    }
    if (!(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
        event->text() == QStringLiteral("}") && EditorKeys::CloseBrace(this))
        return;
    QPlainTextEdit::keyPressEvent(event);
}
