#!/usr/bin/env bash
# Caps Lock changes nothing: with it on, a key of every drum still plays that drum; turned off
# again, the keys play as before.
# Arguments: the tamborel binary, the folder holding the demo kits.
source "$(dirname "$0")/session.sh"
binary=$1 kits=$2
kit="$kits/acoustic"

start_playing "$binary" "$kits"

caps_lock_on() { xset q | grep -q 'Caps Lock: *on'; }
caps_lock_off() { xset q | grep -q 'Caps Lock: *off'; }
caps_lock_off || fail "Caps Lock is on before the test turns it on"

xdotool key Caps_Lock
wait_for 5 caps_lock_on || fail "Caps Lock did not go on"
for entry in q:Bass r:Snare t:Tom1 h:Tom2 n:FloorTom x:HiHat i:OHiHat m:Ride k:RideCup u:Crash \
  z:China comma:Splash; do
  expect_drum "${entry%%:*}" "$kit" "${entry#*:}" "${entry%%:*} with Caps Lock on"
done

xdotool key Caps_Lock
wait_for 5 caps_lock_off || fail "Caps Lock did not go off"
for entry in w:Bass e:Snare a:Splash; do
  expect_drum "${entry%%:*}" "$kit" "${entry#*:}" "${entry%%:*} with Caps Lock off again"
done
program_alive || fail "the program died"
