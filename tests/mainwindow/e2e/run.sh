#!/usr/bin/env bash
# End to end: the real program in a real X server (Xvfb), driven with xdotool.
# Usage: run.sh DOCINDEX X11TOOL ARTIFACT_DIR
# Starts the window on a folder given relative to the working folder, clicks the index button,
# checks index.htm, adds a document and sees the next page include it, takes a screenshot,
# quits through the menu and checks the exit code; starts again and closes the window as the
# title bar's close button would. Then the failures of the start: no display
# (exit 1, message on stderr) and a tree folder outside every drive (the Application Error box,
# exit 1 once it is closed).
set -euo pipefail
# A display of our own, whatever number is free, stopped however the test ends.
[ -n "${DOCINDEX_XVFB:-}" ] || exec "$(dirname "$0")/../../../tools/with-xvfb" "$0" "$@"
docindex=$1
x11tool=$2
artifacts=$3
mkdir -p "$artifacts"

command -v xdotool >/dev/null || { echo "missing xdotool (tools/setup test installs it)"; exit 1; }

work=$(mktemp -d)
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/app.err" ] && { echo "--- program's stderr:" >&2; cat "$work/app.err" >&2; }
    exit 1
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.05
    done
}

# Waits for the program to end; its exit code in $app_rc.
wait_exit() {
    local deadline=$((SECONDS + $1))
    while kill -0 "$app_pid" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "the program did not end"
        sleep 0.05
    done
    app_rc=0
    wait "$app_pid" || app_rc=$?
    app_pid=
}

. "$(dirname "$0")/sanitizers.sh"
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache"
export XDG_RUNTIME_DIR="$work/runtime"

# --- the window on a folder ---
docs="$work/docs"
mkdir -p "$docs/sub"
printf 'alpha\r\n' >"$docs/a_.txt"
printf 'beta' >"$docs/b_.txt"
printf 'not listed' >"$docs/notes.txt"

(cd "$work" && exec "$docindex" docs) 2>"$work/app.err" &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Программа$' | head -1) ||
    fail "no window appeared"
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$WIDTH" = 696 ] && [ "$HEIGHT" = 480 ] || fail "window is ${WIDTH}x${HEIGHT}, not 696x480"

# The application's own icon reaches the window (x11-utils' xprop, installed by tools/setup).
if command -v xprop >/dev/null; then
    xprop -id "$window" _NET_WM_ICON >"$work/icon.txt" || fail "xprop failed"
    grep -q '_NET_WM_ICON(CARDINAL) = ' "$work/icon.txt" || fail "no window icon"
fi

click_button() {
    # The button: 512 + 161/2 from the left of the bottom panel, which stands on the status bar
    # (19 pixels) and is 41 high with the button 8 below its top edge.
    xdotool mousemove --window "$window" 592 $((HEIGHT - 19 - 41 + 8 + 12)) click 1
}

click_button
wait_for 10 test -f "$docs/index.htm" || fail "no index.htm after a click"
page=$(cat "$docs/index.htm")
grep -qF "<TITLE>$docs/</TITLE>" <<<"$page" || fail "title is not the absolute folder"
grep -qF '<td align=left> <a href="a_.txt.rtf"> alpha</a> </td>' <<<"$page" || fail "row of a_.txt"
grep -qF '<td align=left> <a href="b_.txt.rtf"> beta</a> </td>' <<<"$page" || fail "row of b_.txt"
grep -qF 'notes.txt' <<<"$page" && fail "notes.txt is not a listed document"
[ "$(grep -c '^<tr>' <<<"$page")" = 3 ] || fail "expected a head row and two document rows"
[ "$(head -c 8 "$docs/index.htm" | od -An -c | tr -s ' ')" = " < H T M L > \r \n" ] ||
    fail "the page does not start with <HTML> CR LF"

# A new document: the watcher re-reads the list, and the next page has it.
printf 'gamma' >"$docs/c_.txt"
page_has_c() {
    click_button
    sleep 0.1
    grep -qF '<a href="c_.txt.rtf"> gamma</a>' "$docs/index.htm"
}
wait_for 10 page_has_c || fail "the new document never reached the page"

# A picture of the window, kept for a person to look at.
"$x11tool" grab "$window" "$artifacts/mainwindow.png" || fail "no screenshot"

# Quit through the menu item "Выйти", the first item of the menu bar.
xdotool mousemove --window "$window" 20 10 click 1
wait_exit 10
[ "$app_rc" = 0 ] || fail "exit code $app_rc after Выйти, expected 0"
[ ! -s "$work/app.err" ] || { echo "--- program's stderr:"; cat "$work/app.err"; }

# Again, in the C locale (the list sorts "..", "sub", then a new folder): a folder made while
# the window runs is opened and written with the keyboard only; then the window is closed as a
# window manager's close button does: the same exit code.
(cd "$work" && LC_ALL=C.UTF-8 exec "$docindex" docs) 2>"$work/app.err" &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Программа$' | head -1) ||
    fail "no window appeared the second time"
made="$docs/Постановления"
mkdir "$made"
printf 'delta' >"$made/d_.txt"
open_made() { # from the ".." row, below the menu bar and the top panel
    xdotool mousemove --window "$window" 300 71 click 1 sleep 0.2 key Down Down Return sleep 0.3 \
        key Tab Return sleep 0.3
    test -f "$made/index.htm"
}
wait_for 10 open_made || fail "the folder made while running was not opened and written"
grep -qF '<a href="d_.txt.rtf"> delta</a>' "$made/index.htm" || fail "row of d_.txt"
[ ! -f "$docs/sub/index.htm" ] || fail "the page went into the wrong folder"
"$x11tool" grab "$window" "$artifacts/new-folder.png" || fail "no screenshot"
"$x11tool" close "$window" || fail "could not ask the window to close"
wait_exit 10
[ "$app_rc" = 0 ] || fail "exit code $app_rc after closing the window, expected 0"

# --- no display: a message and exit code 1, without aborting ---
rc=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$docindex" "$docs" 2>"$work/nodisplay.err" || rc=$?
[ "$rc" = 1 ] || fail "exit code $rc without a display, expected 1"
grep -q 'no display' "$work/nodisplay.err" || fail "no message without a display"

# A display that is named but does not answer: the same exit code, no abort.
rc=0
DISPLAY=":$((${DISPLAY#:} + 500))" "$docindex" "$docs" 2>"$work/nodisplay.err" || rc=$?
[ "$rc" = 1 ] || fail "exit code $rc with a display that does not answer, expected 1"
grep -q 'cannot open the window' "$work/nodisplay.err" || fail "no message for a dead display"

# --- a failing start: the design-time folder under a relative HOME lies on no drive ---
(cd "$work" && HOME=relative-home exec "$docindex") 2>"$work/app.err" &
app_pid=$!
box=$(timeout 20 xdotool search --sync --onlyvisible --name '^Application Error$' | head -1) ||
    fail "no Application Error box"
"$x11tool" grab "$box" "$artifacts/application-error.png" || true
grep -qE '^Application Error: Exception ESetDirectoryError in module docindex at [0-9A-F]{8}\.' \
    "$work/app.err" || fail "the Application Error text"
# Through the keyboard of the X server, not a synthetic event: the box closes on the key press
# and is gone before a synthetic key release could reach it.
xdotool windowfocus --sync "$box" key Return
wait_exit 10
[ "$app_rc" = 1 ] || fail "exit code $app_rc after a failing start, expected 1"

echo "end to end: all passed; screenshots in $artifacts"
