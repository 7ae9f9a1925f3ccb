#pragma once

#include <optional>
#include <utility>

class QTextDocument;

// The bracket ((), [] or {}) next to the caret and the one that matches it, as document
// positions: the one right after the caret first, else the one right before it. Nothing when
// neither is a bracket or the match is not within a long stretch of text (the search must not
// make moving the caret through a large file slow). Brackets in strings and comments count
// like any other.
std::optional<std::pair<int, int>> MatchingBrackets(const QTextDocument* document, int caret);
