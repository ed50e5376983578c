#!/usr/bin/env bash
# Start-up of the command line: `docindex --version` beside a Qt-Core-only program that only
# creates its application object (goal: within 1.3 times it), and `docindex --write` of a
# folder of 10 documents. Each figure is the median over batches of runs, the two programs
# taking turns so that a busy machine weighs on both alike. Also lists the libraries the
# command line loads: no Qt Gui or Widgets.
# Usage: bench/cli_startup.sh [BUILD_DIR]   (default: build/release)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/release}
docindex=$build/main/docindex
baseline=$build/bench/coreapp_baseline
batches=${BATCHES:-9}
runs=${RUNS:-40}
for f in "$docindex" "$baseline"; do
    [ -x "$f" ] || { echo "build it first: $f"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/docs"
for i in $(seq 10); do printf 'Document %s\r\n' "$i" >"$work/docs/doc${i}_.txt"; done

now_us() { echo $(($(date +%s%N) / 1000)); }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
# Mean microseconds of one run of the command, over $runs runs.
batch() {
    local t0 i
    t0=$(now_us)
    for ((i = 0; i < runs; i++)); do "$@" >/dev/null; done
    echo $((($(now_us) - t0) / runs))
}

base=() version=() write=()
for _ in $(seq "$batches"); do
    base+=("$(batch "$baseline")")
    version+=("$(batch "$docindex" --version)")
    write+=("$(batch "$docindex" --write "$work/docs")")
done
b=$(printf '%s\n' "${base[@]}" | median)
v=$(printf '%s\n' "${version[@]}" | median)
w=$(printf '%s\n' "${write[@]}" | median)
echo "Qt-Core-only program, application object only (baseline): median $b us per run"
echo "docindex --version: median $v us per run, $(awk -v v="$v" -v b="$b" 'BEGIN {printf "%.2f", v / b}')x the baseline (goal <= 1.3x)"
echo "docindex --write, 10 documents: median $w us per run, $(awk -v v="$w" -v b="$b" 'BEGIN {printf "%.2f", v / b}')x the baseline"
echo "Qt libraries loaded by docindex --write:"
LD_DEBUG=libs "$docindex" --write "$work/docs" 2>&1 >/dev/null | grep -o 'calling init: .*libQt6[A-Za-z]*' |
    sed 's/.*\//  /' | sort -u
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
