"""Head to head: this package against pyteomics, pymzml and pyopenms on the same runs (`make bench`).

    PYTHONPATH=src python3 benchmarks/peers/run.py [--spectra 20000] [--points 1000] [--rounds 3]

Reads a generated run (--spectra x --points, MS1 every sixth scan, written as Ozra with raw and
zstd point encodings and as indexed zlib mzML by psims) and the largest real mzML file of the
shared data (converted by this package). Each task starts from the file on disk. The first
round records every reader's result and peak memory, and a peer's time counts only when its
result equals ours (point streams are compared pair by pair as they are read, only the reader's
own time counted); further rounds are interleaved (each round runs every reader once, in
turns), and the table gives medians. A reader slower than --cap seconds on a task runs it once.
Writes benchmarks/RESULTS.md and benchmarks/RESULTS.png; benchmarks/README.md says why the
sizes, rounds and checks are what they are.
"""

from __future__ import annotations

import argparse
import datetime
import gc
import os
import pathlib
import platform
import statistics
import subprocess
import sys
import time
import traceback
from importlib import metadata

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
import data  # noqa: E402
import measure  # noqa: E402
import readers  # noqa: E402
import tasks as task_module  # noqa: E402

from ozra_data_access.access import OzraFile  # noqa: E402
from ozra_data_access.arrays import chromatogram_arrays  # noqa: E402

BENCHMARKS = pathlib.Path(__file__).resolve().parents[1]


class OzraView(readers.Ozra):
    """Ours, with every spectrum's points through spectrum_view instead of numpy.asarray."""

    def points(self):
        return self.points_view()


class OzraMatrix(readers.Ozra):
    """Ours, with the XICs through get_xic_matrix instead of the point lists."""

    def xic(self, windows, rt_ranges=None):
        return self.xic_as_matrix(windows, rt_ranges)


