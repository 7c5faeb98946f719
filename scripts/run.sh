#!/usr/bin/env bash
# Builds Tamborel into build/ and starts it there, where the demo kits are made.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMBOREL_TESTS=OFF -DTAMBOREL_BENCH=OFF >/dev/null
cmake --build build --parallel
cd build
exec ./tamborel "$@"
