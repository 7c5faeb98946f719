#!/usr/bin/env bash
# A MIDI drum part played into the running program on PipeWire, from a source that appears
# after the program started, sounds the right drums in order, softer for softer hits. A kit of
# pure tones tells each drum apart. Then bad input: a thousand notes at once, a source that
# vanishes in the middle of its part; the program keeps playing from the keyboard and from MIDI.
# The MIDI files are written here.
# Arguments: the tamborel binary.
source "$(dirname "$0")/session.sh"
binary=$1
kit="$E2E_DIR/tones/kits/acoustic"
mkdir -p "$kit"
hz=300
for s in "${SAMPLES[@]}"; do
  "$DROPCHECK" tone "$kit/$s.wav" "$hz" 150 48000 || fail "cannot write $s.wav"
  hz=$((hz + 100))
done
start_display
start_sound
start_program "$binary" "$E2E_DIR/tones"
wait_for 10 eval 'grep -q "MIDI input \"Tamborel\" on PipeWire" "$E2E_DIR/program.log"' ||
  fail "no MIDI input: $(grep 'tamborel.midi' "$E2E_DIR/program.log")"

# midi_file OUT EVENT...: a Standard MIDI File of one track at 96 ticks a beat and 120 beats a
# minute (a tick is 5.2 ms). Each EVENT is TICKS:HEX, the ticks since the event before (under
# 128) and the message's bytes.
midi_file() {
  local out=$1 body="" event length
  shift
  for event in "$@"; do
    body+=$(printf '\\x%02x' "${event%%:*}")$(sed 's/../\\x&/g' <<<"${event#*:}")
  done
  body+='\x00\xff\x2f\x00'
  length=$(printf "$body" | wc -c)
  {
    printf 'MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk'
    printf '\\x%02x' $((length >> 24 & 255)) $((length >> 16 & 255)) $((length >> 8 & 255)) \
      $((length & 255)) | xargs -0 printf
    printf "$body"
  } >"$out"
}

# drum_part OUT NOTE:VELOCITY...: each note struck on channel 10 half a second after the one
# before, and let go 52 ms after it is struck.
drum_part() {
  local out=$1 events=() hit
  shift
  for hit in "$@"; do
    events+=("$(printf '86:99%02x%02x' "${hit%%:*}" "${hit#*:}")" "$(printf '10:89%02x00' "${hit%%:*}")")
  done
  midi_file "$out" "${events[@]}"
}

# play_midi FILE: plays it with pw-midiplay, as a program that appears and goes. WirePlumber
# 0.4 makes no session item of a MIDI node, so it finds no target for a MIDI stream and ends
# the stream; node.autoconnect=false leaves the stream alone, and the program links it itself.
play_midi() { pw-midiplay -P '{ node.autoconnect = false }' "$1"; }

# In order: kick, snare, hi-hat, crash at full velocity, then three snares ever harder.
drum_part "$E2E_DIR/part.mid" 36:127 38:127 42:127 49:127 38:40 38:80 38:127
record_start "$E2E_DIR/part.raw"
play_midi "$E2E_DIR/part.mid" || fail "pw-midiplay failed"
record_until "$(awk "BEGIN { print $(recorded_seconds) + 0.5 }")"
record_stop
# Where each hit begins: runs of sound closer than a fifth of a second are one hit cut by a
# drop-out.
onsets=$("$AUDIOCHECK" onsets "$RECORDING" "$SINK_RATE" 0.2) || fail "cannot read the recording"
mapfile -t starts <<<"$onsets"
[ ${#starts[@]} -eq 7 ] || fail "7 notes struck, ${#starts[@]} hits heard at ${starts[*]}"
expected=(Bass Snare HiHat Crash Snare Snare Snare)
peaks=()
for i in "${!starts[@]}"; do
  segment="$E2E_DIR/hit-$i.raw"
  dd if="$RECORDING" of="$segment" iflag=skip_bytes,count_bytes status=none \
    skip="$(awk -v s="${starts[$i]}" -v rate="$SINK_RATE" 'BEGIN { printf "%d", 2 * int(s * rate) }')" \
    count=$((2 * SINK_RATE / 5))
  identify "$segment" "$kit"
  peaks+=("$("$AUDIOCHECK" level "$segment" "$SINK_RATE" | awk '{ print $2 }')")
  note "note $((i + 1)) at ${starts[$i]} s: $HEARD (score $SCORE), peak ${peaks[$i]}"
  [ "$HEARD" = "${expected[$i]}" ] || fail "note $((i + 1)) played $HEARD, not ${expected[$i]}"
done
at_least "${peaks[5]}" "$(awk "BEGIN { print ${peaks[4]} * 1.5 }")" &&
  at_least "${peaks[6]}" "$(awk "BEGIN { print ${peaks[5]} * 1.5 }")" ||
  fail "snares at velocities 40, 80 and 127 came out at peaks ${peaks[*]:4}"

# A thousand notes in one go: what the queue cannot take is dropped and said, and the program
# plays on, from the keyboard and from MIDI.
burst=()
for _ in $(seq 1000); do burst+=(0:992a64); done
midi_file "$E2E_DIR/burst.mid" "${burst[@]}"
play_midi "$E2E_DIR/burst.mid" || fail "pw-midiplay failed on the burst"
wait_until_quiet
note "after the burst: $(grep -h 'notes dropped' "$E2E_DIR/program.log" | tail -n 1)"
expect_drum q "$kit" Bass "a key after the burst"

# A source that vanishes in the middle of its part.
long=()
for _ in $(seq 40); do long+=(19:992664 5:892600); done
midi_file "$E2E_DIR/long.mid" "${long[@]}"
play_midi "$E2E_DIR/long.mid" &
player=$!
sleep 1
kill -KILL "$player"
wait "$player" 2>/dev/null || true
wait_until_quiet
expect_drum e "$kit" Snare "a key after the source vanished"
drum_part "$E2E_DIR/one.mid" 49:127
record_start "$E2E_DIR/after.raw"
play_midi "$E2E_DIR/one.mid" || fail "pw-midiplay failed after the source vanished"
record_until "$(awk "BEGIN { print $(recorded_seconds) + 0.5 }")"
record_stop
identify "$RECORDING" "$kit"
[ "$HEARD" = Crash ] || fail "a note after the source vanished played $HEARD"
note "a note after the source vanished: $HEARD"

program_alive || fail "the program died"
! grep -q "Exception" "$E2E_DIR/program.log" || fail "the program reported: $(cat "$E2E_DIR/program.log")"
grep -E '^tamborel\.midi' "$E2E_DIR/program.log" | sed 's/^/-- /' || true
