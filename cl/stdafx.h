// Precompiled: the standard headers that snippets use most. Each header added here makes every
// compile slower (the precompiled form is loaded each time), so only common ones are listed.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// For C++20, libstdc++ no longer declares std::string's members extern, so every file would
// compile its own copy of those it uses. The module runtime (rt.o) holds one copy instead.
// (Not under the compile server's heavy.h: its library holds its own copies, as it cannot use
// rt.o's.)
#ifndef VORNAK_HEAVY_PCH
extern template class std::basic_string<char>;
#endif

// The same for the containers snippets use most: their members are compiled once, into rt.o,
// instead of in every Run (about 15% of a typical compile). std::map's tree is named in full
// because the map's own members only forward to it.
#define VORNAK_COMMON_INSTANTIATIONS(kind)                                                         \
    kind template class std::vector<int>;                                                          \
    kind template class std::vector<double>;                                                       \
    kind template class std::vector<std::string>;                                                  \
    kind template class std::map<std::string, int>;                                                \
    kind template class std::_Rb_tree<std::string, std::pair<const std::string, int>,              \
                                      std::_Select1st<std::pair<const std::string, int>>,          \
                                      std::less<std::string>,                                      \
                                      std::allocator<std::pair<const std::string, int>>>;          \
    kind template class std::map<int, int>;                                                        \
    kind template class std::_Rb_tree<int, std::pair<const int, int>,                              \
                                      std::_Select1st<std::pair<const int, int>>, std::less<int>,  \
                                      std::allocator<std::pair<const int, int>>>;
#ifndef VORNAK_HEAVY_PCH
VORNAK_COMMON_INSTANTIATIONS(extern)
#endif

// For the compile server (clang): what snippets use most, used once here so that clang
// instantiates it in the precompiled header instead of in every compile (a third of a typical
// one). The function is never called, and so never compiled into a module. Guarded: T.cpp
// includes this file again after clang has loaded it precompiled.
#if defined(__clang__) && !defined(VORNAK_COMMON_USES)
#define VORNAK_COMMON_USES
inline void VornakCommonUses()
{
    std::string s;
    s += 'c';
    s += "s";
    s += s;
    s = s + s;
    s = s + 'c';
    s = s + "s";
    s = "s" + s;
    s = 'c' + s;
    s = std::move(s) + s;
    s = std::move(s) + 'c';
    s = std::move(s) + "s";
    s = std::to_string(1) + std::to_string(1.0);
    (void)(s == s), (void)(s == "s"), (void)(s < s), (void)(s != s);
    std::string_view view = s;
    (void)view;
    std::vector<int> ints{1, 2};
    ints.push_back(1);
    ints.emplace_back(1);
    std::sort(ints.begin(), ints.end());
    std::vector<double> doubles{1.0};
    doubles.push_back(1.0);
    std::sort(doubles.begin(), doubles.end());
    std::vector<std::string> strings{s};
    strings.push_back(s);
    strings.emplace_back("s");
    std::sort(strings.begin(), strings.end());
    std::map<std::string, int> byName;
    byName[s]++;
    byName.emplace(s, 1);
    for (const auto& [key, value] : byName)
        std::cout << key << value;
    std::map<int, int> byNumber;
    byNumber[1]++;
    std::cout << s << 1 << 1.0 << 'c' << "s" << std::endl;
}
#endif
