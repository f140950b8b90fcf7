"""Runs every benchmarks/bench_*.py in turn (`make bench`).

Each benchmark prints its own table; a failing one is reported and the others still run.
"""

import pathlib
import runpy
import sys
import traceback


def main() -> int:
    failures = 0
    for path in sorted(pathlib.Path(__file__).parent.glob("bench_*.py")):
        print(f"\n=== {path.stem} ===", flush=True)
        try:
            runpy.run_path(str(path), run_name="__main__")
        except SystemExit as stop:
            failures += bool(stop.code)
        except Exception:
            traceback.print_exc()
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
