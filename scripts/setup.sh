#!/usr/bin/env bash
# Everything a fresh machine needs before the package builds: the zstd headers and library
# (Debian's libzstd-dev), a virtual environment when the interpreter is externally managed, the
# build tools, then the package itself with its test extras. Honours PYTHON=.
#
# The package is built without build isolation into the fixed CMake directory build/<wheel tag>
# (pyproject.toml), so a second run with no source change compiles nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

apt_install() {
    echo "Installing $* ..."
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    $SUDO apt-get update -qq
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@"
}

if [ ! -f /usr/include/zstd.h ]; then
    apt_install libzstd-dev
fi

# The browser the `ozra view` tests drive (playwright cannot download its own here); without it
# those tests are skipped.
if [ ! -x /usr/bin/chromium ] && [ "$(id -u)" -eq 0 ]; then
    apt_install chromium
fi

PY="$(scripts/python.sh)"
if [ "$PY" = "$PWD/.venv/bin/python" ] && [ ! -x "$PY" ]; then
    BASE="${PYTHON:-python3}"
    echo "$BASE is externally managed: creating the virtual environment .venv"
    if ! "$BASE" -m venv .venv 2>/dev/null; then
        rm -rf .venv
        apt_install python3-venv
        "$BASE" -m venv .venv
    fi
fi

pip_install() { "$PY" -m pip install --quiet --disable-pip-version-check "$@"; }
pip_install "scikit-build-core>=0.9"
command -v cmake >/dev/null || pip_install cmake
command -v ninja >/dev/null || pip_install ninja
pip_install --no-build-isolation ".[test]"
