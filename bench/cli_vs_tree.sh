#!/usr/bin/env bash
# docindex --write on a folder of 10,000 documents, whole process, against Debian's
#   tree -H . -L 1 --ignore-case -P '*_.txt' -o out.htm DIR
# on the same folder, in the same run. docindex reads every document; tree reads none.
# Usage: bench/cli_vs_tree.sh [path/to/docindex] [documents] [runs]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
docindex=$(realpath -m "${1:-$top/build/release/main/docindex}")
count=${2:-10000}
runs=${3:-11}

if ! command -v tree >/dev/null; then
    echo "Installing tree"
    if [ "$(id -u)" -eq 0 ]; then apt-get install -y -qq tree >/dev/null; else sudo apt-get install -y -qq tree >/dev/null; fi
fi
if [ ! -x "$docindex" ]; then
    echo "Building docindex"
    cmake -S "$top" -B "$top/build/release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$top/build/release" --target docindex >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir=$work/docs
mkdir "$dir"
# Documents of two short lines each (cp1251 text), and as many other files beside them.
for ((i = 0; i < count; i++)); do
    printf -v name 'doc_%05d' "$i"
    printf 'First line of %s\r\n\xc2\xf2\xee\xf0\xe0\xff \xf1\xf2\xf0\xee\xea\xe0\r\n' "$name" \
        > "$dir/${name}_.txt"
done
for ((i = 0; i < count; i++)); do : > "$dir/other_$i.rtf"; done

. "$(dirname "$0")/measure.sh"

cd "$work"
export LC_ALL=C
read -r ours_wall ours_cpu _ < <(measure "$docindex" --write --codepage 1251 "$dir") # cp1251 texts
[ -f "$dir/index.htm" ] || { echo "docindex wrote no page" >&2; exit 1; }
# The same with the documents read one by one (no io_uring batches): what the batches save.
read -r plain_wall plain_cpu _ < <(DOCINDEX_PLAIN_READS=1 measure "$docindex" --write --codepage 1251 "$dir")
read -r tree_wall tree_cpu _ < <(measure tree -H . -L 1 --ignore-case -P '*_.txt' -o out.htm "$dir")
echo "documents: $count (and $count other files); medians of $runs runs, milliseconds"
echo "                                 wall    cpu (user+sys)"
printf 'docindex --write DIR          %7.1f %7.1f\n' "$ours_wall" "$ours_cpu"
printf 'same, DOCINDEX_PLAIN_READS=1   %7.1f %7.1f\n' "$plain_wall" "$plain_cpu"
printf "tree -H . -L 1 -P '*_.txt' ... %7.1f %7.1f\n" "$tree_wall" "$tree_cpu"
awk -v a="$ours_wall" -v b="$tree_wall" -v c="$ours_cpu" -v d="$tree_cpu" \
    'BEGIN {printf "ratio docindex / tree          %7.2f %7.2f\n", a / b, (d ? c / d : 0)}'
grep -c '<tr>' "$dir/index.htm" | awk '{printf "rows on the page:               %d\n", $1 - 1}'
