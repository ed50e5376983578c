#!/usr/bin/env bash
# End to end through the accessibility bus (AT-SPI), as a screen reader meets the window: the
# real program in Xvfb with a session bus and an accessibility bus of its own; accessibility.py
# reads the names, roles and rows, presses the index button and hears the status change.
# Usage: accessibility.sh DOCINDEX. Exit code 77 (skipped) only when the bus cannot start.
set -euo pipefail
[ -n "${DOCINDEX_XVFB:-}" ] || exec "$(dirname "$0")/../../../tools/with-xvfb" "$0" "$@"
# Debian's Python, which has the bindings (not one that a PATH may put first).
python=/usr/bin/python3
command -v dbus-run-session >/dev/null && "$python" -c 'import pyatspi' 2>/dev/null || {
    echo "missing dbus-run-session or python3-pyatspi (tools/setup test installs them)" >&2
    exit 1
}
[ -n "${DOCINDEX_DBUS:-}" ] || DOCINDEX_DBUS=1 exec dbus-run-session -- "$0" "$@"
docindex=$(realpath "$1")

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/sanitizers.sh"
mkdir -p "$work/home" "$work/runtime" "$work/docs"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache"
export XDG_RUNTIME_DIR="$work/runtime"
printf 'alpha' >"$work/docs/a_.txt"

/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/bus.log" 2>&1 &
pids+=($!)
bus_up() {
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
        >/dev/null 2>&1
}
for _ in $(seq 200); do bus_up && break; sleep 0.05; done
bus_up || { echo "SKIP: the accessibility bus did not start:"; cat "$work/bus.log"; exit 77; }

export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
(cd "$work" && exec "$docindex" docs) 2>"$work/app.err" &
pids+=($!)
"$python" "$(dirname "$0")/accessibility.py" "$work/docs/" || {
    echo "--- program's stderr:" >&2
    cat "$work/app.err" >&2
    exit 1
}
