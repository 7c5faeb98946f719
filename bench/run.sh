#!/bin/bash
# Prints every benchmark's figures: tamborel-bench and tamborel-keybench on SDL's dummy driver,
# then, on a PulseAudio server and on a PipeWire server started here, each with a null sink,
# the key benchmark again and tamborel-heardbench, which times a key's sound at the server
# against a minimal client of the same server in one recording.
# Usage: bench/run.sh [build folder]   (default: build)
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-$here/build}"
bench="$build/bench/tamborel-bench"
[ -x "$bench" ] || { echo "no $bench: build the benchmarks first" >&2; exit 1; }

echo "### SDL_AUDIODRIVER=dummy"
SDL_AUDIODRIVER=dummy "$bench"
echo
SDL_AUDIODRIVER=dummy "$build/bench/tamborel-keybench" "$build"

# The end-to-end tests' servers, stopped when this script ends.
source "$here/tests/e2e/session.sh"
set +e
start_session_bus
for server in pulseaudio pipewire; do
  echo
  echo "### $server, null sink at 48 kHz"
  E2E_SERVER=$server start_sound
  # The server itself, the one that runs the graph or the sink: what it costs at idle.
  export BENCH_SERVER_PID=${SOUND_PIDS[0]}
  "$build/bench/tamborel-keybench" "$build" || echo "keybench ended with $?"
  echo
  if [ "$server" = pipewire ]; then
    for quantum in 128 256; do
      echo
      echo "### pipewire, the first 30 presses, the reference asking for $quantum frames"
      "$build/bench/tamborel-heardbench" 30 cap.monitor $quantum
    done
    echo
    echo "### pipewire, the program alone, then 30 s of sound and a minute of silence"
    "$build/bench/tamborel-heardbench" 30 cap.monitor 0 linger
    echo
    echo "### pipewire, keys and MIDI notes in turn, then notes a second"
    "$build/bench/tamborel-heardbench" 40 cap.monitor 0 midi
  else
    "$build/bench/tamborel-heardbench" 30 cap.monitor 0 linger
  fi
  stop_sound
done
