#!/usr/bin/env bash
# A key held on Save is one press: Return, keypad Enter and Space held 5 s each, with the X
# server's own key repeat, save once per hold, three holds each; each new hold saves again.
TAVIK=${1:?usage: held_keys.sh path/to/tavik}
source "$(dirname "$0")/lib.sh"
e2e_setup

e2e_start_tavik
e2e_generate >/dev/null
xdotool key --window "$TAVIK_WINDOW" Tab Tab # from Generate, past the password box, to Save
holds=0
for key in Return KP_Enter space; do
    for try in 1 2 3; do
        xdotool keydown "$key"
        sleep 5
        xdotool keyup "$key"
        holds=$((holds + 1))
        sleep 0.5
        saves=$(grep -c . "$(e2e_history_file)")
        [[ $saves -eq $holds ]] || e2e_fail "$key held, try $try: $saves saves after $holds holds"
    done
done
e2e_exit
