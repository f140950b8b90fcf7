"""What a worker does with one file: open it by path, extract, and return tables.

Each function here reads one file and returns pandas DataFrames whose columns are listed in
TABLE_COLUMNS; nothing is shared between files, so the same function runs in a thread, a
process or on another machine.
"""

from __future__ import annotations

from typing import Any, Iterator, Sequence

import numpy
import pandas

from ozra_data_access.access import OzraFile
from ozra_data_access.arrays import chromatogram_arrays
from ozra_data_access.batch.summary import peak_summary
from ozra_data_access.common import ValueRange
from ozra_data_access.targets import Target

# The columns of every table the batch functions produce, in order, with their dtypes.
TABLE_COLUMNS: dict[str, dict[str, str]] = {
    "xic": {"file": "string", "measurement": "int64", "analysis": "int64", "target": "string",
            "condition": "string", "spectrum_index": "int64", "retention_time": "float64",
            "intensity": "float64", "mz": "float64"},
    "xic_summary": {"file": "string", "target": "string", "measurement": "Int64", "analysis": "Int64",
                    "condition": "string", "points": "int64", "apex_retention_time": "float64",
                    "apex_intensity": "float64", "area": "float64"},
    "chromatogram": {"file": "string", "measurement": "int64", "analysis": "int64", "condition": "string",
                     "kind": "string", "spectrum_index": "int64", "retention_time": "float64",
                     "intensity": "float64", "mz": "float64"},
    "dad": {"file": "string", "measurement": "int64", "analysis": "int64", "wavelength_min": "float64",
            "wavelength_max": "float64", "spectrum_index": "int64", "retention_time": "float64",
            "intensity": "float64", "wavelength": "float64"},
    "errors": {"file": "string", "error": "string", "message": "string"},
}


def frame(table: str, parts: Sequence[dict[str, Any]] = ()) -> pandas.DataFrame:
    """A DataFrame of `table` from column dicts, each holding numpy arrays of one length and scalars
    that are repeated to it; one array per column is made for all parts at once."""
    columns = TABLE_COLUMNS[table]
    if not parts:
        return pandas.DataFrame({name: pandas.Series(dtype=dtype) for name, dtype in columns.items()})
    lengths = [next(len(value) for value in part.values() if isinstance(value, numpy.ndarray)) for part in parts]
    data = {}
    for name in columns:
        values = [part[name] for part in parts]
        if isinstance(values[0], numpy.ndarray):
            data[name] = numpy.concatenate(values)
        else:
            data[name] = _repeated(values, lengths, columns[name])
    return pandas.DataFrame(data).astype(columns)


def _repeated(values: list, lengths: list[int], dtype: str) -> Any:
    """values[i] repeated lengths[i] times, as a column of `dtype`. Text is made by pyarrow from the
    few distinct values (pandas would convert every repeated Python string)."""
    if dtype != "string":
        return numpy.repeat(numpy.array(values, dtype=object), lengths)
    import pyarrow

    codes, distinct = pandas.factorize(pandas.Series(values, dtype=object), use_na_sentinel=False)
    indices = pyarrow.array(numpy.repeat(codes.astype(numpy.int32), lengths))
    text = pyarrow.DictionaryArray.from_arrays(indices, pyarrow.array(list(distinct), pyarrow.string()))
    return pandas.arrays.ArrowStringArray(text.cast(pyarrow.string()))


def row_frame(table: str, rows: Sequence[dict[str, Any]]) -> pandas.DataFrame:
    """A DataFrame of `table` with one row per dict of scalars."""
    if not rows:
        return frame(table)
    columns = TABLE_COLUMNS[table]
    return pandas.DataFrame(list(rows), columns=list(columns)).astype(columns)


