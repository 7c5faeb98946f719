#!/usr/bin/env bash
# Builds and runs every test: the audio service, the player and the output back-ends (on sound
# servers of their own) under ThreadSanitizer (build-tsan/), a short fuzzing run of the sample path (build-fuzz/, clang), then the whole
# suite under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), ending with CTest's
# summary. Exits non-zero when any part fails, and when a part finds no tests to run: every
# build is configured with its tests on, whatever an earlier configuration left in its cache.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test || exit 1
failed=()

echo "== ThreadSanitizer: the audio service, the player and the output back-ends"
if cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMBOREL_TSAN=ON \
  -DTAMBOREL_TESTS=ON -DTAMBOREL_BENCH=OFF >/dev/null &&
  cmake --build build-tsan --parallel --target tests_audio tests_output &&
  ctest --test-dir build-tsan -L 'audio|output' --no-tests=error --output-on-failure --timeout 600; then
  :
else
  failed+=("ThreadSanitizer")
fi

echo "== Fuzzing the sample path for a minute"
tests/fuzz/run.sh "${FUZZ_SECONDS:-60}" build-fuzz || failed+=("fuzzing")

echo "== The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAMBOREL_ASAN=ON -DTAMBOREL_TESTS=ON \
  >/dev/null || exit 1
cmake --build build-asan --parallel || exit 1
ctest --test-dir build-asan --no-tests=error --output-on-failure --timeout 600
status=$?
if [ ${#failed[@]} -gt 0 ]; then
  echo "Also failed: ${failed[*]} (see above)"
  exit 1
fi
exit $status
