#include <algorithm>
#include <iostream>
#include <map>
#include <string>
#include <vector>

struct Item {
    std::string name;
    int count;
};

void Demo1()
{
    std::vector<Item> items{{"apple", 3}, {"pear", 5}, {"plum", 1}, {"fig", 4}};
    std::sort(items.begin(), items.end(),
              [](const Item& a, const Item& b) { return a.count > b.count; });
    std::map<std::string, int> byName;
    for (const Item& item : items)
        byName[item.name] += item.count;
    std::string line;
    int total = 0;
    for (const auto& [name, count] : byName) {
        line += name + '=' + std::to_string(count) + ' ';
        total += count;
    }
    std::cout << line << "total=" << total << '\n';
    auto best = std::max_element(items.begin(), items.end(),
                                 [](const Item& a, const Item& b) { return a.count < b.count; });
    std::cout << "best: " << best->name << std::endl;
}
