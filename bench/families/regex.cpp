#include <iostream>
#include <regex>
#include <string>
#include <vector>

// Dates and e-mail addresses out of a text, and a replacement.
void Demo1()
{
    const std::string text = "Met bob@example.com on 2024-03-15, alice@test.org on 2024-04-01.";
    const std::regex mail(R"(([\w.]+)@([\w.]+))");
    const std::regex date(R"((\d{4})-(\d{2})-(\d{2}))");
    std::vector<std::string> users;
    for (std::sregex_iterator it(text.begin(), text.end(), mail), end; it != end; ++it)
        users.push_back((*it)[1].str());
    std::smatch match;
    if (std::regex_search(text, match, date))
        std::cout << "first date: " << match[3] << '.' << match[2] << '.' << match[1] << '\n';
    std::cout << std::regex_replace(text, date, "$3.$2.$1") << '\n';
    for (const std::string& user : users)
        std::cout << user << (std::regex_match(user, std::regex("[a-z]+")) ? " plain" : "") << '\n';
}
