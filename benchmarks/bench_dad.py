"""DAD chromatogram and max plot against a vectorised numpy computation of the same values.

    PYTHONPATH=src python3 benchmarks/bench_dad.py [--spectra 20000] [--wavelengths 400]

A generated DAD function (absorbance bands eluting over time) is measured two ways:
- file: written with the writer, opened with OzraFile, read through the native reader;
- memory: the same spectra handed out from memory as ready point arrays by a stand-in
  reader: the per-spectrum loop and the sweep without file reading and decoding (the
  stand-in's own Python calls still count).
Each row gives spectra per second and the time as a multiple of numpy's over the same
values already in memory as one 2-D array (the numpy time excludes loading the data).
Both results are checked against numpy's before any figure is printed.
"""

import argparse
import os
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))

from ozra_data_access.access import OzraFile  # noqa: E402
from ozra_data_access.common import ValueRange  # noqa: E402
from ozra_data_access.writer import FunctionData, MeasurementData, SpectrumData, write_file  # noqa: E402
from timing import best_of  # noqa: E402

WINDOW = (250.3, 280.7)
TOLERANCE = 2.0


def generate(spectra, wavelengths):
    """Retention times, wavelengths and absorbance (float32 values, as the file stores them)."""
    rng = np.random.default_rng(6)
    x = 190.0 + np.arange(wavelengths, dtype=float)
    times = np.linspace(0.0, 30.0, spectra)
    bands = rng.uniform(200.0, 560.0, 12)
    widths = rng.uniform(8.0, 30.0, 12)
    apexes = rng.uniform(1.0, 29.0, 12)
    elution = np.exp(-0.5 * ((times[:, None] - apexes) / 0.2) ** 2)
    shapes = np.exp(-0.5 * ((x[None, :] - bands[:, None]) / widths[:, None]) ** 2)
    y = elution @ shapes + rng.normal(0.0, 1e-3, (spectra, wavelengths))
    return times, x, y.astype(np.float32).astype(float)


def numpy_chromatogram(x, y, low, high):
    """Window mean (trapezoid on the interpolated spectra) and wavelength of the highest value,
    for a window lying strictly inside the wavelengths and holding at least one of them."""
    j_low = np.searchsorted(x, low, side="left") - 1
    j_high = np.searchsorted(x, high, side="left") - 1
    at_low = y[:, j_low] + (y[:, j_low + 1] - y[:, j_low]) / (x[j_low + 1] - x[j_low]) * (low - x[j_low])
    at_high = y[:, j_high] + (y[:, j_high + 1] - y[:, j_high]) / (x[j_high + 1] - x[j_high]) * (high - x[j_high])
    inner = slice(j_low + 1, j_high + 1)
    values = np.column_stack([at_low, y[:, inner], at_high])
    breakpoints = np.concatenate([[low], x[inner], [high]])
    mean = np.trapezoid(values, breakpoints, axis=1) / (high - low)
    return mean, breakpoints[np.argmax(values, axis=1)]


def numpy_max_plot(x, y, low, high, tolerance):
    """Mean within the tolerance around each spectrum's highest point in the window, and its wavelength."""
    inside = np.flatnonzero((x >= low) & (x <= high))
    peak = inside[np.argmax(y[:, inside], axis=1)]
    first = np.searchsorted(x, x - tolerance, side="left")
    stop = np.searchsorted(x, x + tolerance, side="right")
    sums = np.concatenate([np.zeros((len(y), 1)), np.cumsum(y, axis=1)], axis=1)
    rows = np.arange(len(y))
    mean = (sums[rows, stop[peak]] - sums[rows, first[peak]]) / (stop[peak] - first[peak])
    return mean, x[peak]


