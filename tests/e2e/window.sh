#!/usr/bin/env bash
# The real program under X: its window appears centred, with the picture filling a content
# area of exactly 601 x 441 under the menu bar, and the close box ends it with status 0.
# Arguments: the tamborel binary, the folder of the drawn pictures.
source "$(dirname "$0")/session.sh"
binary=$1 pictures=$2

start_display
SDL_AUDIODRIVER=dummy start_program "$binary" "$E2E_DIR"
window_geometry "$WINDOW"
note "window at $WX,$WY size ${WW}x$WH"
[ "$WW" -eq 601 ] || fail "window is $WW wide, not 601"
menu=$((WH - 441))
[ "$menu" -ge 15 ] && [ "$menu" -le 40 ] || fail "menu bar of $menu pixels: content area is not 441 high"

# The bottom-right corner of the content area carries no label: it must be the picture itself.
screenshot "$E2E_DIR/shot.png"
convert "$E2E_DIR/shot.png" -crop "60x50+$((WX + 540))+$((WY + menu + 390))" +repage "$E2E_DIR/shown.png"
convert "$pictures/ZRX.jpg" -crop "60x50+540+390" +repage "$E2E_DIR/drawn.png"
difference=$( (compare -metric RMSE "$E2E_DIR/shown.png" "$E2E_DIR/drawn.png" null: 2>&1 || true) | sed 's/.*(\(.*\))/\1/')
note "picture difference $difference"
awk "BEGIN { exit !($difference < 0.03) }" || fail "the picture is not where the content area should be"

# The close box, as the window manager delivers it: a request to close the window.
focus_window "$WINDOW"
xdotool key alt+F4
wait_for 10 bash -c "! kill -0 $PROGRAM_PID" || fail "the program did not end on the close box"
status=0
wait "$PROGRAM_PID" || status=$?
[ "$status" -eq 0 ] || fail "the program ended with status $status"
note "closed with status 0"
