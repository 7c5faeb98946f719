#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ and
# runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAMBOREL_ASAN=ON >/dev/null
cmake --build build-asan --parallel
cd build-asan
ctest --output-on-failure --timeout 600
