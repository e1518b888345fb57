#!/usr/bin/env bash
# The history on disk, with the built program on a real X server: saved passwords survive Exit,
# the close box, SIGTERM, kill -9 and the X server going away alike, in a private file; a start
# and close without saving leaves the file as it was; a full disk and things that are not a file
# at its place never cost a saved password, nor hang the program; a save whose write failed
# reaches the disk on its own once the fault clears, or at the latest when the display goes; a
# disk that never answers does not keep the program from ending, and costs no save.
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

# A save is on disk at once: it survives kill -9.
e2e_start_tavik
fourth=$(e2e_generate)
e2e_save
sleep 0.3
kill -KILL "$TAVIK_PID"
wait "$TAVIK_PID" 2>/dev/null || true
e2e_expect_history "$first" "$second" "$third" "$fourth"

# A FIFO or a link to an endless device at the file's place: the window still comes (with a
# message), memory stays small, SIGTERM ends the program (status 0: nothing saved was lost),
# and the thing and its folder are left as they were. As root the devices are made in the
# test's own folder, so that a faulty build cannot change the machine's /dev.
history=$(e2e_history_file)
mv "$history" "$E2E_DIR/kept.txt"
devices=/dev
if [[ $(id -u) -eq 0 ]]; then
    devices=$E2E_DIR/dev && mkdir "$devices" && mknod "$devices/zero" c 1 5 && mknod "$devices/urandom" c 1 9
fi
devices_mode=$(stat -c %a "$devices")
for thing in fifo "$devices/zero" "$devices/urandom"; do
    if [[ $thing == fifo ]]; then mkfifo "$history"; else ln -s "$thing" "$history"; fi
    e2e_start_tavik
    rss_kb=$(awk '/^VmRSS/ { print $2 }' "/proc/$TAVIK_PID/status")
    ((rss_kb < 200000)) || e2e_fail "with $thing at the file's place: $rss_kb kB resident"
    kill -TERM "$TAVIK_PID"
    e2e_wait_for_exit 0 reported
    if [[ $thing == fifo ]]; then [[ -p "$history" ]]; else [[ $(readlink "$history") == "$thing" ]]; fi ||
        e2e_fail "$thing was replaced"
    [[ $(stat -c %a "$devices") == "$devices_mode" && ! -e "$thing.lock" ]] || e2e_fail "$devices was changed"
    rm "$history"
done
mv "$E2E_DIR/kept.txt" "$history"

# A full disk (a small tmpfs, which needs root): the save and the close both fail, are reported,
# the program ends with status 1, and the file keeps every byte.
if [[ $(id -u) -eq 0 ]]; then
    mkdir "$E2E_DIR/full"
    mount -t tmpfs -o size=64k tmpfs "$E2E_DIR/full"
    cp -a "$XDG_DATA_HOME/tavik" "$E2E_DIR/full/"
    dd if=/dev/zero of="$E2E_DIR/full/filler" bs=4k 2>/dev/null || true
    XDG_DATA_HOME="$E2E_DIR/full" e2e_start_tavik
    e2e_generate >/dev/null
    e2e_save
    # The message box about the failed save is open; SIGTERM closes it and the program.
    e2e_wait_for_report 'No space left on device'
    kill -TERM "$TAVIK_PID"
    e2e_wait_for_exit 1
    cmp -s "$E2E_DIR/full/tavik/passwords.txt" "$history" || e2e_fail "the full disk changed the file"
else
    echo "SKIP: the full-disk step mounts a tmpfs, which needs root"
fi

# Saves while a folder stands where the lock goes, so that the write fails, then clears that.
save_that_fails_then_clear() {
    : >"$E2E_DIR/stderr" # only this save's report counts
    rm -f "$history.lock" && mkdir "$history.lock"
    e2e_save
    e2e_wait_for_report 'is a folder, so it was not used'
    rmdir "$history.lock"
}

# A save whose write failed is kept and retried on its own: once the fault clears it is on disk
# within seconds, and survives kill -9.
e2e_start_tavik
fifth=$(e2e_generate)
save_that_fails_then_clear
sleep 3
kill -KILL "$TAVIK_PID"
wait "$TAVIK_PID" 2>/dev/null || true
e2e_expect_history "$first" "$second" "$third" "$fourth" "$fifth"

