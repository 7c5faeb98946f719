#!/usr/bin/env bash
# Takes the README's screenshots of the real program under Xvfb: the main window and the
# configuration window, each with its window-manager frame where it has one.
# Usage: tools/screenshots.sh BUILD-FOLDER OUTPUT-FOLDER
set -euo pipefail
build=$(cd "$1" && pwd) out=$(mkdir -p "$2" && cd "$2" && pwd)
source "$(dirname "$0")/../tests/e2e/session.sh"

start_display
export SDL_AUDIODRIVER=dummy
start_program "$build/tamborel" "$build"
sleep 1
import -window root "$E2E_DIR/root.png"
window_geometry "$WINDOW"
# Openbox's frame: one pixel each side and a title bar above.
convert "$E2E_DIR/root.png" -crop "$((WW + 2))x$((WH + 21))+$((WX - 1))+$((WY - 20))" +repage "$out/main-window.png"

open_options_item 2
wait_for 5 find_window_sized Tamborel 487 302
window_geometry "$(find_window_sized Tamborel 487 302)"
import -window root "$E2E_DIR/root.png"
convert "$E2E_DIR/root.png" -crop "${WW}x${WH}+$WX+$WY" +repage "$out/configure-drums.png"
echo "screenshots written to $out"
