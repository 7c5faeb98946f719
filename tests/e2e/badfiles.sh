#!/usr/bin/env bash
# Kit files that are not sound files a player can read: a named pipe, a folder, a file no one
# may read, a link to itself, and a file cut short while it plays. None holds up the program:
# each press on them is reported, the drums pressed between them all play, and once the players
# have ended the program's threads and open files are back to what they were.
# Arguments: the tamborel binary, the folder holding the demo kits.
source "$(dirname "$0")/session.sh"
binary=$1 kits=$2

start_display
start_sound
kit="$E2E_DIR/play/kits/acoustic"
mkdir -p "$kit"
cp "$kits/acoustic/"*.wav "$kit/"
rm "$kit/Ride.wav" "$kit/China.wav" "$kit/Splash.wav" "$kit/RideCup.wav"
mkfifo "$kit/Ride.wav"
mkdir "$kit/China.wav"
cp "$kits/acoustic/Splash.wav" "$kit/Splash.wav"
chmod 000 "$kit/Splash.wav"
ln -s RideCup.wav "$kit/RideCup.wav"
# Root reads any file whatever its mode: the program runs without that power, as a user would.
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$E2E_DIR/bin"
  printf '#!/bin/sh\nexec setpriv --inh-caps=-all --bounding-set=-dac_override,-dac_read_search "%s"\n' \
    "$binary" >"$E2E_DIR/bin/tamborel"
  chmod +x "$E2E_DIR/bin/tamborel"
  binary="$E2E_DIR/bin/tamborel"
fi
start_program "$binary" "$E2E_DIR/play"
main_window=$WINDOW
pid=$PROGRAM_PID

threads() { ls "/proc/$pid/task" | wc -l; }
descriptors() { ls "/proc/$pid/fd" | wc -l; }
# What each open descriptor is, to tell which one was left.
open_files() { find "/proc/$pid/fd" -mindepth 1 -printf '%l\n' | sort; }

# link_to_itself WHAT: the link to itself is a file that cannot be found: the "Error" dialog
# says so, and OK closes it.
link_to_itself() {
  focus_window "$main_window"
  xdotool key k
  wait_for 20 eval 'test -n "$(error_windows)"' || fail "$1: no Error dialog for the link to itself"
  answer_error Return OK
  focus_window "$main_window"
  note "$1: key k, the Error dialog came for the link to itself"
}

# The output is opened, the warm players made and the dialog shown once (the toolkit keeps
# what it read for it) before the count starts.
expect_drum q "$kit" Bass "warm-up"
link_to_itself "warm-up"
sleep 4
threads_before=$(threads) files_before=$(descriptors)
open_files >"$E2E_DIR/files-before"
note "before: $threads_before threads, $files_before open files"

# The named pipe, the folder and the unreadable file are each reported, with a good drum
# pressed after each.
reports=0
for entry in l:"Operation not supported" period:"Is a directory" comma:"Permission denied"; do
  key=${entry%%:*} reason=${entry#*:}
  xdotool key "$key"
  reports=$((reports + 1))
  wait_for 10 log_reaches "$reports" '^audio\.IOException' ||
    fail "key $key: no report of $reason"
  grep '^audio\.IOException' "$E2E_DIR/program.log" | tail -n 1 | grep -q "$reason" ||
    fail "key $key: not reported as $reason"
  note "key $key: reported, $reason"
  expect_drum e "$kit" Snare "a snare after key $key"
done

link_to_itself "again"
expect_drum p "$kit" HiHat "a hi-hat after the link"

# The crash's file is cut to a tenth while it rings: its sound ends early, and the next drum
# plays.
record_start "$E2E_DIR/cut.raw"
press o
record_sound 0.3 || fail "the crash did not sound"
truncate -s "$(($(stat -c %s "$kit/Crash.wav") / 10))" "$kit/Crash.wav"
# What the player had read ahead before the cut still sounds; the 3.8 s crash must end well
# before its length all the same.
record_past_press 3
record_stop
"$AUDIOCHECK" quiet "$RECORDING" "$SINK_RATE" 1 || fail "the crash rang on past the end of its cut file"
note "the crash cut short while it rang: silent from 2 s after its press"
expect_drum t "$kit" Tom1 "a tom after the crash was cut short"

# The extra players end after their idle lifetime.
settled() { [ "$(threads)" -eq "$threads_before" ] && [ "$(descriptors)" -eq "$files_before" ]; }
wait_for 15 settled || fail "threads $(threads) (were $threads_before), open files $(descriptors) \
(were $files_before): $(open_files | diff "$E2E_DIR/files-before" - | grep '^[<>]' | paste -sd ' ')"
note "after: $(threads) threads, $(descriptors) open files"
program_alive || fail "the program died"
! grep -q "Exception in thread" "$E2E_DIR/program.log" || fail "a player died: $(cat "$E2E_DIR/program.log")"
