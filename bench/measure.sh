# Sourced by the benchmark scripts (bash).
elapsed=0
measure() { # runs the command in this shell, sets elapsed to its wall time in microseconds
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    local end=$EPOCHREALTIME
    elapsed=$(( (${end/./} - ${start/./}) ))
}
