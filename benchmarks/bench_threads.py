"""One file's XICs on several threads: does the reading scale with the cores?

    PYTHONPATH=src python3 benchmarks/bench_threads.py [--spectra 800] [--points 5000] [--jobs 8]

Writes one file of --spectra spectra x --points points per point encoding (zstd, raw), opens
it once per thread (each thread its own OzraFile, as batch workers do), and times --jobs calls of
get_multiple_xic with 10 windows over every spectrum, run by 1 thread, then shared by 2 and 4
threads. Speed-up = time on 1 thread / time on n threads for the same jobs (CPU seconds: all
threads of the process, in the same best run; near n x seconds when n threads really ran at once); the work that
touches no Python object runs with the interpreter lock released where it outlasts handing the
lock over: zstd decompression, reads of 256 KiB or more, decodes of 16,384 points or more, 32 or
more XIC windows per spectrum. Raw spectra of 5,000 points (60 KB) have none of these: their rows
show the threads taking turns.
The load average before and after is printed: the machine may be shared.
"""

import argparse
import os
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

from ozra_data_access.common import ValueRange
from timing import best_of

THREAD_COUNTS = (1, 2, 4)


def write_run(path, spectra, points, encoding):
    from ozra_data_access.writer import FunctionData, MeasurementData, SpectrumData, write_file

    rng = np.random.default_rng(0)
    x = np.sort(rng.uniform(100.0, 1000.0, points))
    data = (SpectrumData(retention_time=i * 0.01, x=x, intensity=rng.exponential(1000.0, points))
            for i in range(spectra))
    write_file(path, [MeasurementData(functions=[FunctionData.qual_ms(data)])], point_encoding=encoding)


def requests(analysis):
    from ozra_data_access.qual import ChromatogramFilterOption

    condition = analysis.unique_acquisition_conditions[0]
    centres = np.linspace(150.0, 950.0, 10)
    return [ChromatogramFilterOption(condition, ValueRange(c - 0.05, c + 0.05)) for c in centres]


def timed(path, threads, jobs, repeats):
    """Best wall time of `jobs` extractions shared by `threads` threads, each with its own file."""
    from ozra_data_access.access import OzraFile

    files = [OzraFile(path) for _ in range(threads)]
    analyses = [f.get_measurement(0).get_qual_analysis(0) for f in files]
    asked = [requests(a) for a in analyses]

    def work(slot):
        for _ in range(jobs // threads):
            analyses[slot].get_multiple_xic(asked[slot])

    def run():
        cpu = time.process_time()
        list(pool.map(work, range(threads)))
        return time.process_time() - cpu

    with ThreadPoolExecutor(threads) as pool:
        seconds, cpu = best_of(repeats, run)
    for f in files:
        f.close()
    return seconds, cpu


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--spectra", type=int, default=800)
    parser.add_argument("--points", type=int, default=5000)
    parser.add_argument("--jobs", type=int, default=8)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    print(f"cores {os.cpu_count()}, load average before {os.getloadavg()[0]:.2f}")
    print(f"{args.jobs} x get_multiple_xic (10 windows) over {args.spectra:,} spectra x {args.points:,} points")
    print("| encoding | threads | seconds | CPU seconds | speed-up | parallel efficiency |")
    print("|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as folder:
        for encoding in ("zstd", "raw"):
            path = os.path.join(folder, f"{encoding}.ozra")
            write_run(path, args.spectra, args.points, encoding)
            single = None
            for threads in THREAD_COUNTS:
                seconds, cpu = timed(path, threads, args.jobs, args.repeats)
                single = single or seconds
                print(f"| {encoding} | {threads} | {seconds:.3f} | {cpu:.3f} | {single / seconds:.2f} | "
                      f"{single / seconds / min(threads, os.cpu_count()):.2f} |", flush=True)
    print(f"load average after {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
