#!/usr/bin/env bash
# A sink that runs at 44.1 kHz, on the sound server E2E_SERVER names (on PipeWire the graph
# runs at that rate, as a device that has no other sets it): the program's stream plays at the
# sink's rate, as the server shows it, so that no frame of it is converted twice, and the drums
# come out right at that rate.
# Arguments: the tamborel binary, the folder holding the demo kits.
export SINK_RATE=44100
source "$(dirname "$0")/session.sh"
binary=$1 kits=$2
kit="$kits/acoustic"

start_playing "$binary" "$kits"
for entry in q:Bass e:Snare p:HiHat o:Crash; do
  expect_drum "${entry%%:*}" "$kit" "${entry#*:}"
done
read_sink_input || fail "the sound server shows no stream of the program"
note "the program's stream plays at $SINK_INPUT_RATE Hz on $SINK_INPUT_SINK"
[ "$SINK_INPUT_RATE" -eq "$SINK_RATE" ] ||
  fail "the program plays at $SINK_INPUT_RATE Hz into a sink at $SINK_RATE Hz"

program_alive || fail "the program died"
! grep -q "Exception" "$E2E_DIR/program.log" || fail "the program reported: $(cat "$E2E_DIR/program.log")"
