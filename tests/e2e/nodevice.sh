#!/usr/bin/env bash
# With no sound output at all the program starts, both windows work and every press reports
# "line unavailable" on stderr; once a sound server appears the next press plays. A server that
# dies while the program runs is noticed on the next press, and a new one is used as soon as it
# is there.
# Arguments: the tamborel binary, the folder holding the demo kits.
source "$(dirname "$0")/session.sh"
binary=$1 kits=$2
kit="$kits/acoustic"

start_display
mkdir -p "$E2E_DIR/play" "$E2E_DIR/run"
chmod 700 "$E2E_DIR/run"
ln -s "$kits" "$E2E_DIR/play/kits"
# Where start_sound will put its server; nothing listens there yet.
export XDG_RUNTIME_DIR="$E2E_DIR/run" PULSE_SERVER="unix:$E2E_DIR/pulse"
unset SDL_AUDIODRIVER
start_program "$binary" "$E2E_DIR/play"

# The program hears that its server has gone when its connection to it closes, a moment after
# the kill, and nothing outside the program shows when: a press before that plays into the
# lost stream, unreported. A second is ample.
let_the_program_see_the_server_gone() { sleep 1; }

# The first line of each report; the trace under it is indented.
unavailable='^audio\.LineUnavailableException'

# Each press reports the missing line and the program lives on.
presses=0 slowest=0
for key in q o e; do
  pressed=$EPOCHREALTIME
  xdotool key "$key"
  presses=$((presses + 1))
  wait_for 10 log_reaches "$presses" "$unavailable" || fail "press $presses reported nothing"
  took=$(seconds_since "$pressed")
  slowest=$(awk "BEGIN { print ($took > $slowest ? $took : $slowest) }")
done
# A second report for one press would come about as soon as the first.
sleep "$(negative_wait "$slowest")"
reports=$(count_in_log "$unavailable")
note "three presses with no sound server: $reports LineUnavailableException reports"
[ "$reports" -eq 3 ] || fail "expected one report per press, saw $reports"
program_alive || fail "the program died without a device"

# Both windows work: Configure Drums, then Save and Close brings a new main window.
open_options_item 2
wait_for 5 find_window_sized Tamborel 487 302 || fail "no configuration window without a device"
window_geometry "$(find_window_sized Tamborel 487 302)"
save_and_close "$WX" "$WY"
note "Configure Drums and Save and Close work without a device"

# A sound server appears: the next press plays.
start_sound
expect_drum q "$kit" Bass "first press with a server"
[ "$(count_in_log "$unavailable")" -eq 3 ] || fail "a press failed once the server was there"

# The server dies under the open device: the next press finds it gone and reports, and once a
# new server is there the press after plays on it.
stop_sound
let_the_program_see_the_server_gone
xdotool key e
wait_for 10 log_reaches 4 "$unavailable" || fail "a press with the server gone did not report"
[ "$(count_in_log 'output device went away')" -eq 1 ] || fail "the lost device was not noticed"
note "press after the server died: reported, lost device noticed"
start_sound
expect_drum o "$kit" Crash "press with a new server"

# Killed and started again between two presses: the very next press plays.
stop_sound
start_sound
let_the_program_see_the_server_gone
expect_drum e "$kit" Snare "press after the server restarted"
[ "$(count_in_log 'output device went away')" -eq 2 ] || fail "the second loss was not noticed"

program_alive || fail "the program died"
! grep -q "Exception in thread" "$E2E_DIR/program.log" || fail "a player died: $(cat "$E2E_DIR/program.log")"
