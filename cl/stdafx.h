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
extern template class std::basic_string<char>;

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
VORNAK_COMMON_INSTANTIATIONS(extern)
