#!/usr/bin/env bash
# The command line: --help and --version answer without any display, an unknown option is an
# error, Qt's own options still work, and without a display the program says so in one line.
set -euo pipefail
tavik=${1:?usage: check-command-line.sh path/to/tavik}
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_DATA_HOME="$work/data")

"${no_display[@]}" "$tavik" --help >"$work/out" || fail "--help: status $?"
grep -q '^Usage: tavik' "$work/out" || fail "--help printed: $(cat "$work/out")"
[[ "$("${no_display[@]}" "$tavik" --version)" == "tavik 1.0" ]] || fail "--version"

status=0
"${no_display[@]}" "$tavik" 2>"$work/err" || status=$?
[[ $status -eq 1 ]] || fail "without a display: status $status"
[[ $(wc -l <"$work/err") -eq 1 ]] && grep -q 'no display' "$work/err" ||
    fail "without a display it said: $(cat "$work/err")"

status=0
"${no_display[@]}" QT_QPA_PLATFORM=offscreen "$tavik" --no-such-option 2>"$work/err" || status=$?
[[ $status -eq 2 ]] || fail "an unknown option: status $status"
grep -q "unknown option '--no-such-option'" "$work/err" || fail "unknown option: $(cat "$work/err")"

# Qt's own options are Qt's: -platform gives a display where there is none.
"${no_display[@]}" "$tavik" -platform offscreen -style Fusion 2>"$work/err" &
pid=$!
sleep 1
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[[ $status -eq 0 ]] || fail "with -platform offscreen: status $status: $(cat "$work/err")"
echo "PASS: command line"
