#!/usr/bin/env bash
# The built program on a real X server: real clicks on Generate, the spinner and the check boxes;
# the password read back from the real clipboard while the program runs; held keys on Save. The program finds its
# display through -display alone, with no DISPLAY and no QT_QPA_PLATFORM.
TAVIK=${1:?usage: generate_and_copy.sh path/to/tavik}
source "$(dirname "$0")/lib.sh"
e2e_setup
e2e_start_tavik env -u DISPLAY -u QT_QPA_PLATFORM "$TAVIK" -display "$DISPLAY"
# The window carries its icon, for the title bar and the taskbar.
icon=$(xprop -id "$TAVIK_WINDOW" _NET_WM_ICON)
grep -q 'Icon (48 x 48)' <<<"$icon" || e2e_fail "no window icon: $icon"

password=$(e2e_generate)
[[ "$password" =~ ^[a-zA-Z][a-zA-Z0-9!#$%\&@*^]{6}$ ]] || e2e_fail "default password '$password'"
targets=$(xclip -selection clipboard -t TARGETS -o)
grep -qx 'x-kde-passwordManagerHint' <<<"$targets" || e2e_fail "no secret hint among: $targets"
hint=$(xclip -selection clipboard -t x-kde-passwordManagerHint -o)
[[ "$hint" == secret ]] || e2e_fail "hint is '$hint'"

# Selecting the password in the box (a triple click selects all of it) sets PRIMARY, for
# middle-click paste: it carries the mark too.
# shellcheck disable=SC2086
set -- $PASSWORD_BOX
xdotool mousemove --window "$TAVIK_WINDOW" $(($1 + $3 / 2)) $(($2 + $4 / 2)) click --repeat 3 --delay 80 1
for _ in $(seq 50); do [[ "$(e2e_clipboard primary)" == "$password" ]] && break; sleep 0.05; done
[[ "$(e2e_clipboard primary)" == "$password" ]] || e2e_fail "PRIMARY holds '$(e2e_clipboard primary)'"
targets=$(xclip -selection primary -t TARGETS -o)
grep -qx 'x-kde-passwordManagerHint' <<<"$targets" || e2e_fail "PRIMARY has no secret hint: $targets"

# Three clicks on the upper arrow: 10 characters. Ten on the lower one: it stops at 5.
for _ in 1 2 3; do e2e_click_at $SPINNER_UP; done
password=$(e2e_generate)
[[ ${#password} -eq 10 ]] || e2e_fail "after three clicks up: '$password'"
for _ in $(seq 10); do e2e_click_at $SPINNER_DOWN; done
password=$(e2e_generate)
[[ ${#password} -eq 5 ]] || e2e_fail "after ten clicks down: '$password'"

# With every box cleared, only lower-case letters.
for box in "$CHECK_CAPS" "$CHECK_SPECIALS" "$CHECK_DIGITS" "$CHECK_START_LETTER"; do
    e2e_click $box
done
for _ in $(seq 10); do
    password=$(e2e_generate)
    [[ "$password" =~ ^[a-z]{5}$ ]] || e2e_fail "with every box cleared: '$password'"
done

# A key held 5 s on Save, with the X server's own repeat, is one press: one save per hold.
xdotool key --window "$TAVIK_WINDOW" Tab Tab # from Generate, past the password box, to Save
holds=0
for key in Return KP_Enter space Return KP_Enter space Return KP_Enter space; do
    xdotool keydown "$key" sleep 5 keyup "$key" sleep 0.5
    saves=$(grep -c . "$(e2e_history_file)") holds=$((holds + 1))
    [[ $saves -eq $holds ]] || e2e_fail "$key held: $saves saves after $holds holds"
done

e2e_exit
echo "PASS: generate and copy"
