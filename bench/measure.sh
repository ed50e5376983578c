# Sourced by the command-line benchmark scripts: median wall and CPU (user + system)
# milliseconds of a command over $runs runs, after one warm-up run; $work is a scratch folder.
measure() {
    "$@" >/dev/null 2>&1
    local walls=() cpus=() line
    for ((r = 0; r < runs; r++)); do
        /usr/bin/time -o "$work/time" -f '%e %U %S' "$@" >/dev/null 2>&1
        line=$(tail -1 "$work/time")
        walls+=($(awk '{printf "%d", $1 * 1000}' <<<"$line"))
        cpus+=($(awk '{printf "%d", ($2 + $3) * 1000}' <<<"$line"))
    done
    local wall cpu
    wall=$(printf '%s\n' "${walls[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    cpu=$(printf '%s\n' "${cpus[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    echo "$wall $cpu"
}
