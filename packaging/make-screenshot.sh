#!/usr/bin/env bash
# Makes packaging/screenshots/main-window.png, the picture the AppStream metadata refers to:
# the window at a folder of sample documents, in Xvfb. Runs in a private mount namespace with
# its own /tmp (needs root), so that the tree shows nothing of this machine's /tmp.
# Usage: packaging/make-screenshot.sh [BUILD_DIR]   (default: build/release, with its tests)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build/release}" && pwd)
exec unshare -m bash -s "$top" "$build" <<'INNER'
set -euo pipefail
top=$1 build=$2
mount -t tmpfs tmpfs /tmp
docs=/tmp/Документы/Законы
mkdir -p "$docs/Архив" /tmp/home /tmp/runtime
chmod 700 /tmp/runtime
printf 'Закон о земле\r\n' | iconv -f UTF-8 -t CP1251 >"$docs/zakon-o-zemle_.txt"
printf 'Земельный кодекс, глава 1\r\n' | iconv -f UTF-8 -t CP1251 >"$docs/kodeks-gl1_.txt"
printf 'Земельный кодекс, глава 2\r\n' | iconv -f UTF-8 -t CP1251 >"$docs/kodeks-gl2_.txt"
printf 'Порядок аренды участков\r\n' | iconv -f UTF-8 -t CP1251 >"$docs/arenda_.txt"
export HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/runtime
exec "$top/tools/with-xvfb" bash -s "$top" "$build" "$docs" <<'SHOT'
set -euo pipefail
top=$1 build=$2 docs=$3
LANG=ru_RU.UTF-8 "$build/main/docindex" "$docs" &
app=$!
trap 'kill $app 2>/dev/null || true' EXIT
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Программа$' | head -1)
sleep 1
"$build/tests/docindex_x11tool" grab "$window" "$top/packaging/screenshots/main-window.png"
SHOT
INNER