def run_facts(path):
    """(MS1 points, MS1 spectra, m/z range, retention-time range, points of a list of positions)."""
    with OzraFile(str(path)) as f:
        analysis = f.get_measurement(0).get_qual_analysis(0)
        ms1 = next(c for c in analysis.unique_acquisition_conditions if c.ms_level == 1)
        tic = analysis.get_tic(ms1)
        sizes = [len(analysis.get_spectrum(i).get_spectrum_points()) for i in range(analysis.get_spectra_count())]
        ms1_points = sum(sizes[p.spectrum_index] for p in tic)
        some = np.asarray(analysis.get_spectrum(tic[len(tic) // 2].spectrum_index).get_spectrum_points())
        rts = [p.retention_time for p in tic]
    mz_range = (float(some[:, 0].min()), float(some[:, 0].max())) if len(some) else (100.0, 1000.0)
    return ms1_points, len(tic), mz_range, (min(rts), max(rts)), lambda positions: sum(sizes[i] for i in positions)


def make_readers(run):
    ours = [readers.Ozra(run.ozra["raw"], "ours raw"), readers.Ozra(run.ozra["zstd"], "ours zstd"),
            readers.Ozra(run.ozra["raw"], "ours raw, numpy inputs", number=np.float64),
            OzraView(run.ozra["raw"], "ours raw, spectrum_view"),
            OzraMatrix(run.ozra["raw"], "ours raw, get_xic_matrix")]
    peers, missing = [], []
    for peer in readers.PEERS:
        try:
            reader = peer(run.mzml)
            if hasattr(reader, "prepare"):
                reader.prepare()
            peers.append(reader)
        except Exception as error:  # a peer that cannot be installed or read this file is reported
            missing.append(f"{peer.label}: {error!r}")
    return ours, peers, missing


def readers_of(task, ours, peers):
    chosen = ours[:2]
    if task.numpy_inputs:
        chosen.append(ours[2])
    if task.view_row:
        chosen.append(ours[3])
    if task.matrix_row:
        chosen.append(ours[4])
    return chosen + [peer for peer in peers if peer.label not in task.skipped]


def checked_stream(task, ours, reader):
    """(seconds, peak memory) of `reader`'s run of a stream task, each of its pairs compared with
    ours as it comes: only the time `reader` spends producing its pairs counts."""
    timed = measure.TimedIterator(task.stream(reader))
    _, peak, _ = measure.run_once(lambda: task_module.same_pairs(task.stream(ours), timed))
    return timed.seconds, peak


def bench_run(run, rounds, cap, rng):
    ms1_points, ms1_spectra, mz_range, rt_range, random_points = run_facts(run.ozra["raw"])
    tasks = task_module.build_tasks(run, ms1_points, ms1_spectra, mz_range, rt_range, rng, random_points)
    ours, peers, missing = make_readers(run)
    rows = []
    for task in tasks:
        task_started = time.perf_counter()
        chosen = readers_of(task, ours, peers)
        times = {r.label: [] for r in chosen}
        memory, failures = {}, {}
        reference = None
        for reader in chosen:
            print(f"  {task.name}: {reader.label} ...", end="", flush=True)
            try:
                if task.stream is not None and reader is not ours[0]:
                    seconds, peak = checked_stream(task, ours[0], reader)
                else:
                    seconds, peak, result = measure.run_once(lambda: task.call(reader))
                    if reader is ours[0]:
                        reference = task.prepare(reader, result)
                    elif task.check is not None:
                        task.check(reference, reader, result)
                times[reader.label].append(seconds)
                memory[reader.label] = peak
                print(f" {seconds:.3f} s", flush=True)
            except Exception as error:
                failures[reader.label] = f"{type(error).__name__}: {str(error)[:200]}"
                print(" failed:", failures[reader.label], flush=True)
                if os.environ.get("OZRA_BENCH_DEBUG"):
                    traceback.print_exc()
            result = None
            gc.collect()
        reference = None
        gc.collect()
        for round_number in range(1, rounds):
            turn = chosen[round_number % len(chosen):] + chosen[:round_number % len(chosen)]
            for reader in turn:
                if reader.label in failures or times[reader.label][0] > cap:
                    continue
                seconds, _, _ = measure.run_once(lambda: task.call(reader))
                times[reader.label].append(seconds)
                gc.collect()
        rows.append({"task": task, "times": {k: statistics.median(v) for k, v in times.items() if v},
                     "rounds": {k: len(v) for k, v in times.items()}, "memory": memory, "failures": failures,
                     "ceiling": measure.copy_seconds(task.size)})
        print(f"  {task.name}: {time.perf_counter() - task_started:.1f} s in all", flush=True)
    return rows, missing


def point_spans(path):
    """(file position, bytes of its points) of every spectrum of the run's first analysis."""
    with OzraFile(str(path)) as f:
        analysis = f.get_measurement(0).get_qual_analysis(0)
        return [(record._SpectrumIndex__position, 16 * len(analysis.get_spectrum(i).get_spectrum_points()))
                for i, record in enumerate(analysis._QualAnalysis__spectrum_index_list)]


def floor_lines(run, rows, rounds):
    """Reading every point against reading its bytes alone, one read per spectrum (the raw file)."""
    row = next(r for r in rows if r["task"].name == "read every spectrum's points")
    floor = measure.page_cache_read_seconds(str(run.ozra["raw"]), point_spans(run.ozra["raw"]), rounds)
    times = row["times"]
    peers = {label: seconds for label, seconds in times.items() if label in {p.label for p in readers.PEERS}
             and label not in row["failures"]}
    fastest = min(peers, key=peers.get) if peers else None
    bound = f"{peers[fastest] / floor:.1f}x" if fastest else "-"
    return [
        f"### Reading the points' bytes alone ({run.name}, raw encoding)",
        "",
        "One os.preadv per spectrum of its points' bytes, from the page cache, best of the rounds: the",
        "kernel's copy, which any reader of the file pays. 'Highest ratio' = fastest peer / this read.",
        "",
        "| task | page-cache read s | ours raw s | ours above the read | fastest peer | highest ratio |",
        "|---|---|---|---|---|---|",
        f"| {row['task'].name} | {seconds_text(floor)} | {seconds_text(times.get('ours raw'))} | "
        f"{times['ours raw'] / floor:.2f}x | {fastest or '-'} | {bound} |",
        "",
    ]


def arrays_rows(run, rounds):
    """chromatogram_arrays against the same four arrays built from the point lists in Python."""
    from ozra_data_access.common import ValueRange
    from ozra_data_access.qual import ChromatogramFilterOption

    with OzraFile(str(run.ozra["raw"])) as f:
        analysis = f.get_measurement(0).get_qual_analysis(0)
        ms1 = next(c for c in analysis.unique_acquisition_conditions if c.ms_level == 1)
        tic = analysis.get_tic(ms1)
        options = [ChromatogramFilterOption(ms1, ValueRange(300.0 + i, 300.5 + i)) for i in range(100)]
        xics = analysis.get_multiple_xic(options)

    def in_python(points):
        return (np.array([p.retention_time for p in points], dtype=np.float64),
                np.array([p.intensity for p in points], dtype=np.float64),
                np.array([np.nan if p.x is None else p.x for p in points], dtype=np.float64),
                np.array([p.spectrum_index for p in points], dtype=np.int64))

    rows = []
    for name, chromatograms in (("TIC", [tic]), ("100-window XIC", xics)):
        native = [per_call(lambda: [chromatogram_arrays(c) for c in chromatograms]) for _ in range(rounds)]
        python = [per_call(lambda: [in_python(c) for c in chromatograms]) for _ in range(rounds)]
        for c in chromatograms:
            assert all(a.tobytes() == b.tobytes() for a, b in zip(chromatogram_arrays(c), in_python(c)))
        points = sum(len(c) for c in chromatograms)
        rows.append((name, points, statistics.median(native), statistics.median(python)))
    return rows


def view_rows(run, rounds):
    """Microseconds per call of numpy.asarray(points) and of spectrum_view(points) on one spectrum."""
    from ozra_data_access.arrays import spectrum_view

    with OzraFile(str(run.ozra["raw"])) as f:
        points = f.get_measurement(0).get_qual_analysis(0).get_spectrum(0).get_spectrum_points()
    pairs, view = np.asarray(points), spectrum_view(points)
    assert np.shares_memory(pairs, view) and pairs.tobytes() == view.tobytes()
    calls = [("numpy.asarray(points)", lambda: np.asarray(points)), ("spectrum_view(points)", lambda: spectrum_view(points))]
    return len(points), [(name, statistics.median(per_call(call) for _ in range(rounds))) for name, call in calls]


def per_call(call, least=0.2):
    """Seconds per call of `call`, repeated until the calls take at least `least` seconds."""
    number, start = 0, time.perf_counter()
    while time.perf_counter() - start < least:
        call()
        number += 1
    return (time.perf_counter() - start) / number


def version(name):
    try:
        return metadata.version(name)
    except metadata.PackageNotFoundError:
        return "not installed"


def machine_lines():
    cpu = "unknown"
    try:
        with open("/proc/cpuinfo") as info:
            cpu = next(line.split(":", 1)[1].strip() for line in info if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True,
                            cwd=BENCHMARKS).stdout.strip() or "unknown"
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
    return [
        f"- machine: {platform.machine()}, {cpu}, {os.cpu_count()} cores, {memory:.0f} GiB; {platform.platform()}",
        f"- Python {platform.python_version()}; numpy {version('numpy')}; pyteomics {version('pyteomics')}, "
        f"pymzml {version('pymzml')}, pyopenms {version('pyopenms')}, psims {version('psims')}, "
        f"lxml {version('lxml')}",
        f"- ozra_data_access at commit {commit}",
    ]


def seconds_text(value):
    return "-" if value is None else (f"{value:.3f}" if value >= 0.01 else f"{value * 1e3:.2f} ms")


def megabytes(value):
    return "-" if value is None else f"{value / 2**20:.0f}"


def table(run, rows, missing, peer_labels):
    lines = [f"### {run.name} ({run.spectra:,} spectra, {run.points:,} points)", ""]
    head = ["task", "ours raw s", "ours zstd s", "ours numpy inputs / spectrum_view s", "ours get_xic_matrix s"] + [
        f"{p} s" for p in peer_labels] + ["fastest peer", "ratio (peer / ours raw)", "ratio (peer / matrix)",
                                          "ours MB", "matrix MB", "fastest peer MB", "copy ceiling s",
                                          "ours raw % of ceiling"]
    lines += ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for row in rows:
        t, mem, fail = row["times"], row["memory"], row["failures"]
        variant = t.get("ours raw, numpy inputs", t.get("ours raw, spectrum_view"))
        peer_cells, equal_peers = [], {}
        for label in peer_labels:
            if label in row["task"].skipped:
                peer_cells.append("not run")
            elif label in fail:
                peer_cells.append("not equal" if "Assertion" in fail[label] else "failed")
            elif label in t:
                runs = row["rounds"][label]
                peer_cells.append(seconds_text(t[label]) + ("" if runs > 1 else " (1 run)"))
                equal_peers[label] = t[label]
            else:
                peer_cells.append("-")
        ours = t.get("ours raw")
        fastest = min(equal_peers, key=equal_peers.get) if equal_peers else None
        ratio = f"{equal_peers[fastest] / ours:.1f}x" if fastest and ours else "-"
        matrix = t.get("ours raw, get_xic_matrix")
        matrix_ratio = f"{equal_peers[fastest] / matrix:.1f}x" if fastest and matrix else "-"
        ceiling = row["ceiling"]
        share = f"{100 * ceiling / ours:.0f}%" if ours else "-"
        lines.append("| " + " | ".join([row["task"].name, seconds_text(ours), seconds_text(t.get("ours zstd")),
                                        seconds_text(variant), seconds_text(matrix), *peer_cells, fastest or "-",
                                        ratio, matrix_ratio, megabytes(mem.get("ours raw")),
                                        megabytes(mem.get("ours raw, get_xic_matrix")),
                                        megabytes(mem.get(fastest)) if fastest else "-",
                                        seconds_text(ceiling), share]) + " |")
    for row in rows:
        for label, text in row["failures"].items():
            lines.append(f"\n- {row['task'].name}, {label}: {text}")
    for text in missing:
        lines.append(f"\n- not measured: {text}")
    return lines


def plot(results, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(1, len(results), figsize=(7 * len(results), 5.5), squeeze=False)
    for axis, (run, rows) in zip(axes[0], results):
        names, ratios, matrix_ratios = [], [], []
        for row in rows:
            t = row["times"]
            peers = [t[label] for label in t if not label.startswith("ours") and label not in row["failures"]]
            if peers and t.get("ours raw"):
                names.append(row["task"].name)
                ratios.append(min(peers) / t["ours raw"])
                matrix = t.get("ours raw, get_xic_matrix")
                matrix_ratios.append(min(peers) / matrix if matrix else 0.0)
        places = np.arange(len(names))[::-1]
        axis.barh(places + 0.2, ratios, height=0.4, color="#4477aa", label="ours raw (point lists)")
        axis.barh(places - 0.2, matrix_ratios, height=0.4, color="#ee7733", label="ours raw, get_xic_matrix")
        axis.set_yticks(places, names)
        axis.axvline(30, color="#cc3311", linestyle="--", label="goal: 30x")
        axis.axvline(1, color="black", linewidth=0.8)
        axis.set_xscale("log")
        axis.set_xlabel("fastest peer's time / ours (raw), log scale")
        axis.set_title(run.name)
        axis.legend(loc="lower right")
    figure.tight_layout()
    figure.savefig(path, dpi=110)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--spectra", type=int, default=20_000)
    parser.add_argument("--points", type=int, default=1_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cap", type=float, default=2.0,
                        help="a reader whose checked run of a task takes longer (s) runs it once")
    parser.add_argument("--output", type=pathlib.Path, default=BENCHMARKS / "RESULTS.md")
    parser.add_argument("--no-real", action="store_true", help="the generated run only")
    args = parser.parse_args()
    started = datetime.datetime.now(datetime.timezone.utc)
    load_before = os.getloadavg()
    rng = np.random.default_rng(11)
    phases = []

    def phase(label, call):
        begun = time.perf_counter()
        result = call()
        phases.append(f"{label} {time.perf_counter() - begun:.0f} s")
        return result

    runs = [phase("writing the generated run", lambda: data.generated_run(args.spectra, args.points))]
    if not args.no_real:
        runs.append(phase("converting the real file", data.real_run))
    results, sections = [], []
    peer_labels = [p.label for p in readers.PEERS]
    for run in runs:
        print(f"\n{run.name}", flush=True)
        rows, missing = phase(f"tasks on {run.name}", lambda: bench_run(run, args.rounds, args.cap, rng))
        results.append((run, rows))
        sections += table(run, rows, missing, peer_labels) + [""]
    sections += floor_lines(runs[0], results[0][1], args.rounds)
    array_rows = phase("arrays", lambda: arrays_rows(runs[0], args.rounds))
    view_points, view_calls = view_rows(runs[0], args.rounds)
    finished = datetime.datetime.now(datetime.timezone.utc)
    load_after = os.getloadavg()
    image = args.output.with_suffix(".png")
    plot(results, image)
    lines = [
        "# Benchmark results: ozra_data_access against mzML readers",
        "",
        f"`make bench` (benchmarks/peers/run.py --spectra {args.spectra} --points {args.points} "
        f"--rounds {args.rounds} --cap {args.cap:g}), {started:%Y-%m-%d %H:%M}-{finished:%H:%M} UTC. "
        f"Load average before/after: {load_before[0]:.1f} / {load_after[0]:.1f} (1 minute). "
        f"Phases: {'; '.join(phases)}.",
        "",
        *machine_lines(),
        "",
        f"Times are medians of {args.rounds} interleaved rounds, each task from the file on disk; a reader",
        f"whose first run of a task took longer than {args.cap:g} s runs it once ('(1 run)'). A peer's time",
        "counts only when its result equals ours (points bit for bit, compared pair by pair as they are",
        "read, only the peer's own time counted; sums within 1e-9 relative, as peers add in another",
        "order; nearest-spectrum positions exactly). Ratio = fastest equal peer / ours raw.",
        "Memory: the peak resident memory during the task above the memory before it. The copy ceiling",
        "is numpy copying the bytes the task reads (points, or 16 bytes per spectrum for the TIC and",
        "look-ups): '% of ceiling' = ceiling time / our time. 'not run': pyteomics is left out of the",
        "XIC tasks, full reads where it is some three times slower than pymzml (see the first row).",
        "",
        *sections,
        "### Arrays from chromatograms (ozra_data_access.arrays) against building them from the point lists",
        "",
        "| chromatograms | points | chromatogram_arrays s | Python list comprehensions s | ratio |",
        "|---|---|---|---|---|",
        *[f"| {name} | {points:,} | {seconds_text(n)} | {seconds_text(p)} | {p / n:.1f}x |"
          for name, points, n, p in array_rows],
        "",
        f"### Spectrum points as numpy arrays, per call ({view_points:,} points, zero-copy)",
        "",
        "| call | us per call | ratio to spectrum_view |",
        "|---|---|---|",
        *[f"| `{name}` | {seconds * 1e6:.2f} | {seconds / view_calls[-1][1]:.2f}x |" for name, seconds in view_calls],
        "",
        f"![ratios]({image.name})",
        "",
    ]
    args.output.write_text("\n".join(lines))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
