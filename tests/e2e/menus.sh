#!/usr/bin/env bash
# The menu commands in the real program: About shows its box, Exit asks and keeps playing on
# "No way! I wanna rock!" and ends with status 0 on the focused "Sorry, gotta run!", Always on
# Top sets and clears the window's above state, and Configure Drums swaps the main window for
# the configuration window.
# Arguments: the tamborel binary, the folder holding the demo kits.
source "$(dirname "$0")/session.sh"
binary=$1 kits=$2

start_playing "$binary" "$kits"
main_window=$WINDOW
dialog_count() { windows_named Tamborel | grep -vc "^$main_window\$" || true; }

# About: a box of its own over the window; OK closes it.
open_main_item 1
wait_for 5 eval 'test "$(dialog_count)" -eq 1' || fail "About showed no box"
screenshot "$E2E_DIR/about.png"
xdotool key Return
wait_for 5 eval 'test "$(dialog_count)" -eq 0' || fail "About's box did not close"
note "About opened and closed"

# Exit, answered with the second button: still running and still playing.
open_main_item 2
wait_for 5 eval 'test "$(dialog_count)" -eq 1' || fail "Exit asked nothing"
screenshot "$E2E_DIR/exit.png"
xdotool key Tab Return
wait_for 5 eval 'test "$(dialog_count)" -eq 0' || fail "Exit's question did not close"
# A program that ended on the answer would be gone long before the whole kick is recorded.
expect_drum q "$kits/acoustic" Bass "the bass drum after declining Exit"
program_alive || fail "No way! I wanna rock! ended the program"

# Always on Top, twice: the window manager sees the window above the others, then not. Qt
# makes a new native window for the changed flag, so the window is looked up again each time.
above() { xprop -id "$(find_main_window)" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE; }
not_above() { ! above; }
window_geometry "$main_window"; before="$WX,$WY"
open_options_item 1
wait_for 5 above || fail "Always on Top did not put the window above"
WINDOW=$(find_main_window)
window_geometry "$WINDOW"; [ "$WX,$WY" = "$before" ] || fail "the window moved from $before to $WX,$WY"
[ "$(xdotool getwindowfocus)" = "$WINDOW" ] || fail "the window lost the keyboard focus"
open_options_item 1
wait_for 5 not_above || fail "Always on Top twice left the window above"
WINDOW=$(find_main_window)
main_window=$WINDOW
window_geometry "$WINDOW"; [ "$WX,$WY" = "$before" ] || fail "the window moved from $before to $WX,$WY"
expect_drum e "$kits/acoustic" Snare "the snare after Always on Top"
note "Always on Top set and cleared in place"

# Configure Drums: the main window goes, the frameless 487 x 302 configuration window comes.
open_options_item 2
wait_for 5 find_window_sized Tamborel 487 302 || fail "no configuration window"
[ -z "$(xdotool search --onlyvisible --name '^Tamborel$' | grep "^$main_window\$")" ] \
  || fail "the main window is still shown"
screenshot "$E2E_DIR/configure.png"
note "Configure Drums shows only the configuration window"

# Save and Close brings a new main window; Exit there with the focused first button ends the
# program with status 0.
window_geometry "$(find_window_sized Tamborel 487 302)"
save_and_close "$WX" "$WY"
main_window=$WINDOW
open_main_item 2
wait_for 5 eval 'test "$(dialog_count)" -eq 1' || fail "Exit asked nothing"
xdotool key Return
wait_for 10 bash -c "! kill -0 $PROGRAM_PID" || fail "Sorry, gotta run! did not end the program"
status=0
wait "$PROGRAM_PID" || status=$?
[ "$status" -eq 0 ] || fail "Exit ended the program with status $status"
note "Exit confirmed: status 0"
