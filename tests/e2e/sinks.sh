#!/usr/bin/env bash
# What a desktop does to a playing program's output, on the sound server E2E_SERVER names, each
# while a crash rings: the default sink changes (headphones plugged in), the sink is suspended
# and resumed, the stream is moved to another sink. After each the ringing crash goes on where
# the stream now plays, every drum pressed is heard there, and in the end the buffer the program
# asks the server for is no larger than before, unless a climb it logged follows a stop of the
# machine.
# Arguments: the tamborel binary, the folder holding the demo kits.
source "$(dirname "$0")/session.sh"
binary=$1 kits=$2
kit="$kits/acoustic"

start_playing "$binary" "$kits"
sleep 3
read_program_buffer || fail "the sound server shows no stream of the program"
before_usec=$BUFFER_USEC before_at=$(monotonic_now)
note "before: $BUFFER_SHOWN"
add_sink other

# through WHAT SINK ACTION...: presses the crash and, while it rings, runs the action; the
# crash must then go on in SINK's recording within a second after the action, and the program's
# stream play on SINK.
through() {
  local what=$1 sink=$2
  shift 2
  wait_until_quiet
  RECORDED_SINK=$sink
  RECORDINGS=$((RECORDINGS + 1))
  record_start "$E2E_DIR/$RECORDINGS-$sink.raw"
  press o
  sleep 0.3
  local at
  at=$(monotonic_now)
  "$@" || fail "$what: $* failed"
  local acted
  acted=$(recorded_seconds)
  record_until "$(awk "BEGIN { print $acted + 1 }")"
  record_stop
  local heard
  heard=$("$AUDIOCHECK" sounding "$RECORDING" "$SINK_RATE" "$acted") ||
    fail "$what: the crash did not go on in $sink"
  note "$what at $at s: the crash went on in $sink $(awk -v acted="$acted" '$1 == "start" {
    printf "%.0f ms after the action, as the recording tells", 1000 * ($2 - acted) }' <<<"$heard")"
  read_sink_input || fail "$what: the program's stream is gone"
  [ "$SINK_INPUT_SINK" = "$sink" ] || fail "$what: the program plays on $SINK_INPUT_SINK, not $sink"
}

# drums_on SINK WHAT: every drum pressed now is heard on SINK.
drums_on() {
  RECORDED_SINK=$1
  wait_until_quiet
  local entry
  for entry in q:Bass e:Snare p:HiHat; do
    expect_drum "${entry%%:*}" "$kit" "${entry#*:}" "$2, key ${entry%%:*}"
  done
}

suspend_and_resume() {
  pactl suspend-sink other 1 && sleep 0.5 && pactl suspend-sink other 0
}

through "the default sink changed" other pactl set-default-sink other
drums_on other "after the default sink changed"

# PipeWire 0.3.65 loses the right channel of every stream that lives through a suspend of its
# sink, pw-play's as well as ours: there the recording would judge the server.
if [ "${E2E_SERVER:-pulseaudio}" != pipewire ]; then
  through "the sink suspended and resumed" other suspend_and_resume
  drums_on other "after the sink resumed"
fi

read_sink_input || fail "the program's stream is gone"
through "the stream moved" cap pactl move-sink-input "$SINK_INPUT" cap
drums_on cap "after the stream moved"

# A few seconds of silence in which the buffer may come down again.
sleep 3
read_program_buffer || fail "the sound server shows no stream of the program"
verdict=$("$DROPCHECK" buffer "$BUFFER_USEC" "$before_usec" "$(monotonic_now)" "$PAUSES" \
  "$E2E_DIR/program.log" "$before_at") || fail "the buffer was raised: $BUFFER_SHOWN; $verdict"
note "after: $BUFFER_SHOWN: $verdict"

program_alive || fail "the program died"
! grep -q "Exception" "$E2E_DIR/program.log" || fail "the program reported: $(cat "$E2E_DIR/program.log")"
grep -E '^tamborel\.audio' "$E2E_DIR/program.log" | sed 's/^/-- /' || true
