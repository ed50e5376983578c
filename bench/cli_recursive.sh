#!/usr/bin/env bash
# docindex -r --write on a tree of folders (10,000 x 10 two-line documents by default), whole
# process, in one run:
#  - against floor_reader -r (bench/floor_reader.c: reads every document of the tree once
#    through io_uring, one ring, no page) and against floor_reader run once per folder (a
#    process per folder, as a script calling a reader per folder would); goal 1.25x or less;
#  - CPU over wall: pages are written by page threads beside the walk, so both cores work;
#  - the same run kept to one thread (DOCINDEX_ONE_THREAD=1) and without fdatasync
#    (nosync.so preloaded), which shows what the page threads overlap.
# The printed lines are the same with one thread or several (checked).
# Usage: bench/cli_recursive.sh [BUILD_DIR] [folders] [documents] [runs] [BEFORE_DOCINDEX]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build/release}")
folders=${2:-10000}
documents=${3:-10}
runs=${4:-5}
before=${5:+$(realpath -m "$5")}
docindex=$build/main/docindex
. "$(dirname "$0")/measure.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir=$work/tree
mkdir "$dir"
(cd "$dir" && seq -f 'folder%05g' 0 $((folders - 1)) | xargs mkdir)
for ((f = 0; f < folders; f++)); do
    printf -v sub '%s/folder%05d' "$dir" "$f"
    for ((d = 0; d < documents; d++)); do
        printf 'Document %d of %d\r\nsecond line\r\n' "$d" "$f" >"$sub/$(printf 'doc%03d' "$d")_.txt"
    done
done

export LC_ALL=C
"$docindex" --write -r "$dir" >"$work/two" 2>&1
DOCINDEX_ONE_THREAD=1 "$docindex" --write -r "$dir" >"$work/one" 2>&1
cmp -s "$work/one" "$work/two" || { echo "the two runs printed different lines" >&2; exit 1; }
[ "$(wc -l <"$work/two")" -eq "$folders" ] || { echo "not a line per folder" >&2; exit 1; }
"$floor" -r "$dir" | grep -q "^$((folders * documents)) documents" ||
    { echo "floor_reader read too little" >&2; exit 1; }
find "$dir" -mindepth 1 -maxdepth 1 -type d >"$work/folders"

read -r ours_wall ours_cpu _ < <(measure "$docindex" --write -r "$dir")
read -r one_wall one_cpu _ < <(DOCINDEX_ONE_THREAD=1 measure "$docindex" --write -r "$dir")
read -r nosync_wall nosync_cpu _ < <(LD_PRELOAD=$nosync measure "$docindex" --write -r "$dir")
read -r floor_wall floor_cpu _ < <(measure "$floor" -r "$dir")
read -r each_wall each_cpu _ < <(measure xargs -a "$work/folders" -n 1 "$floor")
if [ -n "$before" ]; then
    read -r old_wall old_cpu _ < <(measure "$before" --write -r "$dir")
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", b ? a / b : 0}'; }
echo "folders: $folders x $documents documents; $(nproc) cores; medians of $runs runs after a" \
    "warm-up, milliseconds; load: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-40s %8s %8s %8s\n' "" wall cpu "cpu/wall"
row() { printf '%-40s %8.1f %8.1f %8s\n' "$1" "$2" "$3" "$(ratio "$3" "$2")"; }
row "docindex -r --write" "$ours_wall" "$ours_cpu"
row "same, DOCINDEX_ONE_THREAD=1" "$one_wall" "$one_cpu"
row "same, page threads, no fdatasync" "$nosync_wall" "$nosync_cpu"
[ -z "$before" ] || row "before: docindex -r --write" "$old_wall" "$old_cpu"
row "floor_reader -r (one process)" "$floor_wall" "$floor_cpu"
row "floor_reader once per folder" "$each_wall" "$each_cpu"
echo "docindex / floor_reader -r:           wall $(ratio "$ours_wall" "$floor_wall")" \
    "cpu $(ratio "$ours_cpu" "$floor_cpu")"
echo "docindex / floor_reader per folder:   wall $(ratio "$ours_wall" "$each_wall")" \
    "cpu $(ratio "$ours_cpu" "$each_cpu")"
