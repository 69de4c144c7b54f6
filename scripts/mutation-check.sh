#!/usr/bin/env bash
# Measures how many hand-made faults the test suite catches.
#
# Each fault of tests/mutations/faults.txt changes one line of the sources. The
# faults are applied one at a time to a scratch copy of the tracked files (the
# working tree is never touched), the test programs the fault names are rebuilt
# and run, and the line is put back. A fault is "killed" when one of those
# programs fails (or exceeds the time limit), "survived" when all pass, and
# "invalid" when its pattern does not occur exactly once or the changed tree
# does not build (a fault the compiler catches measures nothing).
#
#   bash scripts/mutation-check.sh            every fault
#   bash scripts/mutation-check.sh 7          fault 7
#   bash scripts/mutation-check.sh 10-20 33   faults 10 to 20, and 33
#
# Options: --list FILE (default tests/mutations/faults.txt), --scratch DIR
# (default /tmp/polarsphere-mutations; kept between runs, so a second run
# rebuilds only what changed), --timeout SECONDS per test program (default 300),
# --jobs N build jobs (default 1), --no-baseline (skip checking that the named
# programs pass on the unchanged tree first).
# A developer tool: slow, and not part of scripts/test.sh or CI.
set -uo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
list=$repo/tests/mutations/faults.txt
scratch=/tmp/polarsphere-mutations
per_test_timeout=300
jobs=1
baseline=1
selection=()
while [ $# -gt 0 ]; do
  case $1 in
    --list) list=$(realpath "$2"); shift 2 ;;
    --scratch) scratch=$2; shift 2 ;;
    --timeout) per_test_timeout=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --no-baseline) baseline=0; shift ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    [0-9]*) selection+=("$1"); shift ;;
    *) echo "mutation-check: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -f "$list" ] || { echo "mutation-check: no fault list $list" >&2; exit 2; }

src=$scratch/src
build=$scratch/build
logs=$scratch/logs
mkdir -p "$src" "$build" "$logs"

# The faults: "file<TAB>pattern<TAB>replacement<TAB>programs", numbered from 1
# in file order; blank lines and lines starting with # are not faults.
files=() patterns=() replacements=() programs=()
while IFS= read -r line || [ -n "$line" ]; do
  case $line in ''|'#'*) continue ;; esac
  IFS=$'\t' read -r f p r t <<<"$line"
  if [ -z "${t:-}" ]; then
    echo "mutation-check: malformed fault line (needs four tab-separated fields): $line" >&2
    exit 2
  fi
  files+=("$f") patterns+=("$p") replacements+=("$r") programs+=("$t")
