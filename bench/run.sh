#!/bin/bash
# Runs tamborel-bench and tamborel-keybench on SDL's dummy driver, then the latency parts again
# on a PulseAudio null sink started here (and stopped again by its own process id).
# Usage: bench/run.sh [build folder]   (default: build)
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-$here/build}"
bench="$build/bench/tamborel-bench"
keybench="$build/bench/tamborel-keybench"
[ -x "$bench" ] || { echo "no $bench: build the tamborel-bench target first" >&2; exit 1; }

echo "### SDL_AUDIODRIVER=dummy"
SDL_AUDIODRIVER=dummy "$bench"
echo
SDL_AUDIODRIVER=dummy "$keybench" "$build"

if ! command -v pulseaudio > /dev/null; then
  echo "### no pulseaudio: null-sink run skipped"
  exit 0
fi
dir=$(mktemp -d)
export XDG_RUNTIME_DIR="$dir"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
  --load="module-native-protocol-unix socket=$dir/native" \
  --load="module-null-sink sink_name=cap rate=48000" > "$dir/pulse.log" 2>&1 &
pulse=$!
for _ in $(seq 50); do [ -S "$dir/native" ] && break; sleep 0.1; done
echo
echo "### SDL_AUDIODRIVER=pulseaudio on a null sink"
if [ -S "$dir/native" ]; then
  PULSE_SERVER="unix:$dir/native" SDL_AUDIODRIVER=pulseaudio "$bench" --latency-only
  echo
  PULSE_SERVER="unix:$dir/native" SDL_AUDIODRIVER=pulseaudio "$keybench" "$build"
else
  echo "pulseaudio did not start:"; cat "$dir/pulse.log"
fi
kill "$pulse" 2> /dev/null
wait "$pulse" 2> /dev/null
rm -rf "$dir"