def check(points, expected_intensity, expected_wavelength, label):
    intensity = np.array([p.intensity for p in points], dtype=float)
    wavelength = np.array([p.x for p in points], dtype=float)
    if not (np.allclose(intensity, expected_intensity, rtol=1e-9, atol=1e-9)
            and np.array_equal(wavelength, expected_wavelength)):
        sys.exit(f"{label}: results differ from numpy's")


def measure(label, analysis, x, y, repeats):
    window = ValueRange(*WINDOW)
    numpy_chromatogram_time, expected = best_of(repeats, lambda: numpy_chromatogram(x, y, *WINDOW))
    chromatogram_time, points = best_of(repeats, lambda: analysis.get_chromatogram(window))
    check(points, *expected, f"{label} chromatogram")
    numpy_max_plot_time, expected = best_of(repeats, lambda: numpy_max_plot(x, y, *WINDOW, TOLERANCE))
    max_plot_time, points = best_of(repeats, lambda: analysis.get_max_plot(window, TOLERANCE))
    check(points, *expected, f"{label} max plot")
    for name, seconds, baseline in (("chromatogram", chromatogram_time, numpy_chromatogram_time),
                                    ("max plot", max_plot_time, numpy_max_plot_time)):
        print(f"{label:<7} {name:<13} {len(y) / seconds:12,.0f} spectra/s  {seconds * 1e3:9.1f} ms"
              f"  numpy {baseline * 1e3:8.1f} ms  ratio {seconds / baseline:6.2f}")


def write_dad_file(directory, times, x, y):
    """The function written to an Ozra file; returns its path."""
    path = os.path.join(directory, "dad.ozra")
    spectra = (SpectrumData(retention_time=float(t), intensity=row) for t, row in zip(times, y))
    return write_file(path, [MeasurementData([FunctionData.dad(spectra, wavelengths=x)])])


def memory_analysis(times, x, y):
    """The analysis over a stand-in reader that hands out ready point arrays from memory."""
    import pytest
    import dad_stand_ins
    from dad_stand_ins import POINT_DTYPE, ORIGIN, STRIDE, PointArray, StandInReader

    points = np.empty(y.shape, dtype=POINT_DTYPE)
    points["x"] = x
    points["intensity"] = y

    class MemoryReader(StandInReader):
        def _current_points(self):
            return points[(self.position - ORIGIN) // STRIDE]

        def _OzraFileReader__read_dad_spectrum(self, wavelength_arr):
            return self._current_points()

        def _OzraFileReader__read_dad_spectrum_for_multiple_xic(self, xic_arr, wavelength_arr):
            spectrum = self._current_points()
            for record in xic_arr:
                value_range = record._XicInfo__range
                first = np.searchsorted(x, value_range.min, side="left")
                stop = np.searchsorted(x, value_range.max, side="right")
                record._XicInfo__spectrum_point = spectrum[first:stop].view(PointArray)

    monkeypatch = pytest.MonkeyPatch()
    monkeypatch.setattr(dad_stand_ins, "StandInReader", MemoryReader)
    analysis, _, _ = dad_stand_ins.make_dad_analysis(monkeypatch, [None] * len(y), list(times),
                                                     wavelength_arr=tuple(x))
    return analysis


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--spectra", type=int, default=20_000)
    parser.add_argument("--wavelengths", type=int, default=400)
    parser.add_argument("--repeats", type=int, default=3)
    arguments = parser.parse_args()
    times, x, y = generate(arguments.spectra, arguments.wavelengths)
    print(f"{arguments.spectra} spectra x {arguments.wavelengths} wavelengths, window {WINDOW}, "
          f"tolerance {TOLERANCE}; best of {arguments.repeats}")
    with tempfile.TemporaryDirectory() as directory:
        with OzraFile(write_dad_file(directory, times, x, y)) as ozra_file:
            measure("file", ozra_file.get_measurement(0).get_dad_analysis(0), x, y, arguments.repeats)
    measure("memory", memory_analysis(times, x, y), x, y, arguments.repeats)


if __name__ == "__main__":
    main()
