#pragma once

#include "sliced_highlighter.h"

#include <QStringList>
#include <QTextCharFormat>
#include <array>
#include <optional>

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
    // Colours what a construct of the line above (a comment, a raw string) covers of this line
    // and sets `i` after it; the line's state when it covers all of it.
    std::optional<int> CarriedOver(const QString& text, int previousState, qsizetype& i);
    // Colours the identifier, keyword or prefixed literal at `i` and returns its end; `state`
    // becomes the line's state when a raw string in it runs past the line's end.
    qsizetype WordEnd(const QString& text, qsizetype i, int& state);
    // The number by which a line's state names a raw string's delimiter (kept in delimiters_).
    int RawStringState(const QString& delimiter);

    bool dark_ = false;
    std::array<QTextCharFormat, size_t(Kind::Count)> formats_;
    // Delimiters of raw strings that run past a line's end; a line's state names one.
    QStringList delimiters_;
};
