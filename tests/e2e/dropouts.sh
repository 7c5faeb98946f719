#!/usr/bin/env bash
# The program never drops out, as a user starts it, on the sound server E2E_SERVER names: a kit
# of 1.2 s noise samples pressed every 0.8 s, so that sound never stops, is recorded and searched
# for holes of digital silence, first on an otherwise idle machine, then with every core kept
# busy by other programs at normal priority.
#
# Only the machine itself stopping excuses a hole. A minimal real-time thread on each processor
# runs beside the program from before it starts and notes each stretch in which it woke
# PAUSE_MS or more late; pauses that overlap on several processors are one. A hole is excused
# only where it overlaps such a pause, and only by as much as the pause outlasted the buffer the
# stream had then, plus one cycle (PipeWire: the quantum; PulseAudio: a quarter of the target
# latency, what the server asks for at once). Each underrun the program logged while sounding
# must come with a pause too. Presses are timed on the monotonic clock, as the pauses and the
# program's log are, and their onsets place the recording on it (dropcheck judge says how
# closely).
#
# The program starts on a small buffer: 3 s after its window appears, the server must show it
# asking for at most 256 frames (5.3 ms, PipeWire's quantum) or 1024 frames (21.3 ms,
# PulseAudio's buffer and sink latency together), unless it logged a climb that a pause
# explains.
# Arguments: the tamborel binary.
source "$(dirname "$0")/session.sh"
binary=$1
presses=25
mkdir -p "$E2E_DIR/noise/kits/acoustic"
for s in "${SAMPLES[@]}"; do
  "$DROPCHECK" noise "$E2E_DIR/noise/kits/acoustic/$s.wav" 1.2 44100 || fail "cannot write $s.wav"
done
start_display
start_sound

grep -q '^probe real-time' "$PAUSES" || fail "$(sed -n 1p "$PAUSES")"

start_program "$binary" "$E2E_DIR/noise"
sleep 3
read_program_buffer || fail "the sound server shows no stream of the program"
read_at=$("$DROPCHECK" now)
case "${E2E_SERVER:-pulseaudio}" in
  pipewire) limit_usec=$((256 * 1000000 / 48000)) ;;
  *) limit_usec=$((1024 * 1000000 / 48000)) ;;
esac
verdict=$("$DROPCHECK" buffer "$BUFFER_USEC" "$limit_usec" "$read_at" "$PAUSES" \
  "$E2E_DIR/program.log") || fail "the program asks for too large a buffer: $BUFFER_SHOWN; $verdict"
note "3 s after the window appeared, $BUFFER_SHOWN: $verdict"

# play_and_search NAME: the presses, each timed just before its key is sent, recorded, then
# judged. The recorder asks for a long latency so that it leaves the graph's pace to the
# program.
play_and_search() {
  local times="$E2E_DIR/$1.times"
  echo "start $("$DROPCHECK" now)" >"$times"
  record_start "$E2E_DIR/$1.raw" 200
  local i
  for i in $(seq $presses); do
    echo "press $("$DROPCHECK" now)" >>"$times"
    xdotool key q e
    sleep 0.8
  done
  # The last hit rings out, then the recording ends in silence.
  sleep 1.6
  record_stop
  echo "stop $("$DROPCHECK" now)" >>"$times"
  local verdict status=0
  # Every press but the first overlaps the one before: the sound lasts as long as the presses.
  verdict=$("$DROPCHECK" judge "$E2E_DIR/$1.raw" 48000 "$(awk "BEGIN { print $presses * 0.8 }")" \
    "$times" "$PAUSES" "$E2E_DIR/program.log") || status=$?
  sed "s/^/-- $1: /" <<<"$verdict"
  [ "$status" -eq 0 ] || fail "the sound dropped out ($1): $(sed -n 's/^fail: //p' <<<"$verdict" |
    paste -sd ';' -)"
}

play_and_search idle

busy=()
for _ in $(seq "$(nproc)"); do
  (while :; do :; done) &
  busy+=($!)
  E2E_PIDS+=($!)
done
play_and_search busy
kill "${busy[@]}"

program_alive || fail "the program died"
grep -E '^tamborel\.audio' "$E2E_DIR/program.log" | sed 's/^/-- /' || true
