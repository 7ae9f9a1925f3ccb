#!/bin/bash
# Compile plus link of a 30-line snippet through MyCL.bat and MyLink.bat, against a plain
# "g++ -std=c++20 -fPIC -shared" of the same code without the precompiled header, measured
# alternately in the same run. Prints the median of each and their ratio.
# Usage: bench/compile_link.sh [built toolchain folder, default out/cl] [runs, default 10]
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
toolchain=$(cd "${1:-$source_dir/out/cl}" && pwd)
runs=${2:-10}
[ -f "$toolchain/stdafx.h.gch" ] || { echo "build the toolchain target first" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
folder="$scratch/tool chain"
cp -a "$toolchain" "$folder"

cat >"$scratch/snippet.cpp" <<'SNIPPET'
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
SNIPPET
# "T.cpp" as Vornak writes it: two include lines, the code, CR LF line breaks.
{ printf '#include "stdafx.h"\n#include "T.h"\n'; cat "$scratch/snippet.cpp"; } |
    sed 's/$/\r/' >"$folder/T.cpp"

seconds() { # runs the command, prints its wall time
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    local end=$EPOCHREALTIME
    echo "$(( (${end/./} - ${start/./}) ))"
}
toolchain_build() { /bin/sh "$folder/MyCL.bat" && /bin/sh "$folder/MyLink.bat"; }
plain_build() { g++ -std=c++20 -fPIC -shared "$scratch/snippet.cpp" -o "$scratch/plain.so"; }

toolchain_build >/dev/null # warm the caches
ours=()
plain=()
for ((i = 0; i < runs; i++)); do
    ours+=("$(cd "$scratch" && seconds toolchain_build)")
    plain+=("$(seconds plain_build)")
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
m_ours=$(median "${ours[@]}")
m_plain=$(median "${plain[@]}")
awk -v o="$m_ours" -v p="$m_plain" -v n="$runs" 'BEGIN {
    printf "runs: %d\nMyCL.bat + MyLink.bat: median %.3f s\nplain g++ -shared:     median %.3f s\nspeed-up: %.2fx\n", n, o / 1e6, p / 1e6, p / o }'
