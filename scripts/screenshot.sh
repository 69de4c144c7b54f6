#!/usr/bin/env bash
# Starts polarsphere under a virtual X display, opens a polarization-camera
# frame (the real fruit frame when present, else the bundled sample set), ticks
# the ellipses, runs "Контур", clicks three points of the sphere's rim and
# saves a screenshot of the screen.
#   bash scripts/screenshot.sh [output.png] [seconds to wait]
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=${1:-docs/screenshot.png}
WAIT=${2:-25}
APP=${POLARSPHERE_APP:-build/polarsphere}
FRAME=${FRAME:-../shared/realdata/fruits_IMX250MZR.png}
[ -x "$APP" ] || { echo "build the application first (bash scripts/build.sh)" >&2; exit 1; }
mkdir -p "$(dirname "$OUT")"
OUT_ABS=$(realpath "$OUT")
if [ -f "$FRAME" ]; then
  # Three clicks on the orange's rim (cells of the 1224 x 1024 sub-images).
  ARGS=("$(realpath "$FRAME")" --pattern 0,45,135,90 --ellipses --contour --manual
        --press 701 268 --press 903 66 --press 1105 268)
else
  ARGS=(--sample --ellipses --contour --manual --press 245 118 --press 166 39 --press 87 118)
fi
# Settings of the run (pattern, "Уточнять окружность") are kept apart from the user's.
export XDG_CONFIG_HOME=$(mktemp -d)
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
  app=$1; wait_s=$2; out=$3; shift 3
  "$app" "$@" &
  pid=$!
  sleep "$wait_s"
  import -window root "$out"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
' _ "$APP" "$WAIT" "$OUT_ABS" "${ARGS[@]}"
# The screen's empty border trimmed, 256 colours keep the file small.
convert "$OUT_ABS" -trim +repage -colors 256 "PNG8:$OUT_ABS"
echo "saved $OUT_ABS"
