"""Analyses as long Arrow tables: one row per point, each row carrying its spectrum's values.

The points of each spectrum are read natively into float64 columns
(:func:`ozra_data_access.arrays.spectrum_arrays`); the per-spectrum values are repeated over the
points with numpy, and pyarrow takes the numpy buffers without copying them. Python runs once per
spectrum, never per point. docs/export.md describes every column and its unit.

``*_batches`` functions yield record batches of about ``rows`` rows over the spectra in the order
given (the Parquet export gives them by retention time); the ``*_table`` functions are the
``to_arrow()`` of the analyses: the whole analysis in spectrum order.
"""

from __future__ import annotations

import json
from typing import Any, Iterable, Iterator, Optional, Sequence

import numpy

from ozra_data_access.export.errors import INSTALL_EXPORT

try:
    import pyarrow
except ImportError as error:
    raise ImportError(f"Arrow tables and the Parquet export need pyarrow: {INSTALL_EXPORT} ({error})") from error

from ozra_data_access.arrays import spectrum_arrays
from ozra_data_access.export.descriptions import has_profile, spectrum_description

#: Rows per record batch (and so per Parquet row group): a time range reads few groups.
BATCH_ROWS = 1 << 18

POLARITIES = ("POSITIVE", "NEGATIVE", "BOTH")

MS_POINTS_SCHEMA = pyarrow.schema([
    ("spectrum_index", pyarrow.int64()),
    ("retention_time", pyarrow.float64()),
    ("ms_level", pyarrow.int16()),
    ("polarity", pyarrow.dictionary(pyarrow.int8(), pyarrow.string())),
    ("condition_index", pyarrow.int32()),
    ("profile", pyarrow.bool_()),
    ("x", pyarrow.float64()),
    ("intensity", pyarrow.float64()),
])

MS_SPECTRA_SCHEMA = pyarrow.schema([
    ("spectrum_index", pyarrow.int64()),
    ("retention_time", pyarrow.float64()),
    ("ms_level", pyarrow.int16()),
    ("polarity", pyarrow.string()),
    ("condition_index", pyarrow.int32()),
    ("spectrum_type", pyarrow.string()),
    ("precursor_index", pyarrow.int64()),
    ("precursor_mz", pyarrow.float64()),
    ("isolation_low", pyarrow.float64()),
    ("isolation_high", pyarrow.float64()),
    ("collision_energy", pyarrow.float64()),
    ("scan_low", pyarrow.float64()),
    ("scan_high", pyarrow.float64()),
    ("total_ion_current", pyarrow.float64()),
    ("base_peak_mz", pyarrow.float64()),
    ("base_peak_intensity", pyarrow.float64()),
    ("points", pyarrow.int64()),
    ("profile_points", pyarrow.int64()),
    ("native_id", pyarrow.string()),
    ("filter_string", pyarrow.string()),
    ("properties", pyarrow.string()),
])

DAD_POINTS_SCHEMA = pyarrow.schema([
    ("spectrum_index", pyarrow.int64()),
    ("retention_time", pyarrow.float64()),
    ("wavelength", pyarrow.float64()),
    ("intensity", pyarrow.float64()),
])

TRACES_SCHEMA = pyarrow.schema([
    ("trace_index", pyarrow.int32()),
    ("label", pyarrow.dictionary(pyarrow.int32(), pyarrow.string())),
    ("unit", pyarrow.dictionary(pyarrow.int32(), pyarrow.string())),
    ("retention_time", pyarrow.float64()),
    ("intensity", pyarrow.float64()),
])


def spectrum_order(analysis: Any) -> list[int]:
    """The spectrum indices of an MS or DAD analysis by retention time (spectrum order among equal times; spectra
    without a retention time last)."""
    times = [analysis.get_spectrum(i).retention_time for i in range(analysis.get_spectra_count())]
    return sorted(range(len(times)), key=lambda i: (times[i] is None, times[i] or 0.0))


class _Chunks:
    """Per-spectrum values and point arrays gathered until a batch is full."""

    def __init__(self) -> None:
        self.counts: list[int] = []
        self.values: dict[str, list] = {}
        self.arrays: dict[str, list] = {}
        self.rows = 0

    def add(self, count: int, values: dict, arrays: dict) -> None:
        self.counts.append(count)
        for name, value in values.items():
            self.values.setdefault(name, []).append(value)
        for name, array in arrays.items():
            self.arrays.setdefault(name, []).append(array)
        self.rows += count

    def repeated(self, name: str, dtype: Any) -> pyarrow.Array:
        """The per-spectrum value `name` repeated over each spectrum's points; None becomes null."""
        return self._repeat(self.values[name], dtype)

    def coded(self, name: str, dictionary: Sequence[str], index_type: Any = pyarrow.int8()) -> pyarrow.Array:
        """A per-spectrum text value repeated as a dictionary column over the given texts."""
        codes = [None if v is None else dictionary.index(v) for v in self.values[name]]
        return pyarrow.DictionaryArray.from_arrays(self._repeat(codes, numpy.int32).cast(index_type),
                                                   pyarrow.array(dictionary, pyarrow.string()))

    def _repeat(self, values: list, dtype: Any) -> pyarrow.Array:
        missing = numpy.array([v is None for v in values], dtype=bool)
        filled = numpy.array([0 if v is None else v for v in values], dtype=dtype)
        counts = numpy.asarray(self.counts, dtype=numpy.int64)
        mask = numpy.repeat(missing, counts) if missing.any() else None
        return pyarrow.array(numpy.repeat(filled, counts), mask=mask)

    def joined(self, name: str) -> pyarrow.Array:
        arrays = self.arrays[name]
        return pyarrow.array(numpy.concatenate(arrays) if arrays else numpy.empty(0), pyarrow.float64())


