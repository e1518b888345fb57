#!/usr/bin/env bash
# The history on disk, with the built program on a real X server: saved passwords survive Exit,
# the close box and SIGTERM alike, in a private file; a start and close without saving leaves the
# file as it was.
TAVIK=${1:?usage: history_lasts.sh path/to/tavik}
source "$(dirname "$0")/lib.sh"
e2e_setup

# Save, Exit, start again: the file holds the password, private to its owner.
e2e_start_tavik
first=$(e2e_generate)
e2e_save
e2e_exit
e2e_expect_history "$first"
[[ $(stat -c %a "$(e2e_history_file)") == 600 ]] || e2e_fail "file mode $(stat -c %a "$(e2e_history_file)")"
[[ $(stat -c %a "$(dirname "$(e2e_history_file)")") == 700 ]] || e2e_fail "folder mode"

# Start again: the list shows the password (copied from its first row with Ctrl+C); closing
# without saving leaves the same bytes.
e2e_start_tavik
e2e_click_at 60 56
xdotool key ctrl+c
[[ "$(e2e_clipboard_change "")" == "$first" ]] || e2e_fail "the list's first row is not '$first'"
e2e_exit
e2e_expect_history "$first"

# SIGTERM closes the window through the same path, so the save is written.
e2e_start_tavik
second=$(e2e_generate)
e2e_save
kill -TERM "$TAVIK_PID"
e2e_wait_for_exit
e2e_expect_history "$first" "$second"

# The close box, through a real window manager.
openbox --sm-disable >/dev/null 2>&1 &
for _ in $(seq 50); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
e2e_start_tavik
third=$(e2e_generate)
e2e_save
wmctrl -i -c "$TAVIK_WINDOW"
e2e_wait_for_exit
e2e_expect_history "$first" "$second" "$third"
echo "PASS: history lasts"
