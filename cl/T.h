// Included by every "T.cpp" after "stdafx.h". A module's entries are ordinary functions:
//     void Demo1() { std::cout << "hello\n"; Print("x = ", 42, "\n"); }
// is called by typing Demo1. std::cout, std::cerr, std::clog, std::printf, std::puts and Print
// all write to Vornak's output pane, in the order they are called.
// Everything included here is in the precompiled "stdafx.h" as well, so this costs nothing.
#pragma once
// And guarded: the compile server's heavy.h.pch may hold this file from another folder (a copy's).
#ifndef VORNAK_T_H
#define VORNAK_T_H

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <type_traits>

// Writes text to the output pane as it is: no line break is added.
[[gnu::visibility("hidden")]] void Print(std::string_view text);

// Always inlined: so that the compile server's heavy header, which includes this file, leaves
// them out of its library (which cannot call the hidden Print above).
[[gnu::always_inline]] inline void Print(const char* text)
{
    if (text)
        Print(std::string_view(text));
}

[[gnu::always_inline]] inline void Print(const std::string& text)
{
    Print(std::string_view(text));
}

// Numbers in their shortest form (2.5, not 2.500000); a char as the character.
template <class Number>
requires std::is_arithmetic_v<Number>
void Print(Number value)
{
    if constexpr (std::is_same_v<Number, bool>) {
        Print(value ? "true" : "false");
    } else if constexpr (std::is_same_v<Number, char>) {
        Print(std::string_view(&value, 1));
    } else {
        char digits[64];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        Print(std::string_view(digits, result.ptr - digits));
    }
}

// Several pieces in a row: Print("x = ", x, "\n").
template <class First, class... Rest>
requires(sizeof...(Rest) > 0) void Print(const First& first, const Rest&... rest)
{
    Print(first);
    (Print(rest), ...);
}

#endif
