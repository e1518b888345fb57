#!/usr/bin/env bash
# The built program as a native Wayland client, under a real compositor (sway, headless), found
# through WAYLAND_DISPLAY alone (no DISPLAY, no QT_QPA_PLATFORM): real
# key presses (wtype) move the focus to Generate and press it, and the password is read back
# from the Wayland clipboard (wl-paste) with the secret hint among its types; Exit then closes
# the program normally.
set -euo pipefail
[[ -n "${E2E_TRACE:-}" ]] && set -x
TAVIK=${1:?usage: wayland_clipboard.sh path/to/tavik}

fail() {
    echo "FAIL: $*" >&2
    [[ -f "$work/sway.log" ]] && tail -n 20 "$work/sway.log" >&2
    exit 1
}

work=$(mktemp -d)
compositor_dir="$work/compositor"
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir -m 700 "$compositor_dir" "$work/runtime"
printf 'xwayland disable\noutput * bg #336699 solid_color\n' >"$compositor_dir/config"

# sway refuses to run as root: there it runs as nobody, in a runtime folder of nobody's.
as_compositor_user=()
if [[ $(id -u) -eq 0 ]]; then
    chown -R nobody:nogroup "$compositor_dir"
    as_compositor_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
"${as_compositor_user[@]}" env -i PATH=/usr/bin:/bin HOME="$compositor_dir" \
    XDG_RUNTIME_DIR="$compositor_dir" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
    WLR_RENDERER=pixman sway -c "$compositor_dir/config" >"$work/sway.log" 2>&1 &

for _ in $(seq 100); do
    socket=$(find "$compositor_dir" -maxdepth 1 -type s -name 'wayland-*' | head -n 1)
    [[ -n "$socket" ]] && break
    sleep 0.05
done
[[ -n "$socket" ]] || fail "sway did not start"
sway_ipc=$(find "$compositor_dir" -maxdepth 1 -type s -name 'sway-ipc.*' | head -n 1)

# The clients connect by the socket's full path, each with a runtime folder of its own.
export WAYLAND_DISPLAY="$socket" XDG_RUNTIME_DIR="$work/runtime" XDG_DATA_HOME="$work/data"
unset DISPLAY QT_QPA_PLATFORM XDG_SESSION_TYPE

"$TAVIK" 2>"$work/tavik.log" &
tavik_pid=$!
for _ in $(seq 100); do
    tree=$(swaymsg -s "$sway_ipc" -t get_tree 2>/dev/null || true)
    grep -q '"app_id": "tavik"' <<<"$tree" && break
    sleep 0.05
done
grep -q '"app_id": "tavik"' <<<"$tree" ||
    fail "no native Wayland window with app_id tavik: $(cat "$work/tavik.log")"

# The virtual keyboard needs a moment before the client has bound it; then Tab three times goes
# from the first check box to Generate, and space presses it.
wtype -s 1000 -k Tab -k Tab -k Tab -k space -s 200

types=""
for _ in $(seq 50); do
    types=$(timeout 5 wl-paste --list-types 2>/dev/null || true)
    grep -qx 'x-kde-passwordManagerHint' <<<"$types" && break
    sleep 0.1
done
grep -qx 'x-kde-passwordManagerHint' <<<"$types" || fail "no secret hint among: $types"
[[ "$(timeout 5 wl-paste --type x-kde-passwordManagerHint)" == secret ]] || fail "hint not secret"
password=$(timeout 5 wl-paste --no-newline)
[[ "$password" =~ ^[a-zA-Z][a-zA-Z0-9!#$%\&@*^]{6}$ ]] || fail "password '$password'"

# Tab three more times: the password box, Save, Exit.
wtype -s 300 -k Tab -k Tab -k Tab -k space
for _ in $(seq 100); do
    kill -0 "$tavik_pid" 2>/dev/null || break
    sleep 0.05
done
kill -0 "$tavik_pid" 2>/dev/null && fail "Exit did not close the program"
wait "$tavik_pid" || fail "the program ended with status $?: $(cat "$work/tavik.log")"
[[ -f "$XDG_DATA_HOME/tavik/passwords.txt" ]] || fail "the history file was not written"
echo "PASS: wayland clipboard"
