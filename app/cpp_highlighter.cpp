#include "cpp_highlighter.h"

#include <string_view>
#include <unordered_set>

namespace {

using namespace std::string_view_literals;

// Line end states: 0 plain code; the others carry a construct into the next line.
constexpr int kPlain = 0;
constexpr int kInComment = 1;
constexpr int kInDirective = 2;  // a preprocessor line ending in a backslash
constexpr int kInRawString = 16; // + the index of the raw string's delimiter

// A raw string's delimiter has at most 16 characters.
constexpr qsizetype kLongestDelimiter = 16;

const std::unordered_set<std::u16string_view>& Keywords()
{
    static const std::unordered_set<std::u16string_view> words{
        u"alignas"sv,
        u"alignof"sv,
        u"and"sv,
        u"and_eq"sv,
        u"asm"sv,
        u"bitand"sv,
        u"bitor"sv,
        u"break"sv,
        u"case"sv,
        u"catch"sv,
        u"class"sv,
        u"co_await"sv,
        u"co_return"sv,
        u"co_yield"sv,
        u"compl"sv,
        u"concept"sv,
        u"const"sv,
        u"const_cast"sv,
        u"consteval"sv,
        u"constexpr"sv,
        u"constinit"sv,
        u"continue"sv,
        u"decltype"sv,
        u"default"sv,
        u"delete"sv,
        u"do"sv,
        u"dynamic_cast"sv,
        u"else"sv,
        u"enum"sv,
        u"explicit"sv,
        u"export"sv,
        u"extern"sv,
        u"false"sv,
        u"for"sv,
        u"friend"sv,
        u"goto"sv,
        u"if"sv,
        u"inline"sv,
        u"mutable"sv,
        u"namespace"sv,
        u"new"sv,
        u"noexcept"sv,
        u"not"sv,
        u"not_eq"sv,
        u"nullptr"sv,
        u"operator"sv,
        u"or"sv,
        u"or_eq"sv,
        u"private"sv,
        u"protected"sv,
        u"public"sv,
        u"register"sv,
        u"reinterpret_cast"sv,
        u"requires"sv,
        u"return"sv,
        u"sizeof"sv,
        u"static"sv,
        u"static_assert"sv,
        u"static_cast"sv,
        u"struct"sv,
        u"switch"sv,
        u"template"sv,
        u"this"sv,
        u"thread_local"sv,
        u"throw"sv,
        u"true"sv,
        u"try"sv,
        u"typedef"sv,
        u"typeid"sv,
        u"typename"sv,
        u"union"sv,
        u"using"sv,
        u"virtual"sv,
        u"volatile"sv,
        u"while"sv,
        u"xor"sv,
        u"xor_eq"sv,
    };
    return words;
}

// The built-in types and the standard library's most used ones.
const std::unordered_set<std::u16string_view>& Types()
{
    static const std::unordered_set<std::u16string_view> words{
        u"auto"sv,          u"bool"sv,          u"char"sv,     u"char8_t"sv,     u"char16_t"sv,
        u"char32_t"sv,      u"double"sv,        u"float"sv,    u"int"sv,         u"long"sv,
        u"short"sv,         u"signed"sv,        u"unsigned"sv, u"void"sv,        u"wchar_t"sv,
        u"size_t"sv,        u"ptrdiff_t"sv,     u"intptr_t"sv, u"uintptr_t"sv,   u"int8_t"sv,
        u"int16_t"sv,       u"int32_t"sv,       u"int64_t"sv,  u"uint8_t"sv,     u"uint16_t"sv,
        u"uint32_t"sv,      u"uint64_t"sv,      u"string"sv,   u"string_view"sv, u"wstring"sv,
        u"vector"sv,        u"map"sv,           u"set"sv,      u"multimap"sv,    u"multiset"sv,
        u"unordered_map"sv, u"unordered_set"sv, u"list"sv,     u"deque"sv,       u"array"sv,
        u"pair"sv,          u"tuple"sv,         u"optional"sv, u"variant"sv,     u"unique_ptr"sv,
        u"shared_ptr"sv,    u"function"sv,      u"ostream"sv,  u"istream"sv,     u"stringstream"sv,
    };
    return words;
}

std::u16string_view View(const QString& text, qsizetype start, qsizetype end)
{
    return {reinterpret_cast<const char16_t*>(text.constData()) + start, size_t(end - start)};
}

bool IsIdentifierStart(QChar c)
{
    return c.isLetter() || c == u'_';
}

bool IsIdentifierPart(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

// Prefixes that make the quote after them a string or character literal.
bool IsLiteralPrefix(std::u16string_view word)
{
    return word == u"u8"sv || word == u"u"sv || word == u"U"sv || word == u"L"sv;
}

bool IsRawPrefix(std::u16string_view word)
{
    return word == u"R"sv || word == u"u8R"sv || word == u"uR"sv || word == u"UR"sv ||
           word == u"LR"sv;
}

// Whether the line is a preprocessor directive: its first character other than a blank is "#".
bool StartsDirective(const QString& text)
{
    qsizetype first = 0;
    while (first < text.size() && text[first].isSpace())
        ++first;
    return first < text.size() && text[first] == u'#';
}

// The end of the number literal that starts at `i`: digits, separators, suffixes and an
// exponent's sign (not a hexadecimal digit e's).
qsizetype NumberEnd(const QString& text, qsizetype i)
{
    const qsizetype n = text.size();
    qsizetype end = i + 1;
    while (end < n) {
        const QChar d = text[end];
        if ((d == u'+' || d == u'-') && QStringView(u"eEpP").contains(text[end - 1]) &&
            !(text[i] == u'0' && end - i >= 2 && (text[i + 1] == u'x' || text[i + 1] == u'X') &&
              (text[end - 1] == u'e' || text[end - 1] == u'E'))) {
            ++end; // an exponent's sign
        } else if (d.isLetterOrNumber() || d == u'.' || d == u'_' ||
                   (d == u'\'' && end + 1 < n && text[end + 1].isLetterOrNumber())) {
            ++end; // digits, separators, suffixes
        } else {
            break;
        }
    }
    return end;
}

// The delimiter of the raw string whose quote is at `quote` (R"delimiter( ... )delimiter"), or
// nothing when what follows is no valid one.
std::optional<QString> RawStringDelimiter(const QString& text, qsizetype quote)
{
    const qsizetype open = text.indexOf(u'(', quote + 1);
    if (open < 0)
        return std::nullopt;
    const QString delimiter = text.mid(quote + 1, open - quote - 1);
    if (delimiter.size() > kLongestDelimiter || delimiter.contains(u' ') ||
        delimiter.contains(u')') || delimiter.contains(u'\\') || delimiter.contains(u'"'))
        return std::nullopt;
    return delimiter;
}

QColor Colour(const char* name)
{
    return QColor::fromString(QLatin1StringView(name));
}

} // namespace

CppHighlighter::CppHighlighter(QTextDocument* document) : SlicedHighlighter(document)
{
    SetColours();
}

void CppHighlighter::SetDarkBackground(bool dark)
{
    if (dark == dark_)
        return;
    dark_ = dark;
    SetColours();
    RecolourAll();
}

void CppHighlighter::SetColours()
{
    // Light: deep, saturated colours on white. Dark: light, softer ones on near black.
    const std::array<const char*, size_t(Kind::Count)> light{"#0033b3", "#00727f", "#067d17",
                                                             "#707070", "#1750eb", "#8a5a00"};
    const std::array<const char*, size_t(Kind::Count)> dark{"#f0a35c", "#5cc8c8", "#9ccc7a",
                                                            "#9a9a9a", "#80b4ff", "#d7c75f"};
    for (size_t i = 0; i < formats_.size(); ++i) {
        QTextCharFormat format;
        format.setForeground(Colour(dark_ ? dark[i] : light[i]));
        formats_[i] = format;
    }
    formats_[size_t(Kind::Comment)].setFontItalic(true);
}

void CppHighlighter::Mark(qsizetype start, qsizetype end, Kind kind)
{
    if (end > start)
        setFormat(int(start), int(end - start), Format(kind));
}

// Index after the closing quote of the literal opened at open, or the line's end.
qsizetype CppHighlighter::StringEnd(const QString& text, qsizetype open) const
{
    const QChar quote = text[open];
    for (qsizetype i = open + 1; i < text.size(); ++i) {
        if (text[i] == u'\\')
            ++i;
        else if (text[i] == quote)
            return i + 1;
    }
    return text.size();
}

// Index after ")delimiter\"" at or after from, or -1 when the raw string goes on.
qsizetype CppHighlighter::RawStringEnd(const QString& text, qsizetype from,
                                       const QString& delimiter) const
{
    const QString close = u')' + delimiter + u'"';
    const qsizetype at = text.indexOf(close, from);
    return at < 0 ? -1 : at + close.size();
}

int CppHighlighter::HighlightLine(const QString& text, int previousState)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    if (const std::optional<int> state = CarriedOver(text, previousState, i))
        return *state;

