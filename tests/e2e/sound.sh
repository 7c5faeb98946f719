#!/usr/bin/env bash
# The real program plays the demo kit: each of the 24 default keys, pressed with xdotool, sounds
# its own sample (recorded from a null sink and told apart by cross-correlation), and two quick
# hits overlap instead of cutting each other off.
# Arguments: the tamborel binary, the folder holding the demo kits.
source "$(dirname "$0")/session.sh"
binary=$1 kits=$2
kit="$kits/acoustic"

start_playing "$binary" "$kits"

# Each recording holds the whole sample, so the next key starts in silence.
for entry in "${DEFAULT_KEYS[@]}"; do
  expect_drum "${entry%%:*}" "$kit" "${entry#*:}"
done

# A crash, then a kick a quarter second into it: the crash must ring on under and after the kick.
# It is judged for a second from the kick's end, wherever a slow machine let the kick fall.
record_start "$E2E_DIR/overlap.raw"
press o
record_sound 0.25 || fail "the crash did not sound"
crash_from=$PRESSED_FROM crash_at=$PRESSED_AT
press q
record_sound 3.0 "$crash_from" || fail "the recording did not reach 3 s into the crash"
record_stop
# follow RECORDING SAMPLE FROM TO: audiocheck follow with the kit's SAMPLE.
follow() { "$AUDIOCHECK" follow "$1" 48000 "$kit/$2" "$3" "$4"; }
overlap=$E2E_DIR/overlap.raw
onset() { follow "$overlap" "$1" 0 0.3; }
kick=$(onset Bass.wav)
after_kick=$(awk -v crash="$(onset Crash.wav | awk 'NR == 1 { print $2 }')" \
  -v kick="$(awk 'NR == 1 { print $2 }' <<<"$kick")" \
  -v kickLength="$(sample_seconds "$kit/Bass.wav")" \
  'BEGIN { from = kick + kickLength - crash; printf "%.3f", (from > 1 ? from : 1) }')
at_least 2.0 "$after_kick" || fail "the kick came $after_kick s into the crash, too late to judge"
crash_to=$(awk -v from="$after_kick" 'BEGIN { print from + 1 }')
crash=$(follow "$overlap" Crash.wav "$after_kick" "$crash_to")
note "crash $after_kick s in, after the kick: $(sed -n 1p <<<"$crash");" \
  "kick: $(sed -n 1p <<<"$kick")"
at_least "$(awk 'NR == 1 { print $2 }' <<<"$kick")" "$PRESSED_FROM" ||
  fail "the kick sounded before its key"
still_plays "$kick" 0.8 "the kick over the crash" "$(follow "$overlap.twin" Bass.wav 0 0.3)" ||
  fail "the kick did not sound over the crash"
PRESSED_AT=$crash_at
still_plays "$crash" 0.9 "the crash after the kick" \
  "$(follow "$overlap.twin" Crash.wav "$after_kick" "$crash_to")" ||
  fail "the crash was cut off by the kick"

program_alive || fail "the program died"
! grep -q "Exception" "$E2E_DIR/program.log" || fail "the program reported: $(cat "$E2E_DIR/program.log")"
