"""Many runs at once: the XICs of a target table over a cohort, serially, on threads, on a cluster.

    PYTHONPATH=src python3 benchmarks/bench_batch.py [--runs 200] [--targets 100] [--scans 600] [--points 200]
                                                     [--folder DIR]

Writes --runs sample runs (samples.write_sample: six scan modes, DAD, profile and centroid points,
zstd) and a table of --targets targets (10 ppm, a third with a retention-time window), then
times the same extraction (batch.extract_xics: long table and summary as pandas DataFrames):

- serial: a plain loop calling the per-file work (no Dask),
- threads: Dask's local threaded scheduler, one thread per core,
- cluster: a distributed.LocalCluster of one single-threaded worker process per core, the tables
  sent back to this process, or the long table written by the workers as a Parquet dataset.

Speed-up = serial time / time; parallel efficiency = speed-up / cores. Per-file figures (seconds,
bytes read, result rows) are what docs/scaling.md scales up. The load average before and after is
printed: the machine may be shared. With --folder the runs are kept there and reused by the next
call with the same sizes (write once, time again).
"""

import argparse
import os
import tempfile
import time

import numpy as np
import pandas

from ozra_data_access.batch import extract_xics, read_targets
from ozra_data_access.batch.extract import file_xics
from ozra_data_access.samples import write_sample


def make_targets(count, seed=0):
    rng = np.random.default_rng(seed)
    rows = []
    for i in range(count):
        windowed = i % 3 == 0
        start = rng.uniform(0.0, 15.0)
        rows.append({"id": f"t{i:03d}", "mz": rng.uniform(110.0, 990.0), "ppm": 10.0,
                     "rt_min": start if windowed else None, "rt_max": start + 3.0 if windowed else None})
    return pandas.DataFrame(rows)


def timed(label, call, runs, cores, serial=None):
    started, cpu = time.perf_counter(), time.process_time()
    result = call()
    seconds, cpu = time.perf_counter() - started, time.process_time() - cpu
    speed_up = serial / seconds if serial else 1.0
    print(f"| {label} | {seconds:.2f} | {1000 * seconds / runs:.1f} | {1000 * cpu / runs:.1f} | {speed_up:.2f} | "
          f"{speed_up / cores:.2f} |", flush=True)
    return seconds, result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--targets", type=int, default=100)
    parser.add_argument("--scans", type=int, default=600)
    parser.add_argument("--points", type=int, default=200)
    parser.add_argument("--folder", help="keep the runs here and reuse them (default: a temporary folder)")
    args = parser.parse_args()
    cores = os.cpu_count()
    import distributed

    with tempfile.TemporaryDirectory() as temporary:
        folder = args.folder or temporary
        os.makedirs(folder, exist_ok=True)
        paths = [os.path.join(folder, f"run{i:04d}-{args.scans}x{args.points}.ozra") for i in range(args.runs)]
        for seed, path in enumerate(paths):
            if not os.path.exists(path):
                write_sample(path, scans=args.scans, points_per_spectrum=args.points, seed=seed, traces=False)
        size = sum(os.path.getsize(path) for path in paths) / len(paths)
        targets = read_targets(make_targets(args.targets))
        print(f"cores {cores}, load average before {os.getloadavg()[0]:.2f}")
        print(f"{args.runs} runs of {size / 1e6:.1f} MB ({args.scans} scans x {args.points} points, "
              f"DAD, zstd) x {args.targets} targets")
        print("| schedule | seconds | ms per run | this process's CPU ms per run | speed-up | parallel efficiency |")
        print("|---|---|---|---|---|---|")
        serial, tables = timed("serial loop", lambda: [file_xics(path, targets) for path in paths], args.runs, cores)
        timed("local threads", lambda: extract_xics(paths, targets), args.runs, cores, serial)
        with distributed.LocalCluster(n_workers=cores, threads_per_worker=1, processes=True,
                                      dashboard_address=":0") as cluster, distributed.Client(cluster) as client:
            client.run(lambda: __import__("ozra_data_access.batch"))  # imports are not the work
            timed(f"LocalCluster, {cores} workers", lambda: extract_xics(paths, targets, client=client),
                  args.runs, cores, serial)
            out = os.path.join(temporary, "results.parquet")
            timed(f"LocalCluster, {cores} workers, Parquet written by the workers",
                  lambda: extract_xics(paths, targets, client=client, out=out), args.runs, cores, serial)
        rows = sum(len(t["xic"]) for t in tables) / len(tables)
        memory = sum(t["xic"].memory_usage(deep=True).sum() for t in tables) / len(tables)
        print(f"per run: {size / 1e6:.1f} MB, {rows:,.0f} result rows ({memory / 1e6:.2f} MB as a DataFrame)")
        print(f"load average after {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
