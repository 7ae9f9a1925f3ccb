#!/bin/bash
# Compile plus link of a 30-line snippet through MyCL.bat and MyLink.bat, against a plain
# "g++ -std=c++20 -fPIC -shared" of the same code without the precompiled header, measured
# alternately in the same run. Prints the median of each and their ratio, the compile and the
# link apart, the first build after the compile server starts, and the server's memory.
# The scripts run from this shell, as from Vornak: their parent lives on, and so does the
# compile server they start.
# With a third argument, another built toolchain folder (one built from an earlier commit,
# say), its compile is measured too, alternately with this one's, and the ratio printed.
# Usage: bench/compile_link.sh [built toolchain folder, default out/cl] [runs, default 10]
#        [toolchain folder to compare the compile with]
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
toolchain=$(cd "${1:-$source_dir/out/cl}" && pwd)
runs=${2:-10}
[ -f "$toolchain/stdafx.h.gch" ] || { echo "build the toolchain target first" >&2; exit 1; }
other=
[ -n "${3:-}" ] && other=$(cd "$3" && pwd)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
folder="$scratch/tool chain"
cp -a "$toolchain" "$folder"
[ -z "$other" ] || cp -a "$other" "$scratch/other chain"

cp "$source_dir/bench/families/snippet30.cpp" "$scratch/snippet.cpp"
# "T.cpp" as Vornak writes it: two include lines, the code, CR LF line breaks.
{ printf '#include "stdafx.h"\n#include "T.h"\n'; cat "$scratch/snippet.cpp"; } |
    sed 's/$/\r/' >"$folder/T.cpp"
[ -z "$other" ] || cp "$folder/T.cpp" "$scratch/other chain/T.cpp"

cd "$scratch" # not the toolchain folder
. "$source_dir/bench/measure.sh"
compile() { /bin/sh "$folder/MyCL.bat"; }
other_compile() { /bin/sh "$scratch/other chain/MyCL.bat"; }
other_link() { /bin/sh "$scratch/other chain/MyLink.bat"; }
link() { /bin/sh "$folder/MyLink.bat"; }
plain_build() { g++ -std=c++20 -fPIC -shared "$scratch/snippet.cpp" -o "$scratch/plain.so"; }
server_pid() { [ -x "$folder/compile-client" ] && "$folder/compile-client" pid 2>/dev/null; }
stop_server() {
    local pid
    pid=$(server_pid) || return 0
    kill "$pid" 2>/dev/null
    while kill -0 "$pid" 2>/dev/null && [ "$(ps -o stat= -p "$pid")" != Z ]; do sleep 0.05; done
}
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The first build after the server starts (the folder's precompiled header on disk, the
# server not running), against plain g++.
first=()
first_plain=()
for ((i = 0; i < 3; i++)); do
    stop_server
    measure eval 'compile && link'
    first+=("$elapsed")
    measure plain_build
    first_plain+=("$elapsed")
done

compile >/dev/null && link >/dev/null # warm the caches
[ -z "$other" ] || { other_compile && other_link; } >/dev/null
ours=()
compiles=()
other_compiles=()
ratios=()
links=()
plain=()
# The server starts linking as soon as a compile succeeds: each compile is followed by its
# link, so that neither server works while the other is measured. Which folder goes first
# alternates.
compare() {
    measure other_compile
    other_compiles+=("$elapsed")
    other_link >/dev/null 2>&1
}
for ((i = 0; i < runs; i++)); do
    [ -z "$other" ] || ((i % 2)) || compare
    measure compile
    compiles+=("$elapsed")
    measure link
    links+=("$elapsed")
    [ -z "$other" ] || ! ((i % 2)) || compare
    [ -z "$other" ] || ratios+=("$(( ${compiles[-1]} * 1000 / ${other_compiles[-1]} ))") # per mille
    ours+=("$(( ${compiles[-1]} + ${links[-1]} ))")
    measure plain_build
    plain+=("$elapsed")
done
m_ours=$(median "${ours[@]}")
m_plain=$(median "${plain[@]}")
awk -v o="$m_ours" -v p="$m_plain" -v n="$runs" -v c="$(median "${compiles[@]}")" \
    -v l="$(median "${links[@]}")" -v f="$(median "${first[@]}")" -v fp="$(median "${first_plain[@]}")" 'BEGIN {
    printf "runs: %d\nMyCL.bat + MyLink.bat: median %.3f s (compile %.3f s, link %.3f s)\n", n, o / 1e6, c / 1e6, l / 1e6
    printf "plain g++ -shared:     median %.3f s\nspeed-up: %.2fx\n", p / 1e6, p / o
    printf "first build after the server starts: median %.3f s of 3 (plain g++ alongside: %.3f s)\n", f / 1e6, fp / 1e6 }'
if [ -n "$other" ]; then
    awk -v c="$(median "${compiles[@]}")" -v o="$(median "${other_compiles[@]}")" \
        -v r="$(median "${ratios[@]}")" -v f="$other" 'BEGIN {
        printf "compile in %s: median %.3f s\n", f, o / 1e6
        printf "compile here / there: %.3f (medians), %.3f (median of the pairs)\n", c / o, r / 1000 }'
fi
if pid=$(server_pid); then
    grep -E '^(VmRSS|VmHWM)' "/proc/$pid/status" | sed 's/^/compile server /'
fi
