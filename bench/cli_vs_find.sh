#!/usr/bin/env bash
# docindex --write --stdout on a folder of 100,000 one-line documents, whole process, against
#   find DIR -maxdepth 1 -printf '%s %T@ %m\n'
# on the same folder in the same run: find lists and stats every entry, docindex also reads
# every document. Goal: 1.0x of find's wall time or less. A third row reads the documents one
# by one (DOCINDEX_PLAIN_READS=1), to show what the io_uring batches save.
# Usage: bench/cli_vs_find.sh [path/to/docindex] [documents] [runs]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
docindex=$(realpath -m "${1:-$top/build/release/main/docindex}")
count=${2:-100000}
runs=${3:-7}
[ -x "$docindex" ] || { echo "build docindex first: cmake --build build/release --target docindex"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir=$work/docs
mkdir "$dir"
(cd "$dir" && seq -f 'doc_%06g' 0 $((count - 1)) | while read -r name; do
    echo "Text of $name" > "${name}_.txt"
done)

. "$(dirname "$0")/measure.sh"

export LC_ALL=C
"$docindex" --write --stdout "$dir" >"$work/page.htm"
grep -q 'doc_000000_.txt' "$work/page.htm" || { echo "no page" >&2; exit 1; }
read -r ours_wall ours_cpu < <(measure "$docindex" --write --stdout "$dir")
read -r plain_wall plain_cpu < <(DOCINDEX_PLAIN_READS=1 measure "$docindex" --write --stdout "$dir")
read -r find_wall find_cpu < <(measure find "$dir" -maxdepth 1 -printf '%s %T@ %m\n')
echo "documents: $count; medians of $runs runs, milliseconds"
echo "                                 wall    cpu (user+sys)"
printf 'docindex --write --stdout     %7d %7d\n' "$ours_wall" "$ours_cpu"
printf 'same, DOCINDEX_PLAIN_READS=1  %7d %7d\n' "$plain_wall" "$plain_cpu"
printf 'find -maxdepth 1 -printf ...  %7d %7d\n' "$find_wall" "$find_cpu"
awk -v a="$ours_wall" -v b="$find_wall" -v c="$ours_cpu" -v d="$find_cpu" \
    'BEGIN {printf "ratio docindex / find         %7.2f %7.2f\n", a / b, (d ? c / d : 0)}'
