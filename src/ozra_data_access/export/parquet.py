"""An Ozra file as Parquet: a directory holding one long table per kind of data.

    OUT.parquet/ms_points.parquet    every MS point (centroid and profile)
    OUT.parquet/ms_spectra.parquet   one row per MS spectrum: its description
    OUT.parquet/dad_points.parquet   every DAD point
    OUT.parquet/traces.parquet       every point of the quantitative and analog traces

A file is written only for a kind the run has. Each table carries the columns of
:mod:`ozra_data_access.export.tables` after ``measurement`` and ``analysis`` (and, for traces,
``analysis_kind``). Within an analysis the spectra are written by retention time, a row group
holding about 262,144 points, so a time range reads few row groups; the analyses follow one
another. Memory holds one row group at a time, whatever the run's size.
"""

from __future__ import annotations

import os
from typing import Any, Callable, Iterable, Optional

from ozra_data_access.export import tables  # first: it names the extra when pyarrow is missing

import pyarrow  # noqa: E402
import pyarrow.parquet  # noqa: E402
from ozra_data_access.export.targets import atomic_directory


class _TableFile:
    """One Parquet file, created when its first batch comes."""

    def __init__(self, path: str, schema: pyarrow.Schema, compression: str):
        self.path = path
        self.schema = schema
        self.compression = compression
        self.writer: Optional[pyarrow.parquet.ParquetWriter] = None
        self.rows = 0

    def write(self, batches: Iterable[pyarrow.RecordBatch], leading: dict) -> None:
        """Writes each batch as a row group, the `leading` constant columns (name: (type, value)) first."""
        for batch in batches:
            columns = [pyarrow.repeat(pyarrow.scalar(value, type_), batch.num_rows)
                       for type_, value in leading.values()]
            table = pyarrow.Table.from_arrays(columns + batch.columns, schema=self._schema(leading))
            if self.writer is None:
                self.writer = pyarrow.parquet.ParquetWriter(self.path, table.schema, compression=self.compression)
            self.writer.write_table(table, row_group_size=max(table.num_rows, 1))
            self.rows += table.num_rows

    def _schema(self, leading: dict) -> pyarrow.Schema:
        fields = [pyarrow.field(name, type_) for name, (type_, _) in leading.items()]
        return pyarrow.schema(fields + list(self.schema))

    def close(self) -> None:
        if self.writer is not None:
            self.writer.close()


def _where(measurement: int, analysis: int) -> dict:
    return {"measurement": (pyarrow.int32(), measurement), "analysis": (pyarrow.int32(), analysis)}


def export_parquet(source: "str | os.PathLike[str]", target: "str | os.PathLike[str]", *, force: bool = False,
                   compression: str = "zstd", rows: int = tables.BATCH_ROWS,
                   progress: Optional[Callable[[int, Optional[int]], None]] = None) -> dict:
    """Writes the Ozra file `source` as the Parquet directory `target`; returns the rows written per
    table name. `target` appears only when complete; an existing one is replaced only with `force`.
    `rows` is the number of points a row group holds (at least; a spectrum is never split).
    `progress` is called with the spectra written so far and their total."""
    from ozra_data_access.access import OzraFile

    with atomic_directory(target, force) as directory, OzraFile(source) as ozra:
        files = {name: _TableFile(os.path.join(directory, f"{name}.parquet"), schema, compression)
                 for name, schema in (("ms_points", tables.MS_POINTS_SCHEMA), ("ms_spectra", tables.MS_SPECTRA_SCHEMA),
                                      ("dad_points", tables.DAD_POINTS_SCHEMA), ("traces", tables.TRACES_SCHEMA))}
        try:
            done, total = 0, _spectra_total(ozra)
            for m in range(ozra.get_measurement_count()):
                measurement = ozra.get_measurement(m)
                for a in range(measurement.get_qual_analysis_count()):
                    analysis = measurement.get_qual_analysis(a)
                    order = tables.spectrum_order(analysis)
                    files["ms_points"].write(tables.ms_point_batches(analysis, order, rows), _where(m, a))
                    files["ms_spectra"].write(tables.ms_spectrum_batches(analysis, order), _where(m, a))
                    done += len(order)
                    _report(progress, done, total)
                for a in range(measurement.get_dad_analysis_count()):
                    analysis = measurement.get_dad_analysis(a)
                    order = tables.spectrum_order(analysis)
                    files["dad_points"].write(tables.dad_point_batches(analysis, order, rows), _where(m, a))
                    done += len(order)
                    _report(progress, done, total)
                for kind, count, get in (("quantitative", measurement.get_quan_analysis_count(),
                                          measurement.get_quan_analysis),
                                         ("analog", measurement.get_analog_analysis_count(),
                                          measurement.get_analog_analysis)):
                    for a in range(count):
                        leading = {**_where(m, a), "analysis_kind": (pyarrow.string(), kind)}
                        files["traces"].write(tables.trace_batches(get(a), rows), leading)
        finally:
            for file in files.values():
                file.close()
        return {name: file.rows for name, file in files.items() if file.writer is not None}


def _spectra_total(ozra: Any) -> int:
    total = 0
    for m in range(ozra.get_measurement_count()):
        measurement = ozra.get_measurement(m)
        total += sum(measurement.get_qual_analysis(a).get_spectra_count()
                     for a in range(measurement.get_qual_analysis_count()))
        total += sum(measurement.get_dad_analysis(a).get_spectra_count()
                     for a in range(measurement.get_dad_analysis_count()))
    return total


def _report(progress: Optional[Callable[[int, Optional[int]], None]], done: int, total: int) -> None:
    if progress is not None:
        progress(done, total)
