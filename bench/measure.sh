# Sourced by the command-line benchmark scripts: median wall and CPU (user + system)
# milliseconds, to a tenth, of a command over $runs runs after one warm-up run. Times come from
# bench/runtime beside the docindex being measured ($docindex), to the microsecond.
export LC_NUMERIC=C
timer=$(dirname "$docindex")/../bench/runtime
[ -x "$timer" ] || { echo "build it first: $timer (target runtime)" >&2; exit 1; }
measure() {
    "$timer" "$@" >/dev/null || { echo "failed: $*" >&2; return 1; }
    local walls=() cpus=() wall user sys
    for ((r = 0; r < runs; r++)); do
        read -r wall user sys < <("$timer" "$@")
        walls+=("$wall")
        cpus+=($((user + sys)))
    done
    median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)] / 1000}'; }
    echo "$(median "${walls[@]}") $(median "${cpus[@]}")"
}