def _batches(items: Iterable, add, build, rows: int) -> Iterator[pyarrow.RecordBatch]:
    chunks = _Chunks()
    for item in items:
        add(chunks, item)
        if chunks.rows >= rows:
            yield build(chunks)
            chunks = _Chunks()
    if chunks.counts:
        yield build(chunks)


def _polarity_name(polarity: Any) -> Optional[str]:
    name = getattr(polarity, "name", None)
    return name if name in POLARITIES else None


def _condition_indices(analysis: Any) -> dict:
    return {condition: i for i, condition in enumerate(analysis.unique_acquisition_conditions)}


# --- MS points --------------------------------------------------------------------------------------


def ms_point_batches(analysis: Any, order: Optional[Iterable[int]] = None,
                     rows: int = BATCH_ROWS) -> Iterator[pyarrow.RecordBatch]:
    """Record batches of `MS_POINTS_SCHEMA`: the centroid points of each spectrum, then its profile
    points (``profile`` true), spectra in `order` (spectrum order by default)."""
    conditions = _condition_indices(analysis)

    def add(chunks: _Chunks, index: int) -> None:
        spectrum = analysis.get_spectrum(index)
        stored = spectrum_description(spectrum)
        values = {"spectrum_index": index, "retention_time": stored.retention_time, "ms_level": stored.ms_level,
                  "polarity": _polarity_name(stored.polarity),
                  "condition_index": conditions.get(spectrum.acquisition_condition)}
        x, intensity = spectrum_arrays(spectrum.get_spectrum_points())
        chunks.add(len(x), {**values, "profile": False}, {"x": x, "intensity": intensity})
        if has_profile(spectrum):
            x, intensity = spectrum_arrays(spectrum.get_profile_spectrum_points())
            chunks.add(len(x), {**values, "profile": True}, {"x": x, "intensity": intensity})

    def build(chunks: _Chunks) -> pyarrow.RecordBatch:
        return pyarrow.RecordBatch.from_arrays([
            chunks.repeated("spectrum_index", numpy.int64),
            chunks.repeated("retention_time", numpy.float64),
            chunks.repeated("ms_level", numpy.int16),
            chunks.coded("polarity", POLARITIES),
            chunks.repeated("condition_index", numpy.int32),
            chunks.repeated("profile", bool),
            chunks.joined("x"),
            chunks.joined("intensity"),
        ], schema=MS_POINTS_SCHEMA)

    indices = range(analysis.get_spectra_count()) if order is None else order
    return _batches(indices, add, build, rows)


# --- MS spectrum descriptions -------------------------------------------------------------------------

#: Supplemental properties that have their own column in the spectrum table.
_COLUMN_PROPERTIES = ("NativeId", "FilterString")


def _bounds(value_range: Any) -> tuple[Optional[float], Optional[float]]:
    return (None, None) if value_range is None else (value_range.min, value_range.max)


def _properties_text(properties: dict) -> Optional[str]:
    rest = {k: v for k, v in properties.items() if k not in _COLUMN_PROPERTIES}
    return json.dumps(rest, sort_keys=True, default=str) if rest else None


def ms_spectrum_rows(analysis: Any, order: Optional[Iterable[int]] = None) -> Iterator[dict]:
    """One dict per spectrum with the columns of `MS_SPECTRA_SCHEMA`."""
    conditions = _condition_indices(analysis)
    for index in range(analysis.get_spectra_count()) if order is None else order:
        spectrum = analysis.get_spectrum(index)
        stored = spectrum_description(spectrum)
        isolation_low, isolation_high = _bounds(stored.precursor_range)
        scan_low, scan_high = _bounds(stored.mass_range)
        properties = stored.supplemental_properties
        yield {
            "spectrum_index": index, "retention_time": stored.retention_time, "ms_level": stored.ms_level,
            "polarity": _polarity_name(stored.polarity),
            "condition_index": conditions.get(spectrum.acquisition_condition),
            "spectrum_type": getattr(stored.spectrum_type, "name", None),
            "precursor_index": stored.precursor_index, "precursor_mz": stored.precursor_value,
            "isolation_low": isolation_low, "isolation_high": isolation_high,
            "collision_energy": stored.collision_energy, "scan_low": scan_low, "scan_high": scan_high,
            "total_ion_current": stored.current_total_ion, "base_peak_mz": stored.base_peak_mz,
            "base_peak_intensity": stored.base_peak_intensity,
            "points": len(spectrum.get_spectrum_points()),
            "profile_points": len(spectrum.get_profile_spectrum_points()) if has_profile(spectrum) else 0,
            "native_id": _text(properties.get("NativeId")), "filter_string": _text(properties.get("FilterString")),
            "properties": _properties_text(properties),
        }


