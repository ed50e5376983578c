#!/usr/bin/env bash
# docindex against the floor of its work, in one run:
#  - `--write --stdout` of 10,000 and of 100,000 two-line documents against floor_reader
#    (bench/floor_reader.c: lists the folder and reads each document once through io_uring,
#    nothing else); goal 1.25x or less in wall and in CPU time;
#  - `--write` of the 10,000 documents (and as many other files) against
#      tree -H . -L 1 --ignore-case -P '*_.txt' -o out.htm DIR
#    goal 1.0x or less;
#  - one page's `--write` with and without its fdatasync (nosync.so preloaded).
# With a second docindex (BEFORE, e.g. a build of the base commit) its figures are measured in
# the same run, the two taking turns per figure.
# Usage: bench/cli_vs_floor.sh [BUILD_DIR] [runs] [BEFORE_DOCINDEX]   (default: build/release, 7)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build/release}")
runs=${2:-7}
before=${3:+$(realpath -m "$3")}
docindex=$build/main/docindex
floor=$build/bench/floor_reader
nosync=$build/bench/nosync.so
for f in "$docindex" "$floor" "$nosync" ${before:+"$before"}; do
    [ -e "$f" ] || { echo "build it first: $f (targets docindex floor_reader nosync)"; exit 1; }
done
command -v tree >/dev/null || { echo "install tree (apt-get install tree)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# `count` documents of two short lines (cp1251 text) in $work/docs$count, and as many other
# files beside them.
makeFolder() {
    local dir=$work/docs$1
    mkdir "$dir"
    (cd "$dir" && seq -f 'doc_%06g' 0 $(($1 - 1)) | while read -r name; do
        printf 'First line of %s\r\n\xc2\xf2\xee\xf0\xe0\xff \xf1\xf2\xf0\xee\xea\xe0\r\n' "$name" \
            >"${name}_.txt"
        : >"${name}.rtf"
    done)
}
makeFolder 10000
makeFolder 100000

. "$(dirname "$0")/measure.sh"

export LC_ALL=C
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", b ? a / b : 0}'; }
# row LABEL OURS_WALL OURS_CPU BASE_WALL BASE_CPU
row() {
    printf '%-40s %7.1f %7.1f   %7.1f %7.1f   %5s %5s\n' "$1" "$2" "$3" "$4" "$5" "$(ratio "$2" "$4")" \
        "$(ratio "$3" "$5")"
}
echo "medians of $runs runs after a warm-up, milliseconds; load: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-40s %7s %7s   %7s %7s   %5s %5s\n' "" wall cpu "base wall" cpu "x wall" cpu
for count in 10000 100000; do
    dir=$work/docs$count
    "$floor" "$dir" >"$work/floor"
    grep -q "^$count documents" "$work/floor" || { echo "floor_reader read too little" >&2; exit 1; }
    "$docindex" --write --stdout --codepage 1251 "$dir" >"$work/page"
    [ "$(grep -c '<tr>' "$work/page")" -eq $((count + 1)) ] || { echo "docindex made no page" >&2; exit 1; }
    read -r floor_wall floor_cpu < <(measure "$floor" "$dir")
    read -r ours_wall ours_cpu < <(measure "$docindex" --write --stdout --codepage 1251 "$dir")
    row "--write --stdout, $count docs / floor" "$ours_wall" "$ours_cpu" "$floor_wall" "$floor_cpu"
    if [ -n "$before" ]; then
        read -r old_wall old_cpu < <(measure "$before" --write --stdout --codepage 1251 "$dir")
        row "  before / floor" "$old_wall" "$old_cpu" "$floor_wall" "$floor_cpu"
    fi
done
dir=$work/docs10000
cd "$work"
read -r tree_wall tree_cpu < <(measure tree -H . -L 1 --ignore-case -P '*_.txt' -o out.htm "$dir")
read -r ours_wall ours_cpu < <(measure "$docindex" --write --codepage 1251 "$dir")
[ -f "$dir/index.htm" ] || { echo "docindex wrote no page" >&2; exit 1; }
row "--write, 10000 docs / tree -H" "$ours_wall" "$ours_cpu" "$tree_wall" "$tree_cpu"
read -r nosync_wall nosync_cpu < <(LD_PRELOAD=$nosync measure "$docindex" --write --codepage 1251 "$dir")
row "--write / same without fdatasync" "$ours_wall" "$ours_cpu" "$nosync_wall" "$nosync_cpu"
if [ -n "$before" ]; then
    read -r old_wall old_cpu < <(measure "$before" --write --codepage 1251 "$dir")
    row "  before / tree -H" "$old_wall" "$old_cpu" "$tree_wall" "$tree_cpu"
fi