done <"$list"
count=${#files[@]}

# Fault numbers to run, from the arguments (all when none).
wanted=()
if [ ${#selection[@]} -eq 0 ]; then
  wanted=($(seq 1 "$count"))
else
  for s in "${selection[@]}"; do
    if [[ $s =~ ^([0-9]+)-([0-9]+)$ ]]; then
      wanted+=($(seq "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"))
    elif [[ $s =~ ^[0-9]+$ ]]; then
      wanted+=("$s")
    else
      echo "mutation-check: not a fault number or range: $s" >&2
      exit 2
    fi
  done
fi
for n in "${wanted[@]}"; do
  if [ "$n" -lt 1 ] || [ "$n" -gt "$count" ]; then
    echo "mutation-check: fault $n does not exist (the list has $count)" >&2
    exit 2
  fi
done

# Scratch copy of the tracked files as they are in the working tree. Only a
# file whose content differs is copied (with a new time); an unchanged file
# keeps its time, so the build folder rebuilds only what changed. Putting back
# an older time would leave objects of an earlier fault in the build.
(cd "$repo" && git ls-files -z) | python3 -c '
import os, shutil, sys
repo, src = sys.argv[1], sys.argv[2]
tracked = [p for p in sys.stdin.buffer.read().decode().split("\0") if p]
for rel in tracked:
    a, b = os.path.join(repo, rel), os.path.join(src, rel)
    if not os.path.isfile(a):
        continue
    with open(a, "rb") as f:
        data = f.read()
    if os.path.isfile(b):
        with open(b, "rb") as f:
            if f.read() == data:
                continue
    os.makedirs(os.path.dirname(b), exist_ok=True)
    with open(b, "wb") as f:
        f.write(data)
    shutil.copymode(a, b)
keep = set(tracked)
for root, _, names in os.walk(src):
    for name in names:
        path = os.path.join(root, name)
        if os.path.relpath(path, src) not in keep:
            os.remove(path)
' "$repo" "$src" || { echo "mutation-check: cannot copy the tree to $src" >&2; exit 1; }
# A run stopped in the middle may leave a file whose object was built from a
# fault: it is touched so that it is compiled again.
if [ -f "$scratch/applied" ]; then
  touch "$src/$(cat "$scratch/applied")"
  rm -f "$scratch/applied"
fi
if [ -d "$repo/../shared" ] && [ ! -e "$scratch/shared" ]; then ln -s "$(realpath "$repo/../shared")" "$scratch/shared"; fi

if [ ! -f "$build/build.ninja" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPS_BUILD_BENCH=OFF "${launcher[@]}" \
    >"$logs/configure.log" 2>&1 || { echo "mutation-check: configure failed, see $logs/configure.log" >&2; exit 1; }
fi

# Builds the programs named (comma-separated); returns non-zero when the build fails.
build_programs() {
  local targets
  IFS=',' read -ra targets <<<"$1"
  cmake --build "$build" -j "$jobs" --target "${targets[@]}" >"$2" 2>&1
}

# Runs the programs named in turn; prints the first that fails, returns 1 then.
run_programs() {
  local targets t status
  IFS=',' read -ra targets <<<"$1"
  for t in "${targets[@]}"; do
    env QT_QPA_PLATFORM=offscreen timeout -k 10 "$per_test_timeout" "$build/tests/$t" >"$2.$t" 2>&1
    status=$?
    if [ $status -ne 0 ]; then
      [ $status -eq 124 ] && echo "$t (time limit)" || echo "$t"
      return 1
    fi
  done
  return 0
}

if [ $baseline -eq 1 ]; then
  needed=$(for n in "${wanted[@]}"; do echo "${programs[$((n - 1))]}"; done | tr ',' '\n' | sort -u | paste -sd,)
  echo "baseline: building and running $needed on the unchanged tree"
  build_programs "$needed" "$logs/baseline-build.log" || { echo "mutation-check: the unchanged tree does not build, see $logs/baseline-build.log" >&2; exit 1; }
  if failing=$(run_programs "$needed" "$logs/baseline"); then :; else
    echo "mutation-check: $failing fails on the unchanged tree; its verdicts would mean nothing" >&2
    exit 1
  fi
fi

killed=0 survived=0 invalid=0 survivors=()
for n in "${wanted[@]}"; do
  i=$((n - 1))
  file=${files[$i]}
  target=$src/$file
  saved=$scratch/original
  label="fault $n ($file)"
  if [ ! -f "$target" ]; then
    echo "$label: invalid (no such file)"; invalid=$((invalid + 1)); continue
  fi
  cp -p "$target" "$saved"
  echo "$file" >"$scratch/applied"
  # Replaces the pattern when it occurs exactly once; exit 3 otherwise.
  if ! python3 - "$target" "${patterns[$i]}" "${replacements[$i]}" <<'EOF'
import sys
path, pattern, replacement = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
if text.count(pattern) != 1:
    sys.exit(3)
open(path, "w", encoding="utf-8").write(text.replace(pattern, replacement))
EOF
  then
    rm -f "$scratch/applied"
    echo "$label: invalid (the pattern does not occur exactly once)"
    invalid=$((invalid + 1)); continue
  fi
  start=$SECONDS
  if ! build_programs "${programs[$i]}" "$logs/fault-$n-build.log"; then
    verdict="invalid (does not build, see $logs/fault-$n-build.log)"
    invalid=$((invalid + 1))
  elif failing=$(run_programs "${programs[$i]}" "$logs/fault-$n"); then
    verdict=survived
    survived=$((survived + 1))
    survivors+=("$n")
  else
    verdict="killed by $failing"
    killed=$((killed + 1))
  fi
  # Put the line back with a new time, so the next build recompiles the file.
  cp "$saved" "$target"
  touch "$target"
  rm -f "$scratch/applied"
  echo "$label: $verdict [$((SECONDS - start)) s]"
done

echo "survivors: ${survivors[*]:-none}"
echo "$killed killed, $survived survived of $((killed + survived))$([ $invalid -gt 0 ] && echo " ($invalid invalid)")"
