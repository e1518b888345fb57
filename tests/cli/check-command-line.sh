#!/usr/bin/env bash
# The command line: --help and --version answer without any display, an unknown option is an
# error, Qt's own options still work, without a display the program says so in one line, and
# without a thread for its writes it does not start, leaving a leftover as it was.
set -euo pipefail
tavik=${1:?usage: check-command-line.sh path/to/tavik path/to/no_std_thread.so}
no_std_thread=${2:?usage: check-command-line.sh path/to/tavik path/to/no_std_thread.so}
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
mkdir -p "$work/alone/tavik"
leftover="$work/alone/tavik/passwords.txt.tavik-unfinished-1-Ab3dEf"
printf '"kept"\r\n' >"$leftover"
before=$(stat -c '%s %Y %i' "$leftover")
status=0
"${no_display[@]}" XDG_DATA_HOME="$work/alone" QT_QPA_PLATFORM=offscreen LD_PRELOAD="$no_std_thread" \
    ASAN_OPTIONS=verify_asan_link_order=0 timeout 10 "$tavik" 2>"$work/err" || status=$?
[[ $status -eq 1 ]] || fail "with no thread: status $status: $(cat "$work/err")"
[[ "$(grep '^tavik' "$work/err")" == "tavik: cannot start: no thread could be made to write the password history (Resource temporarily unavailable). Nothing was changed. Close some programs, then start Tavik again." ]] ||
    fail "with no thread it said: $(cat "$work/err")"
[[ "$(stat -c '%s %Y %i' "$leftover")" == "$before" && $(ls -A "$work/alone/tavik") == "${leftover##*/}" ]] ||
    fail "with no thread, the history's folder changed: $(ls -la "$work/alone/tavik")"
echo "PASS: command line"
