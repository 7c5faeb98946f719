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
before_usec=$STREAM_BUFFER_USEC before_at=$(monotonic_now)
note "before: $BUFFER_SHOWN"
add_sink other

# where_it_went LEFT: where the program's stream plays now, and what the recording LEFT of the
# sink it left holds: tells a crash that stayed behind from one that never sounded.
where_it_went() {
  local now=nowhere
  read_sink_input && now=$SINK_INPUT_SINK
  echo "the program plays on $now; the sink it left heard" \
    "$("$AUDIOCHECK" sounding "$1" "$SINK_RATE" 0 || echo nothing)," \
    "$("$AUDIOCHECK" level "$1" "$SINK_RATE")"
}

# through WHAT SINK ACTION...: presses the crash and, while it rings, runs the action; the
# crash must then go on in SINK's recording within a second after the action, and the program's
# stream play on SINK. The sink it leaves is recorded too, for where_it_went.
through() {
  local what=$1 sink=$2
  shift 2
  wait_until_quiet
  read_sink_input || fail "$what: the program's stream is gone"
  local was=$SINK_INPUT_SINK left="$E2E_DIR/$((RECORDINGS + 1))-left-$SINK_INPUT_SINK.raw"
  record_sink "$was" "$left" 20 1 &
  local leftRecorder=$!
  E2E_PIDS+=($leftRecorder)
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
  kill "$leftRecorder"
  wait "$leftRecorder" 2>/dev/null || true
  local heard
  heard=$("$AUDIOCHECK" sounding "$RECORDING" "$SINK_RATE" "$acted") ||
    fail "$what: the crash did not go on in $sink; $(where_it_went "$left")"
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

# move_stream SINK: moves the program's stream to SINK as a desktop's mixer does, and waits until
# the server shows it there. pipewire-pulse 0.3.65 now and then acknowledges a move and leaves
# the stream where it was, the crash ringing on there: a user moves it again, and so does this,
# once.
move_stream() {
  pactl move-sink-input "$SINK_INPUT" "$1" || return 1
  wait_for 1 plays_on "$1" && return 0
  note "the server acknowledged the move to $1, and the stream stayed on $SINK_INPUT_SINK: again"
  pactl move-sink-input "$SINK_INPUT" "$1" && wait_for 1 plays_on "$1"
}
plays_on() { read_sink_input && [ "$SINK_INPUT_SINK" = "$1" ]; }

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

through "the stream moved" cap move_stream cap
drums_on cap "after the stream moved"

# A few seconds of silence in which the buffer may come down again.
sleep 3
read_program_buffer || fail "the sound server shows no stream of the program"
verdict=$("$DROPCHECK" buffer "$STREAM_BUFFER_USEC" "$before_usec" "$(monotonic_now)" "$PAUSES" \
  "$E2E_DIR/program.log" "$before_at") || fail "the buffer was raised: $BUFFER_SHOWN; $verdict"
note "after: $BUFFER_SHOWN: $verdict"

program_alive || fail "the program died"
! grep -q "Exception" "$E2E_DIR/program.log" || fail "the program reported: $(cat "$E2E_DIR/program.log")"
grep -E '^tamborel\.audio' "$E2E_DIR/program.log" | sed 's/^/-- /' || true
