# Sourced by the end-to-end scripts, with $work set: what a real X session needs under the
# sanitizers. Everything else stays as the caller set it.

# Under AddressSanitizer: libxkbcommon-x11 (uninstrumented) calls strndup() on a keymap
# name that is not NUL-terminated, which is valid with its bound; strict string checks would
# report it.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
fi
# Under LeakSanitizer: a real X session also brings up libdbus (uninstrumented), which keeps a
# buffer until exit. Suppressed for these tests only, beside the caller's suppressions.
if [ -n "${LSAN_OPTIONS:-}" ]; then
    supp=$(tr ':' '\n' <<<"$LSAN_OPTIONS" | sed -n 's/^suppressions=//p' | tail -1)
    { [ -n "$supp" ] && cat "$supp"; echo "leak:libdbus-1.so"; } >"$work/lsan.supp"
    export LSAN_OPTIONS="$LSAN_OPTIONS:suppressions=$work/lsan.supp"
fi
