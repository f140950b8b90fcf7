"""mzML read with pyteomics against the same run converted to Ozra: all points, the TIC, and 10 XICs.

    PYTHONPATH=src python3 benchmarks/bench_mzml.py [--spectra 2000] [--points 1500] [--repeats 3] [--source FILE]

Runs on the largest shared mzML file (shared/data beside the repository, or OZRA_SHARED_DATA;
origins in SOURCES.tsv there) and on a
synthetic run of --spectra MS1 spectra x --points centroids written as zlib-compressed 64-bit
mzML. Each side starts from its file on disk, as a user would:

- all points: pyteomics iterates `mzml.read` (and, second row, opens the indexed `mzml.MzML`
  and fetches every spectrum by position, `reader[i]`) and takes the m/z and intensity arrays.
  With lxml 6 pyteomics' seek to an indexed spectrum fails and it parses from the start
  instead, which makes the second row grow with the square of the run: use lxml < 6; Ozra opens the file and calls
  `get_spectrum_points()` on every spectrum, as numpy arrays.
- TIC: pyteomics iterates the spectra and keeps the "total ion current" of the MS1 scans (with
  its arrays decoded, as by default, and with decode_binary=False); Ozra opens the file and
  calls `get_tic` per MS1 condition.
- XIC of 10 m/z windows: pyteomics iterates the MS1 spectra and sums each window with
  `numpy.searchsorted`; Ozra opens the file and calls `get_multiple_xic` per MS1 condition.
  Both results are compared before the times are reported.

Times are the best of --repeats runs; ratio = pyteomics / Ozra (above 1: Ozra is faster).
"""

import argparse
import os
import pathlib
import sys
import tempfile
import time

import numpy as np

from ozra_data_access.access import OzraFile
from ozra_data_access.common import ValueRange
from ozra_data_access.convert import convert_mzml
from ozra_data_access.qual import ChromatogramFilterOption

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
import mzml_synthetic as syn  # noqa: E402
from timing import best_of  # noqa: E402

SHARED = pathlib.Path(
    os.environ.get("OZRA_SHARED_DATA") or pathlib.Path(__file__).resolve().parents[2] / "shared" / "data"
)
WINDOWS = 10
HALF_WIDTH = 0.005


# --- the synthetic run ------------------------------------------------------------------------------


def synthetic_spectra(count, points):
    rng = np.random.default_rng(0)
    for index in range(count):
        mz = np.sort(rng.uniform(100.0, 1000.0, points))
        intensity = rng.exponential(1e4, points).astype(np.float32).astype(np.float64)
        peak = int(np.argmax(intensity))
        params = syn.MS1 + [("MS:1000285", "total ion current", repr(float(intensity.sum()))),
                            ("MS:1000504", "base peak m/z", repr(float(mz[peak]))),
                            ("MS:1000505", "base peak intensity", repr(float(intensity[peak])))]
        yield syn.spectrum(index, mz, intensity, params, syn.scan(index * 0.01, window=(100, 1000)))


# --- pyteomics ----------------------------------------------------------------------------------------


def is_ms1(spectrum):
    return spectrum.get("ms level") == 1


def pyteomics_points(mzml, path):
    with mzml.read(path) as reader:
        return [(s["m/z array"], s["intensity array"]) for s in reader]


def pyteomics_indexed_points(mzml, path):
    with mzml.MzML(path) as reader:
        spectra = (reader[i] for i in range(len(reader)))
        return [(s["m/z array"], s["intensity array"]) for s in spectra]


def pyteomics_tic(mzml, path, decode_binary=True):
    with mzml.read(path, decode_binary=decode_binary) as reader:
        return [float(s["total ion current"]) for s in reader if is_ms1(s)]


def pyteomics_xic(mzml, path, windows):
    lows = np.array([w[0] for w in windows])
    highs = np.array([w[1] for w in windows])
    rows = []
    with mzml.read(path) as reader:
        for s in reader:
            if not is_ms1(s):
                continue
            mz, intensity = s["m/z array"], s["intensity array"]
            cumulative = np.concatenate(([0.0], np.cumsum(intensity, dtype=np.float64)))
            rows.append(cumulative[np.searchsorted(mz, highs, "right")] - cumulative[np.searchsorted(mz, lows, "left")])
    return np.array(rows).T


# --- Ozra ---------------------------------------------------------------------------------------------


def ms1_conditions(analysis):
    return [c for c in analysis.unique_acquisition_conditions if c.ms_level == 1]


def ozra_points(path):
    with OzraFile(path) as ozra:
        analysis = ozra.get_measurement(0).get_qual_analysis(0)
        return [np.asarray(analysis.get_spectrum(i).get_spectrum_points()) for i in range(analysis.get_spectra_count())]


