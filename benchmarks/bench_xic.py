"""Extracted-ion chromatograms: points scanned per second against the memory-bandwidth ceiling.

    PYTHONPATH=src python3 benchmarks/bench_xic.py [--spectra 20000] [--points 1000] [--in-memory]

Writes a file of --spectra spectra x --points points (float64 intensities) once per point
encoding (raw, zstd), opens its MS analysis and times get_multiple_xic with 1, 10, 100
and 10,000 windows in one call. The 10,000-window call is targeted work: each window has a
retention-time range covering 1 % of the run, so the result stays a few million points.
The ceiling is numpy copying the same number of point bytes (16 per point) in the same run.
With --in-memory the spectra come from the tests' stand-in reader as numpy arrays instead
of a file: that times the chromatogram code alone, without reading or decoding.
"""

import argparse
import os
import sys
import tempfile

import numpy as np

from ozra_data_access.common import ValueRange
from timing import best_of

POINT_BYTES = 16
WINDOW_COUNTS = (1, 10, 100, 10_000)
MZ_LOW, MZ_HIGH = 100.0, 1000.0


def generated(spectra, points):
    """(retention time, x, intensity) of every spectrum: the same m/z grid, random intensities."""
    rng = np.random.default_rng(0)
    x = np.sort(rng.uniform(MZ_LOW, MZ_HIGH, points))
    for index in range(spectra):
        yield index * 0.01, x, rng.exponential(1000.0, points)


def file_analysis(directory, spectra, points, encoding):
    from ozra_data_access.access import OzraFile
    from ozra_data_access.writer import FunctionData, MeasurementData, SpectrumData, write_file

    path = os.path.join(directory, f"xic_{encoding}.ozra")
    data = (SpectrumData(retention_time=rt, x=x, intensity=intensity) for rt, x, intensity in generated(spectra, points))
    write_file(path, [MeasurementData(functions=[FunctionData.qual_ms(data)])], point_encoding=encoding,
               intensity_width=8)
    ozra_file = OzraFile(path)
    return ozra_file, ozra_file.get_measurement(0).get_qual_analysis(0)


def memory_analysis(spectra, points):
    import pytest

    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
    from qual_stand_ins import StoredSpectrum, make_analysis

    stored = [StoredSpectrum(rt, np.column_stack([x, intensity])) for rt, x, intensity in generated(spectra, points)]
    patch = pytest.MonkeyPatch()
    analysis, _ = make_analysis(patch, stored, lambda pairs: pairs.view([("x", "<f8"), ("intensity", "<f8")])[:, 0])
    return patch, analysis


def requests(condition, count, run_length):
    from ozra_data_access import qual

    option = qual.ChromatogramFilterOption if hasattr(qual, "ChromatogramFilterOption") else None
    if option is None:
        sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
        from qual_stand_ins import ChromatogramFilterOption as option
    centres = np.linspace(MZ_LOW, MZ_HIGH, count + 2)[1:-1]
    targeted = count > 100
    made = []
    for k, centre in enumerate(centres):
        rt = None
        if targeted:
            start = (k / count) * run_length * 0.99
            rt = ValueRange(start, start + run_length * 0.01)
        made.append(option(condition, ValueRange(float(centre) - 0.05, float(centre) + 0.05), rt))
    return made


def copy_seconds(total_bytes, chunk_bytes=64 << 20):
    """numpy copying `total_bytes` through a chunk of memory too large for the caches."""
    source = np.ones(chunk_bytes // 8)
    target = np.empty_like(source)

    def copy_all():
        left = total_bytes
        while left > 0:
            n = min(left, chunk_bytes) // 8
            np.copyto(target[:n], source[:n])
            left -= chunk_bytes

    return best_of(3, copy_all)[0]


def measure(label, analysis, spectra, points, repeats):
    condition = analysis.unique_acquisition_conditions[0]
    run_length = spectra * 0.01
    print(f"{label}: {spectra} spectra x {points} points")
    print(f"{'windows':>8} {'seconds':>9} {'Mpoints/s':>10} {'ceiling Mpoints/s':>18} {'ratio':>6}")
    for count in WINDOW_COUNTS:
        batch = requests(condition, count, run_length)
        seconds = best_of(repeats, lambda: analysis.get_multiple_xic(batch))[0]
        scanned = spectra * points  # every spectrum lies inside the pre-filter
        ceiling = copy_seconds(scanned * POINT_BYTES)
        rate, ceiling_rate = scanned / seconds, scanned / ceiling
        print(f"{count:>8} {seconds:>9.3f} {rate / 1e6:>10.1f} {ceiling_rate / 1e6:>18.1f} {rate / ceiling_rate:>6.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--spectra", type=int, default=20_000)
    parser.add_argument("--points", type=int, default=1_000)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--directory", default=None)
    parser.add_argument("--in-memory", action="store_true")
    arguments = parser.parse_args()
    n, p = arguments.spectra, arguments.points
    if arguments.in_memory:
        patch, analysis = memory_analysis(n, p)
        measure("in memory (stand-in reader)", analysis, n, p, arguments.repeats)
        patch.undo()
        return
    with tempfile.TemporaryDirectory(dir=arguments.directory) as directory:
        for encoding in ("raw", "zstd"):
            ozra_file, analysis = file_analysis(directory, n, p, encoding)
            with ozra_file:
                measure(f"{encoding} points", analysis, n, p, arguments.repeats)


if __name__ == "__main__":
    main()
