"""Export: mzML spectra per second against psims alone, to_arrow() against a Python loop, memory.

    PYTHONPATH=src python3 benchmarks/bench_export.py [--scans 2000] [--points 500]

A generated run (write_sample: MS1/MS2 of both polarities with profile points on MS1, DAD spectra)
is measured three ways:
- mzML: `export` (indexed mzML 1.1, 64-bit, zlib) against psims writing the same spectra (MS
  centroid points, MS1 profile points as two more arrays, DAD spectra with their wavelengths) from
  numpy arrays already in memory, with only MS level, polarity and scan start time: the floor an
  exporter over psims can reach. Each row gives spectra per second.
- Arrow: `QualAnalysis.to_arrow()` against building the same table from `spectrum_arrays` in a
  Python loop (lists of the per-point values), both checked equal first.
- Memory: the peak resident size of a process exporting the run to mzML and to Parquet, at the
  run's size and at four times its spectra: flat when the export streams.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import warnings

import numpy as np
import pyarrow

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from ozra_data_access.access import OzraFile  # noqa: E402
from ozra_data_access.arrays import spectrum_arrays  # noqa: E402
from ozra_data_access.export import export  # noqa: E402
from ozra_data_access.export.descriptions import has_profile  # noqa: E402
from ozra_data_access.samples import write_sample  # noqa: E402
from timing import best_of  # noqa: E402


def psims_alone(spectra, dad, path):
    """psims writing the points, retention time, MS level and polarity of each MS spectrum, then the
    DAD spectra."""
    from psims.mzml.writer import MzMLWriter

    with open(path, "wb") as file, MzMLWriter(file, close=False) as writer:
        writer.controlled_vocabularies()
        writer.file_description(["MS1 spectrum", "MSn spectrum"])
        writer.software_list([{"id": "bench", "version": "1", "params": ["custom unreleased software tool"]}])
        writer.instrument_configuration_list([writer.InstrumentConfiguration(id="ic", component_list=[])])
        writer.data_processing_list([{"id": "dp", "processing_methods": [
            {"order": 0, "software_reference": "bench", "params": ["Conversion to mzML"]}]}])
        encoding = np.float64
        with writer.run(id="bench"), writer.spectrum_list(count=len(spectra) + len(dad)):
            for index, (x, intensity, profile, time, level, positive) in enumerate(spectra):
                other = [] if profile is None else [("profile m/z array", profile[0]),
                                                    ("profile intensity array", profile[1])]
                writer.write_spectrum(x, intensity, id=f"index={index}", polarity=1 if positive else -1,
                                      scan_start_time=time, params=[{"ms level": level}], other_arrays=other,
                                      encoding=encoding)
            for index, (wavelength, intensity, time) in enumerate(dad, len(spectra)):
                writer.write_spectrum(None, intensity, id=f"index={index}", polarity=None, scan_start_time=time,
                                      params=["electromagnetic radiation spectrum"], encoding=encoding,
                                      other_arrays=[({"name": "wavelength array", "unit_name": "nanometer"},
                                                     wavelength)])


def loaded_spectra(path):
    """The MS spectra (x, intensity, profile points or None, time, MS level, positive) and the DAD
    spectra (wavelength, intensity, time) of the run, as numpy arrays."""
    with OzraFile(path) as ozra:
        measurement = ozra.get_measurement(0)
        analysis = measurement.get_qual_analysis(0)
        spectra = []
        for i in range(analysis.get_spectra_count()):
            spectrum = analysis.get_spectrum(i)
            condition = spectrum.acquisition_condition
            profile = spectrum_arrays(spectrum.get_profile_spectrum_points()) if has_profile(spectrum) else None
            spectra.append((*spectrum_arrays(spectrum.get_spectrum_points()), profile, spectrum.retention_time,
                            condition.ms_level, condition.polarity.name == "POSITIVE"))
        dad_analysis = measurement.get_dad_analysis(0)
        dad = [(*spectrum_arrays(s.get_spectrum_points()), s.retention_time)
               for s in map(dad_analysis.get_spectrum, range(dad_analysis.get_spectra_count()))]
    return spectra, dad


def loop_table(analysis):
    """The to_arrow() table, built the plain way: per spectrum, per-point Python lists."""
    conditions = {c: i for i, c in enumerate(analysis.unique_acquisition_conditions)}
    columns = {name: [] for name in ("spectrum_index", "retention_time", "ms_level", "polarity", "condition_index",
                                     "profile", "x", "intensity")}
    for i in range(analysis.get_spectra_count()):
        spectrum = analysis.get_spectrum(i)
        condition = spectrum.acquisition_condition
        blocks = [(False, spectrum.get_spectrum_points())]
        if has_profile(spectrum):
            blocks.append((True, spectrum.get_profile_spectrum_points()))
        for profile, points in blocks:
            x, intensity = spectrum_arrays(points)
            for value, weight in zip(x.tolist(), intensity.tolist()):
                columns["spectrum_index"].append(i)
                columns["retention_time"].append(spectrum.retention_time)
                columns["ms_level"].append(condition.ms_level)
                columns["polarity"].append(condition.polarity.name)
                columns["condition_index"].append(conditions[condition])
                columns["profile"].append(profile)
                columns["x"].append(value)
                columns["intensity"].append(weight)
    return pyarrow.table(columns)


def peak_memory_mb(source, target):
    """The peak resident size (MB) of a fresh process exporting `source` to `target`."""
    # VmHWM, not ru_maxrss: Linux carries a parent's ru_maxrss over into the child it executes.
    code = ("import sys, warnings; warnings.simplefilter('ignore');"
            "from ozra_data_access.export import export; export(sys.argv[1], sys.argv[2], force=True);"
            "print(next(l for l in open('/proc/self/status') if l.startswith('VmHWM')).split()[1])")
    result = subprocess.run([sys.executable, "-c", code, source, target], capture_output=True, text=True, check=True)
    return int(result.stdout.split()[-1]) / 1024


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scans", type=int, default=2000)
    parser.add_argument("--points", type=int, default=500)
    args = parser.parse_args()
    warnings.simplefilter("ignore")  # psims leaves its vocabulary files to the collector
    folder = tempfile.mkdtemp(prefix="bench_export_")
    run = write_sample(os.path.join(folder, "run.ozra"), scans=args.scans, points_per_spectrum=args.points,
                       dad_spectra=args.scans // 4, seed=5)
    large = write_sample(os.path.join(folder, "large.ozra"), scans=4 * args.scans, points_per_spectrum=args.points,
                         dad_spectra=args.scans, seed=5)
    spectra, dad = loaded_spectra(run)
    total = len(spectra) + len(dad)

    ours, _ = best_of(2, lambda: export(run, os.path.join(folder, "run.mzML"), force=True))
    alone, _ = best_of(2, lambda: psims_alone(spectra, dad, os.path.join(folder, "psims.mzML")))
    print(f"mzML export of {len(spectra):,} MS + {len(dad):,} DAD spectra, {args.points} centroid points per MS "
          f"spectrum (64-bit, zlib)")
    print(f"  {'export (every stored value)':<44} {total / ours:>9,.0f} spectra/s")
    print(f"  {'psims alone (the arrays, 3 terms each)':<44} {total / alone:>9,.0f} spectra/s  "
          f"(export takes {ours / alone:.2f}x its time)")

    with OzraFile(run) as ozra:
        analysis = ozra.get_measurement(0).get_qual_analysis(0)
        native, table = best_of(3, analysis.to_arrow)
        looped, reference = best_of(1, lambda: loop_table(analysis))
    if not (table.column("x").equals(reference.column("x"))
            and table.column("intensity").equals(reference.column("intensity"))
            and table.column("polarity").cast(pyarrow.string()).equals(reference.column("polarity"))
            and table.column("condition_index").cast(pyarrow.int64()).equals(reference.column("condition_index"))):
        sys.exit("to_arrow() differs from the table built in a loop")
    print(f"\nto_arrow() of {table.num_rows:,} points ({len(spectra):,} spectra)")
    print(f"  {'to_arrow()':<44} {native * 1000:>9,.1f} ms  {table.num_rows / native / 1e6:,.1f} M points/s")
    print(f"  {'Python loop over spectrum_arrays':<44} {looped * 1000:>9,.1f} ms  ({looped / native:,.0f}x)")

    print("\npeak resident memory of one export process (MB)")
    for kind in ("mzML", "parquet"):
        small = peak_memory_mb(run, os.path.join(folder, f"small.{kind}"))
        big = peak_memory_mb(large, os.path.join(folder, f"large.{kind}"))
        print(f"  {kind:<8} {args.scans:>7,} scans {small:>7.0f}   {4 * args.scans:>7,} scans {big:>7.0f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
