#!/usr/bin/env bash
# docindex -r --write on a tree of folders (200 x 50 two-line documents by default), whole
# process: pages written beside the walk on a second thread, against the same run kept to one
# thread (DOCINDEX_ONE_THREAD=1), in the same run. The second thread pays where there is a
# second core; the printed lines are the same either way (checked).
# Usage: bench/cli_recursive.sh [path/to/docindex] [folders] [documents] [runs]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
docindex=$(realpath -m "${1:-$top/build/release/main/docindex}")
folders=${2:-200}
documents=${3:-50}
runs=${4:-7}
[ -x "$docindex" ] || { echo "build docindex first: cmake --build build/release --target docindex"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir=$work/tree
mkdir "$dir"
for ((f = 0; f < folders; f++)); do
    sub=$dir/$(printf 'folder%04d' "$f")
    mkdir "$sub"
    for ((d = 0; d < documents; d++)); do
        printf 'Document %d of %d\r\nsecond line\r\n' "$d" "$f" > "$sub/$(printf 'doc%03d' "$d")_.txt"
    done
done

. "$(dirname "$0")/measure.sh"

export LC_ALL=C
"$docindex" --write -r "$dir" >"$work/two" 2>&1
DOCINDEX_ONE_THREAD=1 "$docindex" --write -r "$dir" >"$work/one" 2>&1
cmp -s "$work/one" "$work/two" || { echo "the two runs printed different lines" >&2; exit 1; }
[ "$(wc -l <"$work/two")" -eq "$folders" ] || { echo "not a line per folder" >&2; exit 1; }
read -r two_wall two_cpu < <(measure "$docindex" --write -r "$dir")
read -r one_wall one_cpu < <(DOCINDEX_ONE_THREAD=1 measure "$docindex" --write -r "$dir")
echo "folders: $folders x $documents documents; $(nproc) cores; medians of $runs runs, milliseconds"
echo "                                 wall    cpu (user+sys)"
printf 'docindex -r --write           %7.1f %7.1f\n' "$two_wall" "$two_cpu"
printf 'same, DOCINDEX_ONE_THREAD=1   %7.1f %7.1f\n' "$one_wall" "$one_cpu"
awk -v a="$two_wall" -v b="$one_wall" \
    'BEGIN {printf "ratio two threads / one       %7.2f\n", a / b}'
