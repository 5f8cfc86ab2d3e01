#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds, and opens CV-QRN.
#   ./run.sh        the window
#   ./run.sh --web  the browser page, served on http://127.0.0.1:8080/
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
if [ "${1:-}" = "--web" ]; then
  cvqrn_packages=(cmake ninja-build python3 "${cvqrn_web_packages[@]}")
  cvqrn_install_missing
  cmake --preset web >/dev/null
  cmake --build --preset web
  echo "CV-QRN in the browser: http://127.0.0.1:8080/  (Ctrl+C stops the server)"
  exec python3 -m http.server 8080 --bind 127.0.0.1 --directory build/web/web/site
fi
cvqrn_install_missing
cmake --preset dev >/dev/null
cmake --build --preset dev
exec build/dev/app/cv-qrn "$@"
