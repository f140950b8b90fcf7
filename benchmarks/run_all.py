"""Runs every benchmarks/bench_*.py in turn (make bench)."""

import pathlib
import subprocess
import sys


def main():
    failed = []
    for script in sorted(pathlib.Path(__file__).parent.glob("bench_*.py")):
        print(f"== {script.name}", flush=True)
        if subprocess.run([sys.executable, str(script)]).returncode != 0:
            failed.append(script.name)
    if failed:
        sys.exit("failed: " + ", ".join(failed))


if __name__ == "__main__":
    main()
