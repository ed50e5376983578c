#!/usr/bin/env bash
# Verifies the systemd unit as it is installed: systemd-analyze verify reports nothing, for an
# instance, with the unit's Documentation= page found. The one change made to the installed
# text is the program's folder in ExecStart, pointed at the build tree, since verify checks
# that the command exists and the package's binary is not installed here.
# Usage: verify-unit.sh UNIT INSTALLED_BINDIR PROGRAM MANPAGE
set -euo pipefail
unit=$1 bindir=$2 program=$3 manpage=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

grep -q "^ExecStart=$bindir/docindex " "$unit" || { echo "FAIL: ExecStart does not name $bindir/docindex" >&2; exit 1; }
sed "s|^ExecStart=$bindir/docindex |ExecStart=$program |" "$unit" >"$work/$(basename "$unit")"
mkdir -p "$work/man/man1"
cp "$manpage" "$work/man/man1/"
cd "$work"
out=$(MANPATH=$work/man systemd-analyze verify "./docindex-watch@srv-www-docs.service" 2>&1) || {
    echo "FAIL: $out" >&2
    exit 1
}
[ -z "$out" ] || { echo "FAIL: systemd-analyze verify said: $out" >&2; exit 1; }
echo "unit verified: $unit"
