#!/usr/bin/env bash
# Prints the interpreter the make targets use: $PYTHON (default python3) itself, or the virtual
# environment .venv made from it when its installation is externally managed (PEP 668: Debian's
# own python3 refuses `pip install` outside a virtual environment).
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON="${PYTHON:-python3}"
if "$PYTHON" - <<'PY'
import os, sys, sysconfig
managed = os.path.exists(os.path.join(sysconfig.get_path("stdlib"), "EXTERNALLY-MANAGED"))
sys.exit(0 if managed and sys.prefix == sys.base_prefix else 1)
PY
then
    echo "$PWD/.venv/bin/python"
else
    command -v "$PYTHON"
fi
