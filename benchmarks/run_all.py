"""Runs every benchmarks/bench_*.py in turn (`make bench-parts`), each in its own interpreter.

Each benchmark prints its own table; a failing one is reported and the others still run.
"""

import pathlib
import subprocess
import sys


def main() -> int:
    failures = 0
    for path in sorted(pathlib.Path(__file__).parent.glob("bench_*.py")):
        print(f"\n=== {path.stem} ===", flush=True)
        failures += subprocess.run([sys.executable, str(path)]).returncode != 0
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
