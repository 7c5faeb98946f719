#!/usr/bin/env bash
# The round trip through the configuration window with real clicks and keys: bind V to the
# snare and choose the "metal" kit, Save and Close, then V plays the metal snare and E, no
# longer bound, plays nothing.
# Arguments: the tamborel binary, the folder holding the demo kits.
source "$(dirname "$0")/session.sh"
binary=$1 kits=$2

start_playing "$binary" "$kits"

open_options_item 2
wait_for 5 find_window_sized Tamborel 487 302 || fail "no configuration window"
keys=$(find_window_sized Tamborel 487 302)
window_geometry "$keys"
KX=$WX KY=$WY

# The snare's first key: open its list, type V, take it.
open_popup $((KX + 92 + 25)) $((KY + 73 + 10))
choose_in_popup v Return
# The kit list: open it, type m for "metal", take it.
open_popup $((KX + 259 + 50)) $((KY + 221 + 11))
choose_in_popup m Return
screenshot "$E2E_DIR/configured.png"
save_and_close "$KX" "$KY"
screenshot "$E2E_DIR/after.png"

expect_drum v "$kits/metal" Snare "V after saving"
# The kit check keeps a drum of one kit from scoring 0.9 for the same drum of another.
identify "$RECORDING" "$kits/acoustic"
note "  against the acoustic kit the best is $HEARD with only $SCORE"
at_least 0.9 "$SCORE" || fail "V played the acoustic snare, not the metal one"

# E, no longer bound: had it played, its sound would have started within the onset limit, and
# the snare's opening would be in a recording that runs half a second past that.
record_start "$E2E_DIR/e.raw"
press e
record_past_press "$(awk "BEGIN { print $ONSET_LIMIT + 0.5 }")"
record_stop
level=$("$AUDIOCHECK" level "$E2E_DIR/e.raw" 48000)
note "E after saving: $level"
peak=$(awk '{print $2}' <<<"$level")
at_least 0.001 "$peak" || fail "E, no longer bound, still played something (peak $peak)"
program_alive || fail "the program died"
