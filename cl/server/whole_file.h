#pragma once

#include <fstream>
#include <iterator>
#include <string>

// A file of the toolchain folder read or written whole, as bytes.

inline bool ReadWholeFile(const char* path, std::string& text)
{
    std::ifstream file(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(file), {});
    return file.is_open() && !file.bad();
}

inline bool WriteWholeFile(const char* path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    return !file.fail();
}
