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
