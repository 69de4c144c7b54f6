#!/usr/bin/env bash
# Installs what is needed, builds, and starts polarsphere on the bundled sample set.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
if [ -x build/polarsphere ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec build/polarsphere --sample
fi
exec build/polarsphere-cli process data/sample/0.bmp data/sample/45.bmp data/sample/90.bmp data/sample/135.bmp
