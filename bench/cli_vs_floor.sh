#!/usr/bin/env bash
# docindex against the floor of its work, in one run:
#  - `--write --stdout` of 10,000 and of 100,000 two-line documents against floor_reader
#    (bench/floor_reader.c: lists the folder and reads each document once through io_uring,
#    nothing else); goal 1.25x or less in wall and in CPU time;
#  - `--write` of the 10,000 documents (and as many other files) against
#      tree -H . -L 1 --ignore-case -P '*_.txt' -o out.htm DIR
#    goal 1.0x or less;
#  - one page's `--write` with and without its fdatasync (nosync.so preloaded).
# The commands of a figure take turns run by run (with a second docindex, BEFORE, e.g. a build
# of the base commit, that one too), so that a busy moment of the machine falls on all alike;
# "x paired" is the median of the ratios of runs taken in the same turn.
# Usage: bench/cli_vs_floor.sh [BUILD_DIR] [runs] [BEFORE_DOCINDEX]   (default: build/release, 7)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build/release}")
runs=${2:-7}
before=${3:+$(realpath -m "$3")}
docindex=$build/main/docindex
. "$(dirname "$0")/measure.sh"
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

export LC_ALL=C
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", b ? a / b : 0}'; }
# row LABEL OURS BASE: each a figure as measure_together gives it; the paired ratios are OURS's
# (against the first command measured, which BASE must be; "-" for another BASE)
row() {
    local o=($2) b=($3) pw=- pc=-
    [ "${b[4]:-}" != 1.00 ] || { pw=${o[4]}; pc=${o[5]}; }
    printf '%-36s %7.1f %7.1f  %7.1f %7.1f  %5s %5s  %5s %5s  %5s %5s\n' "$1" "${o[0]}" "${o[1]}" \
        "${b[0]}" "${b[1]}" "$(ratio "${o[0]}" "${b[0]}")" "$(ratio "${o[1]}" "${b[1]}")" \
        "$(ratio "${o[2]}" "${b[2]}")" "$(ratio "${o[3]}" "${b[3]}")" "$pw" "$pc"
}
echo "$runs runs after a warm-up, milliseconds; load: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-36s %15s  %15s  %11s  %11s  %11s\n' "" "median" "base median" "x median" "x best" \
    "x paired"
printf '%-36s %7s %7s  %7s %7s  %5s %5s  %5s %5s  %5s %5s\n' "" wall cpu wall cpu wall cpu wall cpu \
    wall cpu
for count in 10000 100000; do
    dir=$work/docs$count
    "$floor" "$dir" >"$work/floor"
    grep -q "^$count documents" "$work/floor" || { echo "floor_reader read too little" >&2; exit 1; }
    "$docindex" --write --stdout --codepage 1251 "$dir" >"$work/page"
    [ "$(grep -c '<tr>' "$work/page")" -eq $((count + 1)) ] || { echo "docindex made no page" >&2; exit 1; }
    mapfile -t times < <(measure_together "$floor $dir" "$docindex --write --stdout --codepage 1251 $dir" \
        ${before:+"$before --write --stdout --codepage 1251 $dir"})
    row "--write --stdout, $count / floor" "${times[1]}" "${times[0]}"
    [ -z "$before" ] || row "  before / floor" "${times[2]}" "${times[0]}"
done
dir=$work/docs10000
cd "$work"
[ ! -e "$dir/index.htm" ] || rm "$dir/index.htm"
mapfile -t times < <(measure_together "tree -H . -L 1 --ignore-case -P '*_.txt' -o out.htm $dir" \
    "$docindex --write --codepage 1251 $dir" "env LD_PRELOAD=$nosync $docindex --write --codepage 1251 $dir" \
    ${before:+"$before --write --codepage 1251 $dir"})
[ -f "$dir/index.htm" ] || { echo "docindex wrote no page" >&2; exit 1; }
row "--write, 10000 / tree -H" "${times[1]}" "${times[0]}"
row "--write / same without fdatasync" "${times[1]}" "${times[2]}"
[ -z "$before" ] || row "  before / tree -H" "${times[3]}" "${times[0]}"
