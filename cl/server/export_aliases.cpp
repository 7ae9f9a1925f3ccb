#include "export_aliases.h"

#include "source_charset.h"

#include <cctype>
#include <map>
#include <set>
#include <string_view>

namespace {

// Takes "<length><identifier>" off the front of `rest`; empty when it is not there.
std::string_view TakeName(std::string_view& rest)
{
    std::size_t digits = 0;
    std::size_t length = 0;
    while (digits < rest.size() && std::isdigit(static_cast<unsigned char>(rest[digits]))) {
        length = length * 10 + static_cast<std::size_t>(rest[digits] - '0');
        if (length > rest.size())
            return {};
        ++digits;
    }
    if (digits == 0 || rest[0] == '0' || digits + length > rest.size())
        return {};
    const std::string_view name = rest.substr(digits, length);
    rest.remove_prefix(digits + length);
    return name;
}

bool IsIdentifier(std::string_view name)
{
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])))
        return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (!(std::isalnum(byte) || c == '_' || byte >= 0x80))
            return false;
    }
    return true;
}

// One argument of a response file, as the linker reads it: in double quotes, with a backslash
// before every double quote and backslash (a byte 0x5C can end a character of GBK).
std::string QuotedForResponseFile(const std::string& argument)
{
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace

std::vector<ExportAlias> ExportAliases(const std::vector<DefinedSymbol>& symbols)
{
    std::set<std::string> plain{"Config"};
    struct Candidates {
        int count = 0;
        std::string some;
        std::string noArguments;
    };
    std::map<std::string, Candidates> byName;
    std::vector<std::string> order;

    for (const DefinedSymbol& symbol : symbols) {
        if (symbol.name.rfind("_Z", 0) != 0) {
            plain.insert(symbol.name);
            continue;
        }
        if (!symbol.function || !symbol.global)
            continue;
        std::string_view rest = std::string_view(symbol.name).substr(2);
        const std::string_view name = TakeName(rest);
        if (!IsIdentifier(name))
            continue;
        // ABI tags, as in "_Z5Demo1B5cxx11v" returning std::string.
        while (rest.size() > 1 && rest[0] == 'B' &&
               std::isdigit(static_cast<unsigned char>(rest[1]))) {
            rest.remove_prefix(1);
            if (TakeName(rest).empty())
                break;
        }
        if (!rest.empty() && rest[0] == 'I') // a template's instance
            continue;
        const std::string key(name);
        Candidates& candidates = byName[key];
        if (candidates.count++ == 0)
            order.push_back(key);
        candidates.some = symbol.name;
        if (rest == "v")
            candidates.noArguments = symbol.name;
    }

    std::vector<ExportAlias> aliases;
    for (const std::string& name : order) {
        if (plain.count(name))
            continue;
        const Candidates& candidates = byName[name];
        if (!candidates.noArguments.empty())
            aliases.push_back({name, candidates.noArguments});
        else if (candidates.count == 1)
            aliases.push_back({name, candidates.some});
    }
    return aliases;
}

std::string AliasResponseFile(const std::vector<ExportAlias>& aliases, const std::string& charset)
{
    std::string options;
    for (const ExportAlias& alias : aliases) {
        const std::string name =
            charset.empty() ? alias.name : ConvertText(alias.name, "UTF-8", charset);
        if (!name.empty())
            options += QuotedForResponseFile("--defsym=" + name + '=' + alias.target) + '\n';
    }
    return options;
}
