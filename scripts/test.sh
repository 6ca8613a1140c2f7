#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds everything and runs every test:
#  1. the normal build, all tests, the graphical ones under Xvfb;
#  2. the non-graphical tests again under AddressSanitizer and
#     UndefinedBehaviorSanitizer;
#  3. the non-graphical tests again under ThreadSanitizer (benchmarks left
#     out: they only print figures);
#  4. each fuzz target for a bounded time under the sanitizers.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${LUMIVEX_OUT:-$root/out}"
fuzz_seconds="${LUMIVEX_FUZZ_SECONDS:-60}"
jobs="$(nproc)"

bash "$root/scripts/setup.sh"
source "$root/scripts/xvfb.sh"

passed=0
failed=0
# Runs ctest and adds its counts to the totals; never stops the script, so
# that every stage reports.
run_ctest() {
  local dir="$1"; shift
  local log="$dir/ctest.log"
  set +e
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log"
  set -e
  local line total bad
  line="$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)"
  if [ -z "$line" ]; then
    echo "test: ctest in $dir reported no result" >&2
    failed=$((failed + 1))
    return
  fi
  bad="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")"
  total="$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")"
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

echo "== normal build"
cmake -S "$root" -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out/build" -j "$jobs"
start_xvfb
# The long zapping soak is a benchmark of several minutes that prints
# figures; its short form runs here as a test.
run_ctest "$out/build" -E '^zapping_soak_bench$'

echo "== sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake -S "$root" -B "$out/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMIVEX_SANITIZE=ON -DLUMIVEX_GUI=OFF >/dev/null
cmake --build "$out/asan" -j "$jobs"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  run_ctest "$out/asan"

echo "== thread sanitizer build (ThreadSanitizer)"
cmake -S "$root" -B "$out/tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMIVEX_TSAN=ON -DLUMIVEX_GUI=OFF >/dev/null
cmake --build "$out/tsan" -j "$jobs"
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp" run_ctest "$out/tsan" -LE bench

echo "== fuzzing (${fuzz_seconds}s a target)"
CC=clang CXX=clang++ cmake -S "$root" -B "$out/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMIVEX_FUZZ=ON -DLUMIVEX_GUI=OFF -DLUMIVEX_TESTS=OFF >/dev/null
cmake --build "$out/fuzz" -j "$jobs"
for target in $(sed -n 's/^set(LUMIVEX_FUZZ_TARGETS \(.*\))$/\1/p' "$root/fuzz/Targets.cmake"); do
  work="$out/fuzz/work-$target"
  rm -rf "$work" && mkdir -p "$work"
  # New inputs go to a scratch folder; a crashing input is written into the
  # corpus folder, where it stays as a regression case once committed.
  if "$out/fuzz/bin/fuzz_$target" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$root/fuzz/corpus/$target/crash-" \
      "$work" "$root/fuzz/corpus/$target" >"$work.log" 2>&1; then
    echo "fuzz_$target: clean ($(grep -m1 -E 'stat::number_of_executed_units' "$work.log" | awk '{print $2}') runs)"
    passed=$((passed + 1))
  else
    tail -40 "$work.log"
    echo "fuzz_$target: FAILED; the input is kept under fuzz/corpus/$target/"
    failed=$((failed + 1))
  fi
done

echo "lumivex: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
