#pragma once

#include <string>
#include <string_view>

// Turns a source written in a multi-byte code page such as GBK into the UTF-8 that clang
// reads, keeping what the program sees as g++'s -finput-charset and -fexec-charset would: the
// text of plain string and character literals stays in the code page's bytes (written as octal
// escapes), while names, comments, and wide and UTF literals become UTF-8. Lines stay where
// they are, so that messages name the same lines. False when iconv does not know the code page.
bool SourceToUtf8(std::string_view source, const std::string& charset, std::string& utf8);

// Converts text between two code pages; characters the target lacks are left out.
std::string ConvertText(std::string_view text, const std::string& from, const std::string& to);
