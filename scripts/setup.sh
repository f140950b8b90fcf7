#!/usr/bin/env bash
# Everything a fresh machine needs before the package builds: the zstd headers and
# library (Debian's libzstd-dev), then the package itself with its test extras.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -f /usr/include/zstd.h ]; then
    echo "Installing libzstd-dev (zstd headers and library)..."
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    $SUDO apt-get update -qq
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libzstd-dev
fi

python3 -m pip install --quiet --disable-pip-version-check ".[test]"
