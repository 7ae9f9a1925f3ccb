#include "diagnostic_marks.h"

#include "source_file.h"

#include <QHash>
#include <QPalette>
#include <QPlainTextEdit>
#include <QTextBlock>

namespace {

// A line of many errors (a std::sort of values without operator<) would fill the screen.
constexpr qsizetype kMostNotesShown = 8;
constexpr qsizetype kMostMessagesShown = 12;

QString NoteText(const DiagnosticNote& note)
{
    const std::optional<qint64> line =
        note.sourceLine ? EditorLine(*note.sourceLine) : std::nullopt;
    const QString place = line ? QStringLiteral("第 %1 行").arg(*line) : note.place;
    return QStringLiteral("    ") + note.text + QStringLiteral("（") + place + QStringLiteral("）");
}

QString MessageText(const Diagnostic& diagnostic)
{
    QStringList lines{(diagnostic.isError ? QStringLiteral("错误：") : QStringLiteral("警告：")) +
                      diagnostic.message};
    for (qsizetype i = 0; i < diagnostic.notes.size() && i < kMostNotesShown; ++i)
        lines << NoteText(diagnostic.notes[i]);
    if (diagnostic.notes.size() > kMostNotesShown)
        lines << QStringLiteral("    …");
    return lines.join(u'\n');
}

} // namespace

void DiagnosticMarks::Set(const QList<Diagnostic>& diagnostics)
{
    marks_.clear();
    QHash<int, qsizetype> markOfBlock;
    QTextDocument* document = editor_->document();
    for (const Diagnostic& diagnostic : diagnostics) {
        const std::optional<qint64> line =
            diagnostic.sourceLine ? EditorLine(*diagnostic.sourceLine) : std::nullopt;
        if (!line || *line > document->blockCount())
            continue;
        const int blockNumber = int(*line) - 1;
        auto found = markOfBlock.constFind(blockNumber);
        if (found == markOfBlock.constEnd()) {
            Mark mark;
            mark.start = QTextCursor(document->findBlockByNumber(blockNumber));
            found = markOfBlock.insert(blockNumber, marks_.size());
            marks_.append(mark);
        }
        Mark& mark = marks_[*found];
        mark.isError = mark.isError || diagnostic.isError;
        if (mark.messages.size() < kMostMessagesShown)
            mark.messages << MessageText(diagnostic);
        else if (mark.messages.size() == kMostMessagesShown)
            mark.messages << QStringLiteral("…");
    }
}

DiagnosticMarks::Kind DiagnosticMarks::KindOf(const QTextBlock& block) const
{
    Kind kind = Kind::None;
    for (const Mark& mark : marks_) {
        if (mark.start.block() != block)
            continue;
        if (mark.isError)
            return Kind::Error;
        kind = Kind::Warning;
    }
    return kind;
}

QString DiagnosticMarks::ToolTipOf(const QTextBlock& block) const
{
    QStringList messages;
    for (const Mark& mark : marks_)
        if (mark.start.block() == block)
            messages << mark.messages;
    return messages.join(u'\n');
}

QColor DiagnosticMarks::ColourOf(Kind kind, const QPalette& palette)
{
    const bool dark = palette.color(QPalette::Base).lightness() < 128;
    switch (kind) {
    case Kind::Error:
        return dark ? QColor(0xF0, 0x50, 0x50) : QColor(0xD0, 0x10, 0x10);
    case Kind::Warning:
        return dark ? QColor(0xF0, 0xB0, 0x30) : QColor(0xE0, 0x90, 0x00);
    case Kind::None:
        break;
    }
    return {};
}
