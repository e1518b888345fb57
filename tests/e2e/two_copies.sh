#!/usr/bin/env bash
# Two copies of the built program open at once, each saving: each save is in the file at once,
# and stays there whichever copy closes last. Then ten copies, each saving, stopped at once (SIGTERM, then SIGHUP, as
# at logout): every one ends normally and no save is lost.
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
e2e_expect_history "$from_first" "$from_second"
e2e_exit
TAVIK_PID=$first_pid TAVIK_WINDOW=$first_window
e2e_exit
e2e_expect_history "$from_first" "$from_second"

saved=("$from_first" "$from_second")
pids=()
for _ in $(seq 10); do
    e2e_start_tavik
    pids+=("$TAVIK_PID")
    saved+=("$(e2e_generate)")
    e2e_save
done
kill -TERM "${pids[@]}"
kill -HUP "${pids[@]}" 2>/dev/null || true
for TAVIK_PID in "${pids[@]}"; do e2e_wait_for_exit; done
e2e_expect_history "${saved[@]}"
echo "PASS: two copies"
