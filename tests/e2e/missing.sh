#!/usr/bin/env bash
# A kit folder that lacks one file: pressing that drum's keys shows the "Error" dialog, one per
# press, while a cymbal already ringing goes on; once it is answered every other key still plays.
# Arguments: the tamborel binary, the folder holding the demo kits.
source "$(dirname "$0")/session.sh"
binary=$1 kits=$2

start_display
start_sound
mkdir -p "$E2E_DIR/play/kits/acoustic"
cp "$kits/acoustic/"*.wav "$E2E_DIR/play/kits/acoustic/"
rm "$E2E_DIR/play/kits/acoustic/Ride.wav"
kit="$E2E_DIR/play/kits/acoustic"
start_program "$binary" "$E2E_DIR/play"
main_window=$WINDOW


# A crash rings while the ride's file turns out to be missing.
record_start "$E2E_DIR/during.raw"
press o
record_sound 0.1 || fail "the crash did not sound"
pressed=$EPOCHREALTIME
xdotool key l
wait_for 20 eval 'test -n "$(error_windows)"' || fail "no Error dialog for the missing ride"
took=$(seconds_since "$pressed")
shown_at=$(recorded_seconds)
screenshot "$E2E_DIR/dialog.png"
# A second dialog for the one press would come about as soon as the first.
sleep "$(negative_wait "$took")"
[ "$(error_windows | wc -l)" -eq 1 ] || fail "expected exactly one Error dialog"
# The crash goes on for a second while the dialog is open.
record_until "$(awk "BEGIN { print $shown_at + 1 }")"
record_stop
crash=("$AUDIOCHECK" follow "$E2E_DIR/during.raw" 48000 "$kit/Crash.wav")
from=$(awk -v onset="$("${crash[@]}" 0 0.1 | awk 'NR == 1 { print $2 }')" \
  "BEGIN { print $shown_at - onset }")
to=$(awk "BEGIN { print $from + 1 }")
during=$("${crash[@]}" "$from" "$to")
note "the dialog came $took s after the press; the crash in the second after: $(sed -n 1p <<<"$during")"
# Drop-outs are judged from the crash's press on.
crash[2]=$E2E_DIR/during.raw.twin
still_plays "$during" 0.9 "the crash while the dialog was open" "$("${crash[@]}" "$from" "$to")" ||
  fail "the ringing crash stopped when the dialog came"

# OK closes it; nothing else happens for the missing file.
answer_error Return OK

# The second ride key asks again; Escape (Cancel) answers this time.
focus_window "$main_window"
xdotool key m
wait_for 20 eval 'test -n "$(error_windows)"' || fail "no Error dialog for the second ride key"
answer_error Escape Cancel

# Every other drum still plays, once the crash has rung out.
focus_window "$main_window"
wait_until_quiet
for entry in q:Bass e:Snare k:RideCup; do
  expect_drum "${entry%%:*}" "$kit" "${entry#*:}" "${entry%%:*} after the dialogs"
done
program_alive || fail "the program died"
