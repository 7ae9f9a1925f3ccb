#pragma once

#include "sliced_highlighter.h"

#include <QStringList>
#include <QTextCharFormat>
#include <array>

// C++ colours for the editor: keywords, types, string and character literals (raw strings
// too, also across lines), comments (also across lines), numbers and preprocessor lines.
class CppHighlighter : public SlicedHighlighter {
    Q_OBJECT

public:
    enum class Kind { Keyword, Type, String, Comment, Number, Preprocessor, Count };

    explicit CppHighlighter(QTextDocument* document);

    // Picks the colours that read well on a dark or on a light background and colours again.
    void SetDarkBackground(bool dark);
    bool DarkBackground() const { return dark_; }
    const QTextCharFormat& Format(Kind kind) const { return formats_[size_t(kind)]; }

protected:
    int HighlightLine(const QString& text, int previousState) override;

private:
    void SetColours();
    void Mark(qsizetype start, qsizetype end, Kind kind);
    qsizetype StringEnd(const QString& text, qsizetype open) const;
    qsizetype RawStringEnd(const QString& text, qsizetype from, const QString& delimiter) const;

    bool dark_ = false;
    std::array<QTextCharFormat, size_t(Kind::Count)> formats_;
    // Delimiters of raw strings that run past a line's end; a line's state names one.
    QStringList delimiters_;
};