    const bool directive = previousState == kInDirective || (i == 0 && StartsDirective(text));
    if (directive)
        Mark(i, n, Kind::Preprocessor);

    while (i < n) {
        const QChar c = text[i];
        const QChar next = i + 1 < n ? text[i + 1] : QChar();
        if (c == u'/' && next == u'/') {
            Mark(i, n, Kind::Comment);
            return kPlain;
        }
        if (c == u'/' && next == u'*') {
            const qsizetype close = text.indexOf(QStringLiteral("*/"), i + 2);
            if (close < 0) {
                Mark(i, n, Kind::Comment);
                return kInComment;
            }
            Mark(i, close + 2, Kind::Comment);
            i = close + 2;
            continue;
        }
        if (directive) {
            // The rest of a directive keeps its colour; only comments stand out, and a "//"
            // inside a quoted file name or text is none.
            i = c == u'"' ? StringEnd(text, i) : i + 1;
            continue;
        }
        if (IsIdentifierStart(c)) {
            int state = kPlain;
            i = WordEnd(text, i, state);
            if (state != kPlain)
                return state;
            continue;
        }
        if (c.isDigit() || (c == u'.' && next.isDigit())) {
            const qsizetype end = NumberEnd(text, i);
            Mark(i, end, Kind::Number);
            i = end;
            continue;
        }
        if (c == u'"' || c == u'\'') {
            const qsizetype close = StringEnd(text, i);
            Mark(i, close, Kind::String);
            i = close;
            continue;
        }
        ++i;
    }
    if (directive && n > 0 && text[n - 1] == u'\\')
        return kInDirective;
    return kPlain;
}

