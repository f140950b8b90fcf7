"""Runs every benchmarks/bench_*.py in turn (`make bench-parts`), each in its own interpreter.

Each benchmark prints its own table, then the seconds it took; a failing one is reported and the
others still run. Some run here at smaller sizes than their own defaults, so that the whole of
`make bench` stays under 15 minutes on a quiet 2-core machine (benchmarks/README.md); each size
keeps what its benchmark shows (see SIZES). Run a benchmark alone for its full default size.
"""

import pathlib
import subprocess
import sys
import time

# Arguments that replace a benchmark's default size, and why the smaller size still shows the
# same thing. The others run at their defaults (a few seconds each).
SIZES = {
    # Parallel efficiency on 2 workers is settled by 60 runs (30 per worker, each ~75 ms);
    # writing 200 sample runs was half of the benchmark.
    "bench_batch": ["--runs", "60"],
    # Spectra per second and the to_arrow() ratio are flat in the run's size; the memory rows compare
    # the run with one of four times its spectra, whatever the size.
    "bench_export": ["--scans", "1000", "--points", "300"],
    # The synthetic run's rows are ratios to pyteomics (linear in the spectra); the real file's
    # rows are unchanged. The head-to-head (benchmarks/peers) measures 20,000 spectra.
    "bench_mzml": ["--spectra", "1000"],
    # Seconds per spectrum of the writer are flat beyond a few thousand spectra.
    "bench_writer": ["--spectra", "30000"],
    # 10,000 x 1,000 points (160 MB per encoding) is far beyond the caches, as 20,000 x 1,000 is.
    "bench_xic": ["--spectra", "10000"],
}


def main() -> int:
    failures = 0
    started = time.perf_counter()
    for path in sorted(pathlib.Path(__file__).parent.glob("bench_*.py")):
        arguments = SIZES.get(path.stem, [])
        print(f"\n=== {path.stem} {' '.join(arguments)} ===", flush=True)
        begun = time.perf_counter()
        failures += subprocess.run([sys.executable, str(path), *arguments]).returncode != 0
        print(f"({path.stem}: {time.perf_counter() - begun:.1f} s)", flush=True)
    print(f"\nbenchmarks of single parts: {time.perf_counter() - started:.1f} s in all")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
