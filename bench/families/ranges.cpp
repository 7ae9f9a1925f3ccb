#include <algorithm>
#include <iostream>
#include <map>
#include <ranges>
#include <string>
#include <vector>

// Pipelines over numbers and over a map.
void Demo1()
{
    std::vector<int> numbers{7, 3, 9, 1, 4, 8, 2, 6, 5};
    std::ranges::sort(numbers);
    auto squares = numbers | std::views::filter([](int n) { return n % 2 == 1; }) |
                   std::views::transform([](int n) { return n * n; });
    for (int n : squares)
        std::cout << n << ' ';
    std::cout << '\n';
    for (int n : std::views::iota(1, 20) | std::views::drop_while([](int n) { return n < 5; }) |
                     std::views::take(4) | std::views::reverse)
        std::cout << n << ' ';
    std::map<std::string, int> ages{{"ann", 31}, {"bob", 25}, {"cid", 40}};
    for (const std::string& name : ages | std::views::keys)
        std::cout << name << ' ';
    auto old = ages | std::views::values | std::views::filter([](int age) { return age > 30; });
    std::cout << std::ranges::distance(old) << " over 30\n";
    auto found = std::ranges::find_if(numbers, [](int n) { return n > 5; });
    std::cout << *found << '\n';
}