std::optional<int> CppHighlighter::CarriedOver(const QString& text, int previousState, qsizetype& i)
{
    const qsizetype n = text.size();
    if (previousState == kInComment) {
        const qsizetype close = text.indexOf(QStringLiteral("*/"));
        if (close < 0) {
            Mark(0, n, Kind::Comment);
            return kInComment;
        }
        i = close + 2;
        Mark(0, i, Kind::Comment);
    } else if (previousState >= kInRawString && previousState - kInRawString < delimiters_.size()) {
        const qsizetype end = RawStringEnd(text, 0, delimiters_[previousState - kInRawString]);
        if (end < 0) {
            Mark(0, n, Kind::String);
            return previousState;
        }
        i = end;
        Mark(0, i, Kind::String);
    }
    return std::nullopt;
}

qsizetype CppHighlighter::WordEnd(const QString& text, qsizetype i, int& state)
{
    const qsizetype n = text.size();
    qsizetype end = i + 1;
    while (end < n && IsIdentifierPart(text[end]))
        ++end;
    const std::u16string_view word = View(text, i, end);
    const QChar after = end < n ? text[end] : QChar();
    if (after == u'"' && IsRawPrefix(word)) {
        if (const std::optional<QString> delimiter = RawStringDelimiter(text, end)) {
            const qsizetype close = RawStringEnd(text, text.indexOf(u'(', end + 1) + 1, *delimiter);
            if (close < 0) {
                Mark(i, n, Kind::String);
                state = kInRawString + RawStringState(*delimiter);
                return n;
            }
            Mark(i, close, Kind::String);
            return close;
        }
    }
    if ((after == u'"' || after == u'\'') && IsLiteralPrefix(word)) {
        const qsizetype close = StringEnd(text, end);
        Mark(i, close, Kind::String);
        return close;
    }
    if (Keywords().count(word))
        Mark(i, end, Kind::Keyword);
    else if (Types().count(word))
        Mark(i, end, Kind::Type);
    return end;
}

int CppHighlighter::RawStringState(const QString& delimiter)
{
    qsizetype index = delimiters_.indexOf(delimiter);
    if (index < 0) {
        delimiters_.append(delimiter);
        index = delimiters_.size() - 1;
    }
    return int(index);
}
