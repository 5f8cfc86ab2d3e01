#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
# Sourced by run.sh and test.sh; uses sudo when not run as root.
set -euo pipefail

cvqrn_packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev qt6-svg-dev libgl-dev libgl1-mesa-dri
  libgtest-dev libgmock-dev libbenchmark-dev libeigen3-dev
  clang libclang-rt-14-dev
  xvfb xauth x11-utils xdotool
  desktop-file-utils shared-mime-info dpkg-dev file
  fonts-dejavu-core
  locales
)

# The browser page: Emscripten (with Node.js and npm for its build and tests)
# and Chromium for the tests. Added by ./test.sh --all and ./run.sh --web only.
# A Node.js that brings its own npm conflicts with Debian's npm package.
cvqrn_web_packages=(emscripten nodejs chromium)
if ! command -v npm >/dev/null 2>&1; then
  cvqrn_web_packages+=(npm)
fi

cvqrn_install_missing() {
  local missing=()
  local p
  for p in "${cvqrn_packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
