"""Our rows of the head-to-head alone, on the generated run: to compare two builds back to back.

    PYTHONPATH=src python3 benchmarks/peers/ours.py [--rounds 5] [--spectra 20000] [--points 1000]

The tasks, windows and targets are those `make bench` builds (the same seed), timed as it times
ours raw; the run is the one it wrote (written first when missing). Nothing is checked against the
peers and nothing is written: each task prints its median and least time over the rounds. A
single head-to-head run moves a row by up to some 15 % on a shared machine; two builds run one
after the other with this script, a few rounds each, tell a change of a few per cent apart.
"""

from __future__ import annotations

import argparse
import gc
import pathlib
import statistics
import sys

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import data  # noqa: E402
import measure  # noqa: E402
import readers  # noqa: E402
import tasks as task_module  # noqa: E402
from run import run_facts  # noqa: E402


def seconds_of(task, reader):
    if task.stream is None:
        seconds, _, _ = measure.run_once(lambda: task.call(reader))
        return seconds
    timed = measure.TimedIterator(task.stream(reader))
    for _ in timed:
        pass
    return timed.seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--spectra", type=int, default=20_000)
    parser.add_argument("--points", type=int, default=1_000)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    run = data.generated_run(args.spectra, args.points)
    ms1_points, ms1_spectra, mz_range, rt_range, random_points = run_facts(run.ozra["raw"])
    tasks = task_module.build_tasks(run, ms1_points, ms1_spectra, mz_range, rt_range, np.random.default_rng(11),
                                    random_points)
    ours = readers.Ozra(run.ozra["raw"], "ours raw")
    for task in tasks:
        times = []
        for _ in range(args.rounds):
            times.append(seconds_of(task, ours))
            gc.collect()
        print(f"{task.name:40} median {statistics.median(times) * 1e3:9.1f} ms   least {min(times) * 1e3:9.1f} ms",
              flush=True)


if __name__ == "__main__":
    main()
