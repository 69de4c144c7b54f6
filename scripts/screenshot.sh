#!/usr/bin/env bash
# Starts polarsphere under a virtual X display, loads the bundled sample set and
# saves a screenshot of the screen.
#   bash scripts/screenshot.sh [output.png] [seconds to wait]
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=${1:-docs/screenshot.png}
WAIT=${2:-8}
export SCALE=${SCALE:-100}  # the map at this scale in percent
APP=${POLARSPHERE_APP:-build/polarsphere}
[ -x "$APP" ] || { echo "build the application first (bash scripts/build.sh)" >&2; exit 1; }
mkdir -p "$(dirname "$OUT")"
OUT_ABS=$(realpath "$OUT")
xvfb-run -a -s "-screen 0 820x540x24" bash -c '
  "$1" --sample --scale "${SCALE:-100}" &
  app=$!
  sleep "$2"
  import -window root "$3"
  kill "$app"
  wait "$app" 2>/dev/null || true
' _ "$APP" "$WAIT" "$OUT_ABS"
echo "saved $OUT_ABS"
