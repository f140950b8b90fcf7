"""Opening an MS analysis of 100,000 spectra, its TIC and BPC, and 10,000 nearest-spectrum searches.

Each figure is also given as a ratio to a plain Python loop over a list of 100,000 floats doing
the same comparisons: the floor of interpreted code. A ratio below 1 is faster than that floor.

    python benchmarks/bench_ms_analysis.py [--spectra 100000] [--searches 10000] [--directory DIR]
"""

import argparse
import gc
import os
import tempfile
import tracemalloc

import numpy as np

from ozra_data_access._internal._enum import PolarityTypes
from ozra_data_access.access import OzraFile
from ozra_data_access.writer import (
    AcquisitionConditionData,
    AcquisitionCoreConditionData,
    FunctionData,
    MeasurementData,
    SpectrumData,
    write_file,
)
from timing import best_of

CONDITIONS = [  # (ms_level, polarity, collision energy), cycled through the spectra
    (1, PolarityTypes.POSITIVE, None),
    (2, PolarityTypes.POSITIVE, 15.0),
    (2, PolarityTypes.POSITIVE, 35.0),
    (1, PolarityTypes.NEGATIVE, None),
    (2, PolarityTypes.NEGATIVE, 15.0),
    (2, PolarityTypes.NEGATIVE, 35.0),
]


def write(path, spectra, stored_list):
    x = np.array([150.0, 250.0, 350.0, 450.0])
    intensity = np.array([1.0, 4.0, 2.0, 3.0])

    def generate():
        for i in range(spectra):
            k = i % len(CONDITIONS)
            ms_level, polarity, energy = CONDITIONS[k]
            yield SpectrumData(
                retention_time=i * 0.001, x=x, intensity=intensity, ms_level=ms_level, polarity=polarity,
                collision_energy=energy, acquisition_condition_index=k if stored_list else None,
            )

    stored = None
    if stored_list:
        stored = [
            AcquisitionConditionData(AcquisitionCoreConditionData(ms_level=m, polarity=p, collision_energy=e))
            for m, p, e in CONDITIONS
        ]
    function = FunctionData.qual_ms(generate(), acquisition_conditions=stored)
    return write_file(path, [MeasurementData([function])], point_encoding="raw")


def open_memory(measurement):
    """Bytes held by an opened analysis (its index records, descriptions and conditions)."""
    gc.collect()
    tracemalloc.start()
    analysis = measurement.get_qual_analysis(0)
    held = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    del analysis
    return held


# ---- the floor: plain Python over a list of floats -------------------------------------------

def floor_open(rts, keys):
    """One object per spectrum and a set of the distinct condition keys."""
    records, distinct = [], set()
    for rt, key in zip(rts, keys):
        if rt != None:  # noqa: E711 - the comparison the analysis makes
            records.append((rt, key))
        distinct.add(key)
    return records, distinct


def floor_chromatogram(rts, keys, wanted):
    return [(i, rt) for i, (rt, key) in enumerate(zip(rts, keys)) if rt != None and key == wanted]  # noqa: E711


def floor_nearest(rts, target):
    min_diff, found = 1.7976931348623157e308, -1
    for i, rt in enumerate(rts):
        if rt != None:  # noqa: E711
            diff = abs(rt - target)
            if diff < min_diff:
                min_diff, found = diff, i
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--spectra", type=int, default=100_000)
    parser.add_argument("--searches", type=int, default=10_000)
    parser.add_argument("--directory", default=None)
    args = parser.parse_args()
    n, searches = args.spectra, args.searches

    rts = [i * 0.001 for i in range(n)]
    keys = [i % len(CONDITIONS) for i in range(n)]
    targets = [n * 0.001 * j / searches for j in range(searches)]
    floor_open_s, _ = best_of(3, lambda: floor_open(rts, keys))
    floor_chrom_s, _ = best_of(3, lambda: floor_chromatogram(rts, keys, 0))
    sample = 50  # the floor's searches are timed on a sample and scaled
    floor_search_s = best_of(3, lambda: [floor_nearest(rts, t) for t in targets[:sample]])[0] * searches / sample

    rows = []
    with tempfile.TemporaryDirectory(dir=args.directory) as folder:
        for stored_list in (True, False):
            label = "stored condition list" if stored_list else "conditions from spectra"
            path = write(os.path.join(folder, f"ms_{stored_list}.ozra"), n, stored_list)
            with OzraFile(str(path)) as ozra_file:
                measurement = ozra_file.get_measurement(0)
                open_s, analysis = best_of(3, lambda: measurement.get_qual_analysis(0))
                held = open_memory(measurement)
                rows.append((f"open analysis, {label}", open_s, floor_open_s, f"{held / n:.0f} B/spectrum"))
                if not stored_list:
                    continue
                condition = analysis.unique_acquisition_conditions[0]
                tic_s, tic = best_of(5, lambda: analysis.get_tic(condition))
                bpc_s, _ = best_of(5, lambda: analysis.get_bpc(condition))
                rows.append(("get_tic", tic_s, floor_chrom_s, f"{len(tic)} points"))
                rows.append(("get_bpc", bpc_s, floor_chrom_s, ""))
                search_s, _ = best_of(1, lambda: [analysis.find_nearest_spectrum(t) for t in targets])
                rows.append((f"{searches} find_nearest_spectrum", search_s, floor_search_s, ""))

    print(f"{n:,} spectra; floor = plain Python loop over a list of {n:,} floats, same comparisons")
    print(f"{'operation':48} {'seconds':>10} {'floor s':>10} {'ratio':>7}  notes")
    for name, seconds, floor, notes in rows:
        print(f"{name:48} {seconds:10.4f} {floor:10.4f} {seconds / floor:7.2f}  {notes}")


if __name__ == "__main__":
    main()
