#include <iostream>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Counting words with hash and ordered containers.
void Demo1()
{
    const std::vector<std::string> words{"pear", "apple", "fig", "apple", "plum", "fig", "apple"};
    std::unordered_map<std::string, int> counts;
    for (const std::string& word : words)
        ++counts[word];
    std::map<int, std::set<std::string>> byCount;
    for (const auto& [word, count] : counts)
        byCount[count].insert(word);
    for (const auto& [count, group] : byCount) {
        std::cout << count << ':';
        for (const std::string& word : group)
            std::cout << ' ' << word;
        std::cout << '\n';
    }
    std::unordered_set<int> seen;
    std::set<int> ordered;
    for (int i = 0; i < 20; ++i) {
        seen.insert(i * 7 % 10);
        ordered.insert(i * 3 % 11);
    }
    std::cout << seen.size() << ' ' << *ordered.begin() << ' ' << *ordered.rbegin() << '\n';
    std::multimap<std::string, int> pages{{"a", 1}, {"b", 2}, {"a", 3}};
    std::cout << pages.count("a") << '\n';
}