def _analyses(ozra_file: OzraFile, kind: str) -> Iterator[tuple[int, int, Any]]:
    """(measurement index, analysis index, analysis) of every `kind` ("qual" or "dad") analysis."""
    for m_index in range(ozra_file.get_measurement_count()):
        measurement = ozra_file.get_measurement(m_index)
        for a_index in range(getattr(measurement, f"get_{kind}_analysis_count")()):
            yield m_index, a_index, getattr(measurement, f"get_{kind}_analysis")(a_index)


def file_xics(path: str, targets: Sequence[Target]) -> dict[str, pandas.DataFrame]:
    """The XICs of `targets` in the file at `path`: a table of each: "xic", the long table (one row per spectrum of each
    target's chromatograms, each intensity exactly what get_xic gives) and "xic_summary" (one row per
    chromatogram, and one row without a condition for a target that no spectrum of the file fits).

    A target extracts from every acquisition condition it selects (Target.selects) in every MS
    analysis of the file, all targets of an analysis in one pass over its spectra.
    """
    rows: list[dict[str, Any]] = []
    summaries: list[dict[str, Any]] = []
    found = set()
    with OzraFile(path) as ozra_file:
        for m_index, a_index, analysis in _analyses(ozra_file, "qual"):
            requests, owners = [], []
            conditions = [(condition, str(condition)) for condition in analysis.unique_acquisition_conditions]
            for target in targets:
                for condition, condition_text in conditions:
                    if target.selects(condition):
                        requests.append(target.request(condition))
                        owners.append((target.id, condition_text))
            if not requests:
                continue
            for (target_id, condition_text), points in zip(owners, analysis.get_multiple_xic(requests)):
                found.add(target_id)
                columns = chromatogram_arrays(points)
                place = {"file": path, "measurement": m_index, "analysis": a_index, "target": target_id,
                         "condition": condition_text}
                rows.append({**place, "spectrum_index": columns.spectrum_index,
                             "retention_time": columns.retention_time, "intensity": columns.intensity,
                             "mz": columns.x})
                summaries.append({**place, **peak_summary(columns.retention_time, columns.intensity)})
    for target in targets:
        if target.id not in found:
            summaries.append({"file": path, "target": target.id, "measurement": None, "analysis": None,
                              "condition": None, **peak_summary(numpy.empty(0), numpy.empty(0))})
    return {"xic": frame("xic", rows), "xic_summary": row_frame("xic_summary", summaries)}


def file_chromatograms(path: str, kinds: Sequence[str] = ("TIC", "BPC")) -> dict[str, pandas.DataFrame]:
    """The TIC and/or BPC of every acquisition condition of every MS analysis of the file."""
    rows = []
    with OzraFile(path) as ozra_file:
        for m_index, a_index, analysis in _analyses(ozra_file, "qual"):
            for condition in analysis.unique_acquisition_conditions:
                for kind in kinds:
                    points = analysis.get_tic(condition) if kind == "TIC" else analysis.get_bpc(condition)
                    columns = chromatogram_arrays(points)
                    rows.append({"file": path, "measurement": m_index, "analysis": a_index,
                                 "condition": str(condition), "kind": kind, "spectrum_index": columns.spectrum_index,
                                 "retention_time": columns.retention_time, "intensity": columns.intensity,
                                 "mz": columns.x})
    return {"chromatogram": frame("chromatogram", rows)}


def file_dad_chromatograms(path: str, windows: Sequence[tuple[float, float]]) -> dict[str, pandas.DataFrame]:
    """The chromatogram of each wavelength window (min, max in nm) of every DAD analysis of the file."""
    rows = []
    with OzraFile(path) as ozra_file:
        for m_index, a_index, analysis in _analyses(ozra_file, "dad"):
            for low, high in windows:
                columns = chromatogram_arrays(analysis.get_chromatogram(ValueRange(low, high)))
                rows.append({"file": path, "measurement": m_index, "analysis": a_index,
                             "wavelength_min": low, "wavelength_max": high, "spectrum_index": columns.spectrum_index,
                             "retention_time": columns.retention_time, "intensity": columns.intensity,
                             "wavelength": columns.x})
    return {"dad": frame("dad", rows)}
