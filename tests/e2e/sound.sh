#!/usr/bin/env bash
# The real program plays the demo kit: each of the 24 default keys, pressed with xdotool, sounds
# its own sample (recorded from a null sink and told apart by cross-correlation), and two quick
# hits overlap instead of cutting each other off.
# Arguments: the tamborel binary, the folder holding the demo kits.
source "$(dirname "$0")/session.sh"
binary=$1 kits=$2
kit="$kits/acoustic"

start_playing "$binary" "$kits"

for entry in "${DEFAULT_KEYS[@]}"; do
  key=${entry%%:*} expected=${entry#*:}
  length=$("$AUDIOCHECK" length "$kit/$expected.wav")
  press_and_record "$key" "$(awk "BEGIN { print ($length > 1.2 ? 1.2 : $length) + 0.4 }")" "$E2E_DIR/$key.raw"
  identify "$E2E_DIR/$key.raw" "$kit"
  heard=$HEARD
  note "$key: heard $heard (score $SCORE, margin $MARGIN), expected $expected"
  [ "$heard" = "$expected" ] || fail "key $key played $heard, not $expected"
  at_least "$SCORE" 0.9 || fail "key $key: $expected matched only $SCORE"
  # let long cymbals ring out before the next key
  sleep "$(awk "BEGIN { r = $length - 1.2; print (r > 0 ? r : 0) }")"
done

# A crash, then a kick a quarter second later: the crash must ring on under and after the kick.
record_start "$E2E_DIR/overlap.raw"
xdotool key o
sleep 0.25
xdotool key q
sleep 2.5
record_stop
crash=$("$AUDIOCHECK" follow "$E2E_DIR/overlap.raw" 48000 "$kit/Crash.wav" 1.0 2.0)
kick=$("$AUDIOCHECK" follow "$E2E_DIR/overlap.raw" 48000 "$kit/Bass.wav" 0 0.3)
note "crash after the kick: $crash; kick: $kick"
at_least "$(awk '{print $4}' <<<"$crash")" 0.9 || fail "the crash was cut off by the kick"
at_least "$(awk '{print $4}' <<<"$kick")" 0.8 || fail "the kick did not sound over the crash"

program_alive || fail "the program died"
! grep -q "Exception" "$E2E_DIR/program.log" || fail "the program reported: $(cat "$E2E_DIR/program.log")"
