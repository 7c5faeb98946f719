#!/usr/bin/env bash
# With no sound output at all the program starts, both windows work and every one of twenty
# quick presses reports "line unavailable" on stderr; once a sound server appears none of them
# plays late, and the next press plays at once. A server that
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

# Twenty presses in two seconds: each reports the missing line, and the program lives on.
keys=(q w e r t y g h b n p x i c l m k j o u)
pressed=$EPOCHREALTIME
xdotool key --delay 100 "${keys[@]}"
wait_for 30 log_reaches ${#keys[@]} "$unavailable" ||
  fail "${#keys[@]} presses, $(count_in_log "$unavailable") reports"
took=$(seconds_since "$pressed")
# A second report for one press would come about as soon as the first.
sleep "$(negative_wait "$took")"
reports=$(count_in_log "$unavailable")
note "${#keys[@]} presses with no sound server: $reports LineUnavailableException reports, the last $took s after the first press"
[ "$reports" -eq ${#keys[@]} ] || fail "expected one report per press, saw $reports"
program_alive || fail "the program died without a device"

# Both windows work: Configure Drums, then Save and Close brings a new main window.
open_options_item 2
wait_for 5 find_window_sized Tamborel 487 302 || fail "no configuration window without a device"
window_geometry "$(find_window_sized Tamborel 487 302)"
save_and_close "$WX" "$WY"
note "Configure Drums and Save and Close work without a device"

# A sound server appears: none of the earlier presses plays late, and the next press plays.
start_sound
record_start "$E2E_DIR/appeared.raw"
record_until 2
record_stop
! "$AUDIOCHECK" sounding "$RECORDING" "$SINK_RATE" 0 >/dev/null ||
  fail "an earlier press sounded once the server was there"
note "the server's first two seconds: silent"
expect_drum q "$kit" Bass "first press with a server"
[ "$(count_in_log "$unavailable")" -eq ${#keys[@]} ] || fail "a press failed once the server was there"

# The server dies under the open device: the next press finds it gone and reports, and once a
# new server is there the press after plays on it.
stop_sound
let_the_program_see_the_server_gone
xdotool key e
wait_for 10 log_reaches $((${#keys[@]} + 1)) "$unavailable" ||
  fail "a press with the server gone did not report"
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
