#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test polarsphere.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential g++ cmake ninja-build pkg-config git \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins qt6-translations-l10n libgl-dev libqt6opengl6-dev \
  libxlsxwriter-dev zlib1g-dev \
  python3 python3-openpyxl python3-numpy \
  clang libclang-rt-14-dev \
  xvfb xauth imagemagick x11-utils \
  fonts-dejavu-core xdg-utils >/dev/null