def ozra_tic(path):
    with OzraFile(path) as ozra:
        analysis = ozra.get_measurement(0).get_qual_analysis(0)
        points = [p for c in ms1_conditions(analysis) for p in analysis.get_tic(c)]
        return [p.intensity for p in sorted(points, key=lambda p: p.spectrum_index)]


def ozra_xic(path, windows):
    with OzraFile(path) as ozra:
        analysis = ozra.get_measurement(0).get_qual_analysis(0)
        conditions = ms1_conditions(analysis)
        chromatograms = [[] for _ in windows]
        for condition in conditions:
            requests = [ChromatogramFilterOption(condition, ValueRange(low, high)) for low, high in windows]
            for chromatogram, xic in zip(chromatograms, analysis.get_multiple_xic(requests)):
                chromatogram.extend(xic)
        return np.array([[p.intensity for p in sorted(c, key=lambda p: p.spectrum_index)] for c in chromatograms])


def xic_windows(mzml, path):
    """10 windows around the base peaks of MS1 spectra spread over the run."""
    with mzml.read(path) as reader:
        peaks = [float(s["m/z array"][np.argmax(s["intensity array"])]) for s in reader
                 if is_ms1(s) and len(s["m/z array"])]
    picks = np.linspace(0, len(peaks) - 1, WINDOWS).astype(int)
    return [(peaks[i] - HALF_WIDTH, peaks[i] + HALF_WIDTH) for i in picks]


# --- the table ----------------------------------------------------------------------------------------


def measure(mzml, label, source, directory, repeats):
    target = os.path.join(directory, pathlib.Path(source).name + ".ozra")
    started = time.perf_counter()
    convert_mzml(source, target)
    converted_in = time.perf_counter() - started
    pyteomics_points(mzml, source)  # warms the ontology pyteomics loads once per process
    windows = xic_windows(mzml, source)
    rows = [
        ("all points (mzml.read)", lambda: pyteomics_points(mzml, source), lambda: ozra_points(target)),
        ("all points (MzML indexed)", lambda: pyteomics_indexed_points(mzml, source), lambda: ozra_points(target)),
        ("TIC of MS1", lambda: pyteomics_tic(mzml, source), lambda: ozra_tic(target)),
        ("TIC, decode_binary=False", lambda: pyteomics_tic(mzml, source, False), lambda: ozra_tic(target)),
        (f"XIC of {WINDOWS} windows", lambda: pyteomics_xic(mzml, source, windows), lambda: ozra_xic(target, windows)),
    ]
    print(f"\n{label}: {os.path.getsize(source) / 1e6:.1f} MB mzML -> {os.path.getsize(target) / 1e6:.1f} MB Ozra, "
          f"converted in {converted_in:.2f} s")
    print(f"{'operation':<28} {'pyteomics s':>12} {'Ozra s':>9} {'ratio':>7}")
    for name, theirs, ours in rows:
        their_seconds, their_result = best_of(repeats, theirs)
        our_seconds, our_result = best_of(repeats, ours)
        check(name, their_result, our_result)
        print(f"{name:<28} {their_seconds:>12.4f} {our_seconds:>9.4f} {their_seconds / our_seconds:>7.1f}")


def check(name, theirs, ours):
    """The two sides computed the same thing (the Ozra file keeps every value exactly)."""
    if name.startswith("all points"):
        same = len(theirs) == len(ours) and all(
            np.array_equal(mz, p[:, 0]) and np.array_equal(i, p[:, 1]) for (mz, i), p in zip(theirs, ours))
    elif name.startswith("TIC"):
        same = theirs == ours
    else:
        same = theirs.shape == ours.shape and np.allclose(theirs, ours, rtol=1e-9)
    if not same:
        raise SystemExit(f"{name}: pyteomics and Ozra disagree")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--spectra", type=int, default=2000)
    parser.add_argument("--points", type=int, default=1500)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--source", help="an mzML file to use instead of the largest shared one")
    arguments = parser.parse_args()
    try:
        from pyteomics import mzml
    except ImportError:
        print("pyteomics is not installed (pip install pyteomics lxml psims): nothing to compare with")
        return 0
    shared = sorted(SHARED.glob("*.mzML"), key=os.path.getsize) if SHARED.is_dir() else []
    source = arguments.source or (str(shared[-1]) if shared else None)
    with tempfile.TemporaryDirectory() as directory:
        if source is not None:
            measure(mzml, pathlib.Path(source).name, source, directory, arguments.repeats)
        synthetic = os.path.join(directory, "synthetic.mzML")
        syn.write_mzml(synthetic, synthetic_spectra(arguments.spectra, arguments.points))
        measure(mzml, f"synthetic, {arguments.spectra} spectra x {arguments.points} points", synthetic, directory,
                max(1, arguments.repeats - 1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
