"""The runs the head-to-head benchmark reads: one generated run, written as Ozra (raw and zstd
point encodings) and as indexed mzML by psims, and the largest real mzML file of the shared data,
converted to Ozra by the package's converter.

Generated files are kept in benchmarks/results/peers/ and reused when their parameters match.
"""

from __future__ import annotations

import concurrent.futures
import os
import pathlib
from dataclasses import dataclass

import numpy as np

from ozra_data_access.common import PolarityTypes
from ozra_data_access.convert import convert_mzml
from ozra_data_access.writer import FunctionData, MeasurementData, SpectrumData, write_file

RESULTS = pathlib.Path(__file__).resolve().parents[1] / "results" / "peers"
SHARED = pathlib.Path(
    os.environ.get("OZRA_SHARED_DATA") or pathlib.Path(__file__).resolve().parents[3] / "shared" / "data"
)
CYCLE = 6  # one MS1 scan, then five MS2 scans
RUN_MINUTES = 30.0


@dataclass
class Run:
    """One run in every format: `ozra` maps an encoding ('raw', 'zstd') to its file."""

    name: str
    mzml: pathlib.Path
    ozra: dict
    spectra: int
    points: int  # total number of points of all spectra


def generated_spectra(count: int, points: int):
    """(retention time, ms level, precursor m/z, m/z, intensity) of each spectrum."""
    rng = np.random.default_rng(7)
    for index in range(count):
        mz = np.sort(rng.uniform(100.0, 1000.0, points))
        # Single-precision values, which every peer (pyopenms keeps float32 intensities) reads exactly.
        intensity = rng.exponential(1e4, points).astype(np.float32).astype(np.float64)
        level = 1 if index % CYCLE == 0 else 2
        precursor = None if level == 1 else float(np.round(rng.uniform(200.0, 900.0), 4))
        yield RUN_MINUTES * index / count, level, precursor, mz, intensity


def write_generated_ozra(path: pathlib.Path, count: int, points: int, encoding: str) -> None:
    spectra = []
    for rt, level, precursor, mz, intensity in generated_spectra(count, points):
        spectra.append(SpectrumData(
            retention_time=rt, x=mz, intensity=intensity, ms_level=level, polarity=PolarityTypes.POSITIVE,
            collision_energy=None if level == 1 else 20.0, precursor_value=precursor))
    write_file(path, [MeasurementData(sample_name="generated", functions=[FunctionData.qual_ms(spectra)])],
               point_encoding=encoding, intensity_width=8)


def write_generated_mzml(path: pathlib.Path, count: int, points: int) -> None:
    from psims.mzml.writer import MzMLWriter

    encoding = {"m/z array": np.float64, "intensity array": np.float64}
    temporary = path.with_suffix(".partial")
    with MzMLWriter(open(temporary, "wb"), close=True) as out:
        out.controlled_vocabularies()
        out.file_description(["MS1 spectrum", "MSn spectrum", "centroid spectrum"])
        out.software_list([{"id": "psims-writer", "version": "1", "params": ["python-psims"]}])
        out.instrument_configuration_list([out.InstrumentConfiguration(id="IC1", component_list=[])])
        out.data_processing_list([{"id": "DP1", "processing_methods": [
            {"order": 0, "software_reference": "psims-writer", "params": ["Conversion to mzML"]}]}])
        with out.run(id="generated", instrument_configuration="IC1"):
            with out.spectrum_list(count=count):
                for index, (rt, level, precursor, mz, intensity) in enumerate(generated_spectra(count, points)):
                    peak = int(np.argmax(intensity))
                    params = [{"ms level": level}, "MS1 spectrum" if level == 1 else "MSn spectrum",
                              {"total ion current": float(intensity.sum())},
                              {"base peak m/z": float(mz[peak])},
                              {"name": "base peak intensity", "value": float(intensity[peak]),
                               "unit_name": "number of detector counts"}]
                    info = None if precursor is None else {
                        "mz": precursor, "activation": ["collision-induced dissociation", {"collision energy": 20.0}]}
                    out.write_spectrum(mz, intensity, id=f"scan={index + 1}", params=params, scan_start_time=rt,
                                       precursor_information=info, encoding=encoding)
    os.replace(temporary, path)


def generated_run(count: int, points: int) -> Run:
    """The generated run's files, written when missing: the mzML (psims, ~2 ms of one core per
    spectrum) by a second process while this one writes the two Ozra files."""
    folder = RESULTS / f"generated-{count}x{points}"
    folder.mkdir(parents=True, exist_ok=True)
    mzml = folder / "run.mzML"
    with concurrent.futures.ProcessPoolExecutor(1) as pool:
        mzml_written = None
        if not mzml.exists():
            print(f"writing {mzml} ...", flush=True)
            mzml_written = pool.submit(write_generated_mzml, mzml, count, points)
        ozra = {}
        for encoding in ("raw", "zstd"):
            ozra[encoding] = folder / f"run-{encoding}.ozra"
            if not ozra[encoding].exists():
                print(f"writing {ozra[encoding]} ...", flush=True)
                write_generated_ozra(ozra[encoding], count, points, encoding)
        if mzml_written is not None:
            mzml_written.result()
    return Run(f"generated {count:,} x {points:,}", mzml, ozra, count, count * points)


def largest_real_file() -> pathlib.Path:
    files = sorted((p for p in SHARED.glob("*.mzML") if p.is_file()), key=lambda p: p.stat().st_size)
    if not files:
        raise SystemExit(f"no mzML files in {SHARED} (set OZRA_SHARED_DATA)")
    return files[-1]


def real_run() -> Run:
    source = largest_real_file()
    folder = RESULTS / "real"
    folder.mkdir(parents=True, exist_ok=True)
    ozra = {}
    for encoding in ("raw", "zstd"):
        ozra[encoding] = folder / f"{source.stem}-{encoding}.ozra"
        if not ozra[encoding].exists() or ozra[encoding].stat().st_mtime < source.stat().st_mtime:
            convert_mzml(source, ozra[encoding], point_encoding=encoding, intensity_width=8)
    from ozra_data_access.access import OzraFile

    with OzraFile(str(ozra["raw"])) as f:
        analysis = f.get_measurement(0).get_qual_analysis(0)
        count = analysis.get_spectra_count()
        points = sum(len(analysis.get_spectrum(i).get_spectrum_points()) for i in range(count))
    return Run(source.name, source, ozra, count, points)
