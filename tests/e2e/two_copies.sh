#!/usr/bin/env bash
# Two copies of the built program open at once, each saving: both saves end up in the file,
# whichever closes last.
TAVIK=${1:?usage: two_copies.sh path/to/tavik}
source "$(dirname "$0")/lib.sh"
e2e_setup

e2e_start_tavik
first_pid=$TAVIK_PID first_window=$TAVIK_WINDOW
e2e_start_tavik
second_pid=$TAVIK_PID second_window=$TAVIK_WINDOW
# Side by side, so that each click lands on its own window.
xdotool windowmove --sync "$second_window" 400 0

TAVIK_PID=$first_pid TAVIK_WINDOW=$first_window
from_first=$(e2e_generate)
e2e_save
TAVIK_PID=$second_pid TAVIK_WINDOW=$second_window
from_second=$(e2e_generate)
e2e_save
e2e_exit
e2e_expect_history "$from_second"
TAVIK_PID=$first_pid TAVIK_WINDOW=$first_window
e2e_exit
e2e_expect_history "$from_second" "$from_first"
echo "PASS: two copies"
