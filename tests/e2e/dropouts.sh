#!/usr/bin/env bash
# The program never drops out, as a user starts it, on the sound server E2E_SERVER names: a kit
# of 1.2 s noise samples pressed every 0.8 s, so that sound never stops, is recorded and searched
# for holes of digital silence, first on an otherwise idle machine, then with every core kept
# busy by other programs at normal priority.
#
# Any hole fails, unless the machine itself stopped: a minimal real-time thread on each
# processor runs beside the program and notes each time it woke PAUSE_MS or more late, the stall
# the program's first buffer leaves room for (PipeWire: a quantum of 1024 frames, 21 ms;
# PulseAudio: about half its 43 ms target, the rest being the server's own). No buffer that size
# survives such a pause, so a phase may lose as much sound as the machine paused, and one
# largest buffer of the program's (2048 frames, 43 ms) more for each pause, and no more; pauses
# that overlap count as one. On the virtual machines here an idle machine seldom paused that
# long; with both cores busy each processor stopped for 100 ms now and then, up to once a
# second, the other one running on. Every underflow the sound server logged then fell at the
# end of a stop of one of them, and a thread that may run anywhere saw only its own
# processor's stops.
# Arguments: the tamborel binary, the dropcheck tool.
source "$(dirname "$0")/session.sh"
binary=$1 dropcheck=$2
presses=25
PAUSE_MS=21

mkdir -p "$E2E_DIR/noise/kits/acoustic"
for s in "${SAMPLES[@]}"; do
  "$dropcheck" noise "$E2E_DIR/noise/kits/acoustic/$s.wav" 1.2 44100 || fail "cannot write $s.wav"
done
start_display
start_sound
start_program "$binary" "$E2E_DIR/noise"

# play_and_search NAME: the presses, recorded with the machine's pauses beside them, then the
# search. The recorder asks for a long latency so that it leaves the graph's pace to the program.
play_and_search() {
  local probe_log="$E2E_DIR/$1.pauses"
  "$dropcheck" pauses 3600 "$PAUSE_MS" >"$probe_log" &
  local probe=$!
  E2E_PIDS+=($probe)
  record_start "$E2E_DIR/$1.raw" 200
  local i
  for i in $(seq $presses); do
    xdotool key q e
    sleep 0.8
  done
  # The last hit rings out, then the recording ends in silence.
  sleep 1.6
  record_stop
  kill "$probe" 2>/dev/null || true
  wait "$probe" 2>/dev/null || true
  local found silence pauses allowed
  # Every press but the first overlaps the one before: the sound lasts as long as the presses.
  found=$("$dropcheck" holes "$E2E_DIR/$1.raw" 48000 0.5 "$(awk "BEGIN { print $presses * 0.8 }")") ||
    true
  silence=$(sed -n 's/.*, silence \([0-9.]*\) ms$/\1/p' <<<"$found" | tail -n 1)
  pauses=$(grep -c '^pause at' "$probe_log" || true)
  # Merged by time: the whole machine stopping shows on every processor at once.
  allowed=$(sort -k3,3n "$probe_log" | awk '
    !/^pause at/ { next }
    { from = $3 * 1000; to = from + $5 }
    n && from <= end { if (to > end) { a += to - end; end = to } next }
    { a += $5 + 43; end = to; n = 1 }
    END { printf "%.1f", a }')
  note "$1: $(tail -n 1 <<<"$found"); the processors paused $pauses times for $PAUSE_MS ms or more, which excuses $allowed ms of silence ($(sed -n 1p "$probe_log"))"
  grep -q '^too little sound' <<<"$found" && { echo "$found"; fail "too little sound ($1)"; }
  [ -n "$silence" ] || { echo "$found"; fail "no verdict on the recording ($1)"; }
  if ! at_least "$allowed" "$silence"; then
    echo "$found"
    cat "$probe_log"
    fail "the sound dropped out ($1): $silence ms of silence, $allowed ms excused by the machine's pauses"
  fi
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
