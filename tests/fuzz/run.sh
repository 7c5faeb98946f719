#!/usr/bin/env bash
# Fuzzes the sample path for a bounded time: tests/fuzz/run.sh SECONDS [BUILD-FOLDER]
#
# Configures the build folder with clang when it is not configured yet (default build-fuzz at the
# top of the repo), builds the target and the seed writer only, writes the seeds when they are
# missing or older than the writer, then runs libFuzzer on the corpus kept in the build folder.
# Prints executions, coverage and corpus size; exits non-zero when the fuzzer found a crash, a
# leak, a hang or a broken invariant (the input is saved under BUILD-FOLDER/tests/fuzz/findings;
# once the fault is fixed, keep it in tests/fuzz/findings, where CTest replays it).
set -euo pipefail

usage() {
    echo "usage: $0 SECONDS [BUILD-FOLDER]" >&2
    exit 2
}
[[ $# -ge 1 && $# -le 2 ]] || usage
seconds=$1
[[ $seconds =~ ^[0-9]+$ && $seconds -gt 0 ]] || usage

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${2:-$root/build-fuzz}
mkdir -p "$build"
build=$(cd "$build" && pwd)

if [[ ! -f $build/CMakeCache.txt ]]; then
    generator=()
    command -v ninja > /dev/null && generator=(-G Ninja)
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMBOREL_FUZZ=ON -DTAMBOREL_TESTS=ON
elif ! grep -q '^TAMBOREL_FUZZ:BOOL=ON' "$build/CMakeCache.txt"; then
    echo "$build is not configured with -DTAMBOREL_FUZZ=ON (and clang)" >&2
    exit 2
fi
cmake --build "$build" --parallel 2 --target tamborel_fuzz_sample_path tamborel_fuzz_seeds

here=$build/tests/fuzz
fuzzer=$here/tamborel_fuzz_sample_path
seeds=$here/seeds
corpus=$here/corpus
findings=$here/findings
mkdir -p "$corpus" "$findings"
if [[ ! -d $seeds || $here/tamborel_fuzz_seeds -nt $seeds ]]; then
    rm -rf "$seeds"
    "$here/tamborel_fuzz_seeds" "$seeds"
fi

# The run starts from the seeds and the findings kept in the source tree (tests/fuzz/findings);
# new units go to the first folder, the build's own corpus.
inputs=("$corpus" "$seeds" "$root/tests/fuzz/findings")

# The target runs a second thread, so timeouts and leaks are libFuzzer's own checks;
# no input of this path should take more than a few seconds even under the sanitizers.
log=$here/last-run.log
# Crashes, leaks, timeouts and running out of memory fail the run; inputs libFuzzer saves as
# merely slow (over 10 s, which a busy machine or a clock step can cause) are only counted.
failures() {
    find "$findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' \) | wc -l
}
slow() { find "$findings" -type f -name 'slow-unit-*' | wc -l; }
before=$(failures)
slow_before=$(slow)
set +e
"$fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 -max_len=65536 \
    -dict="$root/tests/fuzz/wav.dict" -artifact_prefix="$findings/" -print_final_stats=1 \
    "${inputs[@]}" > "$log" 2>&1
status=$?
set -e
after=$(failures)
slow_after=$(slow)

# The last status line carries coverage and corpus; the final stats carry the totals.
last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
final() { sed -n "s/^stat::$1: *//p" "$log" | tail -n 1; }
echo "fuzz run: $seconds s asked, status $status"
echo "  executions:   $(final number_of_executed_units) ($(final average_exec_per_sec)/s)"
echo "  coverage:     $(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<< "$last") edges," \
    "ft: $(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<< "$last")"
echo "  corpus:       $(sed -n 's/.* corp: \([^ ]*\).*/\1/p' <<< "$last") units/size," \
    "$(find "$corpus" -type f | wc -l) files kept in $corpus"
echo "  new units:    $(final new_units_added), slowest input $(final slowest_unit_time_sec) s," \
    "peak RSS $(final peak_rss_mb) MB"
echo "  findings:     $((after - before)) new in $findings" \
    "($((slow_after - slow_before)) slow inputs saved, not failures)"
if [[ $status -ne 0 || $after -ne $before ]]; then
    echo "fuzz run FAILED (once it is fixed, keep the input in tests/fuzz/findings/);" \
        "the end of $log:" >&2
    tail -n 60 "$log" >&2
    exit 1
fi