def _text(value: Any) -> Optional[str]:
    return None if value is None else str(value)


def ms_spectrum_batches(analysis: Any, order: Optional[Iterable[int]] = None,
                        rows: int = 1 << 16) -> Iterator[pyarrow.RecordBatch]:
    """Record batches of `MS_SPECTRA_SCHEMA`, one row per spectrum."""
    batch: list[dict] = []
    for row in ms_spectrum_rows(analysis, order):
        batch.append(row)
        if len(batch) >= rows:
            yield pyarrow.RecordBatch.from_pylist(batch, schema=MS_SPECTRA_SCHEMA)
            batch = []
    if batch:
        yield pyarrow.RecordBatch.from_pylist(batch, schema=MS_SPECTRA_SCHEMA)


# --- DAD points ---------------------------------------------------------------------------------------


def dad_point_batches(analysis: Any, order: Optional[Iterable[int]] = None,
                      rows: int = BATCH_ROWS) -> Iterator[pyarrow.RecordBatch]:
    """Record batches of `DAD_POINTS_SCHEMA`, spectra in `order` (spectrum order by default)."""

    def add(chunks: _Chunks, index: int) -> None:
        spectrum = analysis.get_spectrum(index)
        wavelength, intensity = spectrum_arrays(spectrum.get_spectrum_points())
        chunks.add(len(wavelength), {"spectrum_index": index, "retention_time": spectrum.retention_time},
                   {"wavelength": wavelength, "intensity": intensity})

    def build(chunks: _Chunks) -> pyarrow.RecordBatch:
        return pyarrow.RecordBatch.from_arrays([
            chunks.repeated("spectrum_index", numpy.int64),
            chunks.repeated("retention_time", numpy.float64),
            chunks.joined("wavelength"),
            chunks.joined("intensity"),
        ], schema=DAD_POINTS_SCHEMA)

    indices = range(analysis.get_spectra_count()) if order is None else order
    return _batches(indices, add, build, rows)


# --- traces -------------------------------------------------------------------------------------------


def trace_batches(analysis: Any, rows: int = BATCH_ROWS) -> Iterator[pyarrow.RecordBatch]:
    """Record batches of `TRACES_SCHEMA`, traces in their order, each over its retention times."""
    traces = analysis.traces
    labels = sorted({trace.label for trace in traces})
    units = sorted({trace.unit for trace in traces if trace.unit is not None})

    def add(chunks: _Chunks, trace: Any) -> None:
        x, intensity = spectrum_arrays(trace.get_points())
        chunks.add(len(x), {"trace_index": trace.index, "label": trace.label, "unit": trace.unit},
                   {"retention_time": x, "intensity": intensity})

    def build(chunks: _Chunks) -> pyarrow.RecordBatch:
        return pyarrow.RecordBatch.from_arrays([
            chunks.repeated("trace_index", numpy.int32),
            chunks.coded("label", labels, pyarrow.int32()),
            chunks.coded("unit", units, pyarrow.int32()),
            chunks.joined("retention_time"),
            chunks.joined("intensity"),
        ], schema=TRACES_SCHEMA)

    return _batches(traces, add, build, rows)


# --- whole tables: to_arrow() -------------------------------------------------------------------------


def qual_table(analysis: Any) -> pyarrow.Table:
    """`QualAnalysis.to_arrow()`: every point of every spectrum (`MS_POINTS_SCHEMA`), spectrum order."""
    return pyarrow.Table.from_batches(list(ms_point_batches(analysis)), schema=MS_POINTS_SCHEMA)


def dad_table(analysis: Any) -> pyarrow.Table:
    """`DADAnalysis.to_arrow()`: every point of every DAD spectrum (`DAD_POINTS_SCHEMA`), spectrum order."""
    return pyarrow.Table.from_batches(list(dad_point_batches(analysis)), schema=DAD_POINTS_SCHEMA)


def trace_table(analysis: Any) -> pyarrow.Table:
    """`QuanAnalysis.to_arrow()` and `AnalogAnalysis.to_arrow()`: every trace point (`TRACES_SCHEMA`)."""
    return pyarrow.Table.from_batches(list(trace_batches(analysis)), schema=TRACES_SCHEMA)


def spectra_table(analysis: Any) -> pyarrow.Table:
    """The descriptions of a QualAnalysis's spectra, one row each (`MS_SPECTRA_SCHEMA`)."""
    return pyarrow.Table.from_batches(list(ms_spectrum_batches(analysis)), schema=MS_SPECTRA_SCHEMA)

