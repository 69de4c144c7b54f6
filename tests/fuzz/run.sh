#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for FUZZ_SECONDS (default 60).
# The committed corpus under tests/fuzz/corpus/<target>/ seeds every run; new
# inputs go to a scratch folder. Exits non-zero on any crash, hang, leak or
# sanitizer report, leaving the input in build-fuzz/artifacts/.
#   bash tests/fuzz/run.sh                  # every target, 60 s each
#   FUZZ_SECONDS=1200 bash tests/fuzz/run.sh fuzz_bmp_header
set -euo pipefail
cd "$(dirname "$0")/../.."
SECONDS_EACH=${FUZZ_SECONDS:-60}
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DPS_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$(nproc)" >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_bmp_header fuzz_bmp_pixels fuzz_steps_file fuzz_weights_file)
fi
mkdir -p "$BUILD/artifacts"
status=0
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  work=$(mktemp -d)
  echo "== $t: ${SECONDS_EACH} s"
  if ! "$BUILD/tests/fuzz/$t" "$work" "tests/fuzz/corpus/$name" -max_total_time="$SECONDS_EACH" \
      -max_len=8192 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$BUILD/artifacts/$t-" >"$BUILD/artifacts/$t.log" 2>&1; then
    echo "$t FAILED: see $BUILD/artifacts/$t.log"
    grep -E "ERROR|SUMMARY|Test unit written" "$BUILD/artifacts/$t.log" | head -5 || true
    status=1
  else
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|cov:.*DONE|Done [0-9]+ runs" "$BUILD/artifacts/$t.log" | tail -3
  fi
  rm -rf "$work"
done
exit $status
