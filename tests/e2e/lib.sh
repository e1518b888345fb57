# Helpers for the end-to-end tests: a private X server, the built program on it, real clicks at
# the places of the controls, and the real clipboard. Source it; call e2e_setup first.
set -euo pipefail
[[ -n "${E2E_TRACE:-}" ]] && set -x

e2e_fail() {
    echo "FAIL: $*" >&2
    exit 1
}

e2e_cleanup() {
    local pid mount
    for pid in $(jobs -p); do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    for mount in $(awk -v dir="$E2E_DIR/" 'index($2, dir) == 1 { print $2 }' /proc/mounts); do
        umount "$mount" || true
    done
    rm -rf "$E2E_DIR"
}

# Starts Xvfb on a free display number and points DISPLAY and the history location at it.
e2e_setup() {
    E2E_DIR=$(mktemp -d)
    trap e2e_cleanup EXIT
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$E2E_DIR/display" 2>/dev/null &
    local i
    for ((i = 0; i < 100; i++)); do
        [[ -s "$E2E_DIR/display" ]] && break
        sleep 0.05
    done
    [[ -s "$E2E_DIR/display" ]] || e2e_fail "Xvfb did not start"
    export DISPLAY=":$(cat "$E2E_DIR/display")"
    export XDG_DATA_HOME="$E2E_DIR/data"
    export XDG_RUNTIME_DIR="$E2E_DIR/runtime"
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    unset WAYLAND_DISPLAY
    export QT_QPA_PLATFORM=xcb
}

# Starts the program (or the command given, which must exec it) and waits until its window is
# mapped; sets TAVIK_PID and TAVIK_WINDOW, which the other helpers act on.
e2e_start_tavik() {
    "${@:-$TAVIK}" 2>>"$E2E_DIR/stderr" &
    TAVIK_PID=$!
    TAVIK_WINDOW=$(timeout 10 xdotool search --sync --all --onlyvisible --pid "$TAVIK_PID" \
        --name '^Tavik$' | head -n 1) || e2e_fail "the window did not appear"
}

# Waits until the program has ended, and fails unless it ended within five seconds with exit
# status $1 (default 0); with status 0, nothing may have been reported on standard error unless
# $2 is "reported".
e2e_wait_for_exit() {
    local expected=${1:-0} reported=${2:-} i status=0
    for ((i = 0; i < 100; i++)); do
        if ! kill -0 "$TAVIK_PID" 2>/dev/null; then
            wait "$TAVIK_PID" || status=$?
            [[ $status -eq $expected ]] || e2e_fail "the program ended with status $status: $(cat "$E2E_DIR/stderr")"
            if [[ $expected -eq 0 && -z $reported ]] && grep -q '^tavik:' "$E2E_DIR/stderr" 2>/dev/null; then
                e2e_fail "the program reported: $(cat "$E2E_DIR/stderr")"
            fi
            : >"$E2E_DIR/stderr"
            return 0
        fi
        sleep 0.05
    done
    e2e_fail "the program did not end"
}

# Waits up to five seconds for the program to report something matching $1 on standard error.
e2e_wait_for_report() {
    for _ in $(seq 50); do grep -q "$1" "$E2E_DIR/stderr" && return 0; sleep 0.1; done
    e2e_fail "no report of '$1': $(cat "$E2E_DIR/stderr")"
}

# Clicks the middle of a control given by its rectangle in logical pixels: left top width height.
e2e_click() { e2e_click_at $(($1 + $3 / 2)) $(($2 + $4 / 2)); }

# Clicks at a point of the window, in logical pixels.
e2e_click_at() {
    xdotool mousemove --window "$TAVIK_WINDOW" "$1" "$2" click 1
}

e2e_clipboard() {
    timeout 0.5 xclip -selection "${1:-clipboard}" -o 2>/dev/null || true # a frozen owner must not hang the test
}

# Waits up to five seconds until the clipboard holds something other than $1, and prints it.
e2e_clipboard_change() {
    local before=$1 now end=$((SECONDS + 5))
    while ((SECONDS < end)); do
        now=$(e2e_clipboard)
        if [[ -n "$now" && "$now" != "$before" ]]; then
            printf '%s' "$now"
            return 0
        fi
        sleep 0.05
    done
    e2e_fail "the clipboard did not change from '$before'"
}

# Clicks Generate and prints the password it put on the clipboard.
# shellcheck disable=SC2086
e2e_generate() {
    local before
    before=$(e2e_clipboard)
    e2e_click $GENERATE_BUTTON
    e2e_clipboard_change "$before"
}

# shellcheck disable=SC2086
e2e_save() { e2e_click $SAVE_BUTTON; }

# shellcheck disable=SC2086
e2e_exit() {
    e2e_click $EXIT_BUTTON
    e2e_wait_for_exit
}

e2e_history_file() { printf '%s/tavik/passwords.txt' "$XDG_DATA_HOME"; }

# Prints standard input with CR and LF made visible, for comparisons and messages.
e2e_visible() { od -An -c | tr -s ' \n' ' '; }

e2e_history() { e2e_visible <"$(e2e_history_file)"; }

# The bytes of a history holding the given passwords, made visible.
e2e_expected_history() {
    local password
    for password in "$@"; do printf '"%s"\r\n' "$password"; done | e2e_visible
}

# Fails unless the history file holds exactly the given passwords within two seconds (a Save
# writes it at once, but a click is only sent, not waited for).
e2e_expect_history() {
    local expected i
    expected=$(e2e_expected_history "$@")
    for ((i = 0; i < 40; i++)); do
        [[ "$(e2e_history 2>/dev/null)" == "$expected" ]] && return 0
        sleep 0.05
    done
    e2e_fail "history file: $(e2e_history); expected: $expected"
}

# The controls, in logical pixels (left top width height).
GENERATE_BUTTON="16 304 121 33"
SAVE_BUTTON="16 344 121 33"
EXIT_BUTTON="144 344 121 33"
PASSWORD_BOX="144 304 121 33"
CHECK_CAPS="16 176 17 17"
CHECK_SPECIALS="16 200 17 17"
CHECK_DIGITS="16 224 17 17"
CHECK_START_LETTER="16 248 17 17"
SPINNER_UP="56 275"
SPINNER_DOWN="56 294"
