"""Time to write Ozra files with the writer and with the sample generator.

    PYTHONPATH=src python3 benchmarks/bench_writer.py [--spectra 100000] [--points 100]

Writes into a temporary directory (or --directory) and prints seconds and file size per case.
"""

import argparse
import os
import tempfile
import time

import numpy as np

from ozra_data_access.samples import write_sample
from ozra_data_access.writer import FunctionData, MeasurementData, SpectrumData, write_file


def spectra(count, points):
    rng = np.random.default_rng(0)
    x = np.sort(rng.uniform(100.0, 1000.0, points))
    for index in range(count):
        intensity = rng.exponential(1000.0, points)
        yield SpectrumData(retention_time=index * 0.001, x=x, intensity=intensity,
                           supplemental_properties={"ConeVoltage": 30.0}, cone_voltage=30.0)


def timed(label, path, write):
    start = time.perf_counter()
    write()
    seconds = time.perf_counter() - start
    print(f"{label:<40} {seconds:7.2f} s  {os.path.getsize(path) / 1e6:9.1f} MB")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--spectra", type=int, default=100_000)
    parser.add_argument("--points", type=int, default=100)
    parser.add_argument("--directory", default=None)
    arguments = parser.parse_args()
    with tempfile.TemporaryDirectory(dir=arguments.directory) as directory:
        path = os.path.join(directory, "bench.ozra")
        n, p = arguments.spectra, arguments.points
        for encoding in ("raw", "zstd"):
            timed(f"write_file {n} x {p} {encoding}", path, lambda: write_file(
                path, [MeasurementData([FunctionData.qual_ms(spectra(n, p))])], point_encoding=encoding))
        timed(f"write_sample {n} scans x {p} points", path, lambda: write_sample(
            path, scans=n, points_per_spectrum=p, dad_spectra=n // 2))


if __name__ == "__main__":
    main()
