#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds, and opens CV-QRN.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
cvqrn_install_missing
cmake --preset dev >/dev/null
cmake --build --preset dev
exec build/dev/app/cv-qrn "$@"
