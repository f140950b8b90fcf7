"""Ozra runs out to the formats around them: indexed mzML, Parquet, Arrow tables.

    from ozra_data_access.export import export
    export("run.ozra", "run.mzML.gz")        # indexed mzML 1.1 (psims): spectra, DAD spectra, traces
    export("run.ozra", "run.parquet")        # a directory of Parquet tables, one per kind of data

`QualAnalysis.to_arrow()`, `DADAnalysis.to_arrow()` and the trace analyses' `to_arrow()` give the
same long tables in memory (:mod:`ozra_data_access.export.tables`). Needs the `export` extra
(psims, pyarrow); MS-Numpress needs the `numpress` extra. docs/export.md describes the tables and
what each format keeps.
"""

from __future__ import annotations

import os
from typing import Callable, Optional

from ozra_data_access.export.errors import ExportError, TargetExistsError
from ozra_data_access.export.options import MzmlOptions

__all__ = ["ExportError", "MzmlOptions", "TargetExistsError", "export", "export_format"]


def export_format(target: "str | os.PathLike[str]") -> str:
    """"mzml" or "parquet", from the target's name; ExportError for any other."""
    name = os.fspath(target).lower()
    if name.endswith((".mzml", ".mzml.gz")):
        return "mzml"
    if name.endswith(".parquet"):
        return "parquet"
    raise ExportError(f"{os.fspath(target)}: the target's name must end with .mzML, .mzML.gz or .parquet")


def export(source: "str | os.PathLike[str]", target: "str | os.PathLike[str]", *, force: bool = False,
           measurement: int = 0, options: MzmlOptions = MzmlOptions(), rows: Optional[int] = None,
           progress: Optional[Callable[[int, Optional[int]], None]] = None) -> dict:
    """Writes the Ozra file `source` as `target`, in the format its name gives; returns what was
    written (counts by kind). mzML holds one measurement (`measurement`) written with `options`;
    Parquet holds them all, a row group holding about `rows` points (default 262,144)."""
    if not os.path.isfile(source):
        raise ExportError(f"{os.fspath(source)}: no such file")
    if export_format(target) == "parquet":
        from ozra_data_access.export.parquet import export_parquet

        return export_parquet(source, target, force=force, progress=progress,
                              **({} if rows is None else {"rows": rows}))
    from ozra_data_access.export.mzml import export_mzml

    return export_mzml(source, target, measurement=measurement, options=options, force=force, progress=progress)
