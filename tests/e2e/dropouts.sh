#!/usr/bin/env bash
# The program never drops out, as a user starts it, on the sound server E2E_SERVER names: a kit
# of 1.2 s noise samples pressed every 0.8 s, so that sound never stops, is recorded and searched
# for holes of digital silence, first on an otherwise idle machine, then with every core kept
# busy by other programs at normal priority. Any hole fails.
# Arguments: the tamborel binary, the dropcheck tool.
source "$(dirname "$0")/session.sh"
binary=$1 dropcheck=$2
presses=25

mkdir -p "$E2E_DIR/noise/kits/acoustic"
for s in "${SAMPLES[@]}"; do
  "$dropcheck" noise "$E2E_DIR/noise/kits/acoustic/$s.wav" 1.2 44100 || fail "cannot write $s.wav"
done
start_display
start_sound
start_program "$binary" "$E2E_DIR/noise"

# play_and_search NAME: the presses, recorded, then the search.
play_and_search() {
  record_start "$E2E_DIR/$1.raw"
  local i
  for i in $(seq $presses); do
    xdotool key q e
    sleep 0.8
  done
  # The last hit rings out, then the recording ends in silence.
  sleep 1.6
  record_stop
  local found
  # Every press but the first overlaps the one before: the sound lasts as long as the presses.
  found=$("$dropcheck" holes "$E2E_DIR/$1.raw" 48000 0.5 "$(awk "BEGIN { print $presses * 0.8 }")") &&
    HOLES=0 || HOLES=1
  note "$1: $(tail -n 1 <<<"$found")"
  [ "$HOLES" -eq 0 ] || { echo "$found"; fail "the sound dropped out ($1)"; }
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
