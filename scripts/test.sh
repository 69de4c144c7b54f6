#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite:
#   1. the normal build (Release) with every test, window tests on the offscreen platform;
#   2. the core and command-line tests again, built with AddressSanitizer and
#      UndefinedBehaviorSanitizer;
#   3. each libFuzzer target for FUZZ_SECONDS (default 60).
# PS_QUICK=1 runs step 1 only.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
(cd build && ctest --output-on-failure -j "$(nproc)")
if [ "${PS_QUICK:-0}" = "1" ]; then exit 0; fi

echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPS_SANITIZE=ON \
  -DPS_BUILD_APP=OFF -DPS_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$(nproc)"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$(nproc)")

echo "== fuzzing"
bash tests/fuzz/run.sh
