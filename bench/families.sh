#!/bin/bash
# Compile plus link of one snippet per header family (bench/families/*.cpp: regex, ranges
# pipelines, hash and ordered containers, threads with futures, random distributions, chrono
# arithmetic, a 300-line mix, and the 30-line snippet) through MyCL.bat and MyLink.bat, warm,
# against a plain "g++ -std=c++20 -fPIC -shared" of the same text, measured alternately in the
# same run (each round writes every family's "T.cpp" afresh, as an edit does). Prints per family
# the medians and their ratio, the geometric mean of the ratios, and the compile server's memory
# (VmRSS after the last compile, VmHWM its peak).
# Usage: bench/families.sh [built toolchain folder, default out/cl] [runs, default 7]
set -eu
LOAD_BEFORE=$(cut -d" " -f1-3 /proc/loadavg)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
toolchain=$(cd "${1:-$source_dir/out/cl}" && pwd)
runs=${2:-7}
[ -f "$toolchain/heavy.h.pch" ] || { echo "build the toolchain target first" >&2; exit 1; }

scratch=$(mktemp -d)
folder="$scratch/tool chain"
cp -a "$toolchain" "$folder"
families=()
for snippet in "$source_dir"/bench/families/*.cpp; do
    families+=("$(basename "$snippet" .cpp)")
done

cd "$scratch" # not the toolchain folder
. "$source_dir/bench/measure.sh"
# "T.cpp" as Vornak writes it: two include lines, the code, CR LF line breaks.
write_code() {
    { printf '#include "stdafx.h"\n#include "T.h"\n'; cat "$source_dir/bench/families/$1.cpp"; } |
        sed 's/$/\r/' >"$folder/T.cpp"
}
build() { /bin/sh "$folder/MyCL.bat" && /bin/sh "$folder/MyLink.bat"; }
plain_build() { g++ -std=c++20 -fPIC -shared "$source_dir/bench/families/$1.cpp" -o "$scratch/plain.so"; }
server_pid() { "$folder/compile-client" pid 2>/dev/null; }
cleanup() {
    local pid
    pid=$(server_pid) && kill "$pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for family in "${families[@]}"; do # warm: the server started, both headers loaded
    write_code "$family"
    build >/dev/null 2>&1 || { echo "failed: $family" >&2; exit 1; }
done
declare -A ours plain needed
for ((i = 0; i < runs; i++)); do
    for family in "${families[@]}"; do
        write_code "$family"
        measure build
        ours[$family]+=" $elapsed"
        measure plain_build "$family"
        plain[$family]+=" $elapsed"
        [ "$i" -gt 0 ] || needed[$family]=$(readelf -d "$folder/T.dll" | grep -o 'vornak-[0-9a-f]*\.so' || echo "-")
    done
done

echo "runs: $runs, load before: $LOAD_BEFORE, after: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-12s %10s %10s %8s  %s\n' family scripts plain ratio "heavy library"
log_sum=0
for family in "${families[@]}"; do
    # shellcheck disable=SC2086
    o=$(median ${ours[$family]})
    # shellcheck disable=SC2086
    p=$(median ${plain[$family]})
    awk -v f="$family" -v o="$o" -v p="$p" -v n="${needed[$family]}" \
        'BEGIN { printf "%-12s %9.3fs %9.3fs %7.2fx  %s\n", f, o / 1e6, p / 1e6, p / o, n }'
    log_sum=$(awk -v s="$log_sum" -v o="$o" -v p="$p" 'BEGIN { print s + log(p / o) }')
done
awk -v s="$log_sum" -v n="${#families[@]}" 'BEGIN { printf "geometric mean of the ratios: %.2fx\n", exp(s / n) }'
if pid=$(server_pid); then
    grep -E '^(VmRSS|VmHWM)' "/proc/$pid/status" | sed 's/^/compile server /'
fi
