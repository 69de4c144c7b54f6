#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite:
#   1. the normal build (Release) with every test, window tests on the offscreen platform;
#   2. the core and command-line tests again, built with AddressSanitizer and
#      UndefinedBehaviorSanitizer;
#   3. each libFuzzer target for FUZZ_SECONDS (default 60).
# PS_QUICK=1 runs step 1 only. The last line counts every test run in steps 1 and 2.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Runs ctest in a build folder, keeping its output for the final count.
run_ctest() {
  local dir=$1 log=$2
  shift 2
  local status=0
  (cd "$dir" && "$@" ctest --output-on-failure -j "$(nproc)") 2>&1 | tee "$log" || status=$?
  return $status
}

# "N passed, N failed" over the ctest logs given.
summary() {
  local total=0 failed=0 t f
  for log in "$@"; do
    read -r f t < <(sed -nE 's/.*tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/p' "$log" | tail -1) || true
    total=$((total + ${t:-0}))
    failed=$((failed + ${f:-0}))
  done
  echo "tests: $((total - failed)) passed, ${failed} failed"
}

status=0
run_ctest build "$logs/main.log" env || status=$?
if [ "${PS_QUICK:-0}" = "1" ] || [ $status -ne 0 ]; then
  summary "$logs/main.log"
  exit $status
fi

echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPS_SANITIZE=ON \
  -DPS_BUILD_APP=OFF -DPS_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$(nproc)"
run_ctest build-asan "$logs/asan.log" env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1 || status=$?

if [ $status -eq 0 ]; then
  echo "== fuzzing"
  bash tests/fuzz/run.sh || status=$?
fi
summary "$logs/main.log" "$logs/asan.log"
exit $status
