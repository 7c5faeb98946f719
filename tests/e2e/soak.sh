#!/usr/bin/env bash
# Ten thousand presses over the 24 default keys, about a hundred a second, on the sound server
# E2E_SERVER names: every press is heard, unless an underrun the program logged after a stop of
# the machine took its cycle, and afterwards the program's threads and open files
# are back to what they were and its memory has stopped growing. Every drum of the kit is the
# same 2 ms flat pulse, whose hits add up exactly however they overlap: the total area of the
# recording's two channels (a mono mix would round every overlap its own way), against that
# of one hit, counts the presses heard.
# Arguments: the tamborel binary.
source "$(dirname "$0")/session.sh"
binary=$1
presses=10000
round=(q w e r t y g h b n p x i c l m k j o u period z comma a)

mkdir -p "$E2E_DIR/soak/kits/acoustic"
for s in "${SAMPLES[@]}"; do
  "$DROPCHECK" pulse "$E2E_DIR/soak/kits/acoustic/$s.wav" 2 48000 || fail "cannot write $s.wav"
done
start_display
start_sound
start_program "$binary" "$E2E_DIR/soak"
pid=$PROGRAM_PID

threads() { ls "/proc/$pid/task" | wc -l; }
descriptors() { ls "/proc/$pid/fd" | wc -l; }
resident_kib() { awk '$1 == "VmRSS:" { print $2 }' "/proc/$pid/status"; }

# press_rounds N [KEY...]: N rounds of the 24 keys, then the keys given, about a hundred a second.
press_rounds() {
  local n=$1 keys=() i
  shift
  for ((i = 0; i < n; i++)); do keys+=("${round[@]}"); done
  xdotool key --delay 10 "${keys[@]}" "$@"
}

# The made-once things (the warm players, the tables that grow to a peak) before the count.
press_rounds 10
sleep 5
threads_before=$(threads) files_before=$(descriptors) kib_before=$(resident_kib)
note "before: $threads_before threads, $files_before open files, VmRSS $kib_before KiB"

record_start "$E2E_DIR/soak.raw" 200 2
started=$EPOCHREALTIME from=$(monotonic_now)
rounds=$((presses / ${#round[@]}))
rest=("${round[@]:0:$((presses % ${#round[@]}))}")
press_rounds $((rounds / 2))
kib_half=$(resident_kib)
press_rounds $((rounds - rounds / 2)) "${rest[@]}"
took=$(seconds_since "$started")
sleep 1
record_stop

# Every drum plays the pulse file as it is, unpanned and at full level: one hit leaves the
# file's area in the recording's two channels.
counted=$("$AUDIOCHECK" hits "$E2E_DIR/soak.raw" "$SINK_RATE" \
  "$E2E_DIR/soak/kits/acoustic/Bass.wav") || fail "cannot count the hits"
heard=$(awk '$1 == "hits" { print $2 }' <<<"$counted")
missing=$((presses - heard))
note "$presses presses in $took s: $heard heard ($counted)"
# A hit is lost only with a cycle the machine took from the program.
verdict=$("$DROPCHECK" lost "$missing" "$(awk "BEGIN { print $presses / $took }")" "$from" \
  "$RECORDED_UNTIL" "$PAUSES" "$E2E_DIR/program.log") ||
  fail "$(sed -n 's/^fail: //p' <<<"$verdict" | paste -sd ';' -): $(grep -v '^fail' <<<"$verdict" | paste -sd ';' -)"
sed 's/^/-- /' <<<"$verdict"

settled() { [ "$(threads)" -eq "$threads_before" ] && [ "$(descriptors)" -eq "$files_before" ]; }
wait_for 15 settled ||
  fail "threads $(threads) (were $threads_before), open files $(descriptors) (were $files_before)"
kib_after=$(resident_kib)
note "after: $(threads) threads, $(descriptors) open files, VmRSS $kib_before KiB before, $kib_half KiB half-way, $kib_after KiB after"
# The allocator keeps some of what was freed, but stops growing long before half-way; a hit
# that left even a few hundred bytes behind would still grow the second half by a couple of
# megabytes. AddressSanitizer's allocator keeps a quarantine of freed blocks and its own
# tables, whose resident size says nothing of a leak: there tamborel-soak weighs the heap.
if grep -q libasan "/proc/$pid/maps"; then
  note "under AddressSanitizer: the resident memory is told, not judged"
else
  [ "$kib_after" -le $((kib_half + 2048)) ] ||
    fail "the memory grew by $((kib_after - kib_half)) KiB over the second half of the presses"
fi
program_alive || fail "the program died"
