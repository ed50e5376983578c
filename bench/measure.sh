# Sourced by the command-line benchmark scripts. Times come from bench/runtime beside the
# docindex being measured ($docindex), to the microsecond; each figure is "median-wall
# median-cpu best-wall best-cpu" in milliseconds to a tenth over $runs runs after a warm-up
# (cpu = user + system; the best run is the least disturbed one on a shared machine).
# Sourcing it also names the bench programs beside $docindex and checks that they are built
# ($before too, when a script compares with another docindex).
export LC_NUMERIC=C
timer=$(dirname "$docindex")/../bench/runtime
floor=$(dirname "$docindex")/../bench/floor_reader
nosync=$(dirname "$docindex")/../bench/nosync.so
for built in "$docindex" "$timer" "$floor" "$nosync" ${before:+"$before"}; do
    [ -e "$built" ] ||
        { echo "build it first: $built (targets docindex runtime floor_reader nosync)" >&2; exit 1; }
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)] / 1000}'; }
best() { printf '%s\n' "$@" | sort -n | awk 'NR == 1 {printf "%.1f", $1 / 1000}'; }

# The figure of one command (its words as arguments).
measure() {
    "$timer" "$@" >/dev/null || { echo "failed: $*" >&2; return 1; }
    local walls=() cpus=() wall user sys
    for ((r = 0; r < runs; r++)); do
        read -r wall user sys < <("$timer" "$@")
        walls+=("$wall")
        cpus+=($((user + sys)))
    done
    echo "$(median "${walls[@]}") $(median "${cpus[@]}") $(best "${walls[@]}") $(best "${cpus[@]}")"
}

# The median over runs of the ratios of two lists' values taken in the same run, to a hundredth.
paired() {
    paste -d' ' <(printf '%s\n' $1) <(printf '%s\n' $2) |
        awk '{print ($2 ? $1 / $2 : 0)}' | sort -g | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]}'
}

# The figures of several commands (each one string, split by the shell), which take turns run
# by run so that a busy moment of the machine falls on all of them alike; a line per command,
# its figure followed by the paired ratios of its wall and cpu times to the first command's:
# each run's against the first command's in the same turn, the median of those, which a busy
# stretch that outlasts a turn disturbs least.
measure_together() {
    local commands=("$@") walls=() cpus=() i r wall user sys
    for ((i = 0; i < ${#commands[@]}; i++)); do
        eval "\"\$timer\" ${commands[i]}" >/dev/null || { echo "failed: ${commands[i]}" >&2; return 1; }
    done
    for ((r = 0; r < runs; r++)); do
        for ((i = 0; i < ${#commands[@]}; i++)); do
            read -r wall user sys < <(eval "\"\$timer\" ${commands[i]}")
            walls[i]+=" $wall"
            cpus[i]+=" $((user + sys))"
        done
    done
    for ((i = 0; i < ${#commands[@]}; i++)); do
        # shellcheck disable=SC2086 # the lists are split on purpose
        echo "$(median ${walls[i]}) $(median ${cpus[i]}) $(best ${walls[i]}) $(best ${cpus[i]})" \
            "$(paired "${walls[i]}" "${walls[0]}") $(paired "${cpus[i]}" "${cpus[0]}")"
    done
}