# Started as nohup and some launchers start it, with SIGHUP ignored and standard error closed:
# a Save under a lock held elsewhere is told in a box, the window still answers, a hang-up
# leaves it open, and the save is written.
flock "$history.lock" sleep 4 &
: >"$E2E_DIR/stderr" # what the killed copy above reported
e2e_start_tavik sh -c 'trap "" HUP && exec "$0" 2>&-' "$TAVIK"
kept=$(e2e_generate)
e2e_save
for _ in $(seq 50); do (($(xdotool search --onlyvisible --pid "$TAVIK_PID" --name '^Tavik$' | wc -l) > 1)) && break; sleep 0.1; done
xdotool key Escape
kill -HUP "$TAVIK_PID"
e2e_generate >/dev/null
e2e_exit

# A stop during the close's wait for another program's lock keeps that wait (the lock comes free
# about 4 s after the stop), and the save is written: nothing lost, status 0.
flock "$history.lock" sleep 6 &
e2e_start_tavik
waited=$(e2e_generate)
e2e_save
sleep 1.5
kill -TERM "$TAVIK_PID"
for _ in $(seq 80); do kill -0 "$TAVIK_PID" 2>/dev/null || break; sleep 0.1; done
e2e_wait_for_exit 0 reported

# A disk slow to flush holds up the write, never the window: while the first Save's flush
# waits, Generate and Save answer, and the second Save is written after the first, once.
: >"$E2E_DIR/flush-held"
e2e_start_tavik env LD_PRELOAD="$2" TAVIK_FSYNC_GATE="$E2E_DIR/flush-held" \
    ASAN_OPTIONS=verify_asan_link_order=0 "$TAVIK"
held=$(e2e_generate)
e2e_save
held_too=$(e2e_generate)
e2e_save
rm "$E2E_DIR/flush-held"
e2e_exit

# A flush that never comes back (a network disk gone): after Exit, SIGTERM still ends the program
# within seconds, saying what the disk has not confirmed. The next start, on the same silent disk,
# shows its window at once and SIGTERM still ends it; once the disk answers, a start finishes the
# write that was cut short, so the save is there.
: >"$E2E_DIR/flush-held"
e2e_start_tavik env LD_PRELOAD="$2" TAVIK_FSYNC_GATE="$E2E_DIR/flush-held" \
    ASAN_OPTIONS=verify_asan_link_order=0 "$TAVIK"
stuck=$(e2e_generate)
e2e_save
e2e_click $EXIT_BUTTON
sleep 0.5
kill -TERM "$TAVIK_PID"
e2e_wait_for_report 'the disk has not confirmed the write of 1 saved password(s)'
e2e_wait_for_exit 1
e2e_start_tavik env LD_PRELOAD="$2" TAVIK_FSYNC_GATE="$E2E_DIR/flush-held" \
    ASAN_OPTIONS=verify_asan_link_order=0 "$TAVIK"
kill -TERM "$TAVIK_PID"
e2e_wait_for_exit 0 reported
rm "$E2E_DIR/flush-held"
e2e_start_tavik
e2e_expect_history "$first" "$second" "$third" "$fourth" "$fifth" "$kept" "$waited" "$held" "$held_too" "$stuck"
e2e_exit

# A start whose read of the history never comes back still ends at once on SIGTERM.
: >"$E2E_DIR/open-held"
env LD_PRELOAD="$2" TAVIK_OPEN_GATE="$E2E_DIR/open-held" ASAN_OPTIONS=verify_asan_link_order=0 \
    "$TAVIK" 2>>"$E2E_DIR/stderr" &
TAVIK_PID=$!
sleep 1
kill -TERM "$TAVIK_PID"
e2e_wait_for_report '^tavik: stopped while starting; nothing had been saved yet.$'
e2e_wait_for_exit 0 reported
rm "$E2E_DIR/open-held"

# The X server goes away, as at logout, before the retry comes: the exit hook writes the save.
e2e_start_tavik
sixth=$(e2e_generate)
save_that_fails_then_clear
kill -TERM "$(pgrep -f "^Xvfb -displayfd" -P $$ | head -n 1)"
for _ in $(seq 100); do kill -0 "$TAVIK_PID" 2>/dev/null || break; sleep 0.05; done
kill -0 "$TAVIK_PID" 2>/dev/null && e2e_fail "the program outlived its X server"
e2e_wait_for_report 'at exit, 1 saved password(s) kept in memory were written'
e2e_expect_history "$first" "$second" "$third" "$fourth" "$fifth" "$kept" "$waited" "$held" "$held_too" "$stuck" "$sixth"
echo "PASS: history lasts"
