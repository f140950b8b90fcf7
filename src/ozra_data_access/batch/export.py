"""Exporting a cohort of Ozra files as mzML or Parquet, one Dask task per file."""

from __future__ import annotations

import os
import time
from dataclasses import dataclass
from typing import Any, Iterable, Optional

import pandas

from ozra_data_access.batch.runner import FileTask, Outcome, errors_frame, run_tasks
from ozra_data_access.export import MzmlOptions, export

#: The targets' endings by the format's name given to `export_files`.
EXPORT_SUFFIXES = {"mzML": ".mzML", "mzML.gz": ".mzML.gz", "parquet": ".parquet"}
EXPORT_COLUMNS = ["source", "target", "seconds", "written"]


@dataclass(frozen=True)
class ExportResult:
    """`exports`: one row per exported file (source, target, seconds, and what was written, as
    "name: count" joined by "; "); `errors`: one row per file that could not be exported (file,
    error, message)."""

    exports: pandas.DataFrame
    errors: pandas.DataFrame


def export_name(source: str, suffix: str) -> str:
    """The name of a file's export: run.ozra -> run.mzML.gz."""
    name = os.path.basename(source)
    return (name[:-len(".ozra")] if name.lower().endswith(".ozra") else name) + suffix


def export_files(files: Iterable["str | os.PathLike[str]"], out_dir: "str | os.PathLike[str]", *,
                 format: str = "mzML.gz", options: MzmlOptions = MzmlOptions(), force: bool = False,
                 client: Any = None, scheduler: Optional[str] = None, progress: bool = False) -> ExportResult:
    """Exports every Ozra file into `out_dir` as `format` ("mzML", "mzML.gz" or "parquet"; mzML
    written with `options`), one task per file. Existing targets are refused (an error row) unless
    `force`; two files with the same target name are refused before anything runs. `client`,
    `scheduler` and `progress` as for `extract_xics`."""
    if format not in EXPORT_SUFFIXES:
        raise ValueError(f"the export format is one of {', '.join(EXPORT_SUFFIXES)}, not {format!r}")
    paths = [os.fspath(path) for path in files]
    if not paths:
        raise ValueError("no files given")
    targets: dict[str, str] = {}
    for source in paths:
        target = os.path.join(os.fspath(out_dir), export_name(source, EXPORT_SUFFIXES[format]))
        if target in targets:
            raise ValueError(f"{source} and {targets[target]} would both be exported to {target}")
        targets[target] = source
    os.makedirs(out_dir, exist_ok=True)
    tasks = [FileTask(source, _export_file, (target, force, options)) for target, source in targets.items()]
    outcomes: list[Outcome] = run_tasks(tasks, client=client, scheduler=scheduler, progress=progress)
    exported = [outcome.tables["exports"] for outcome in outcomes if outcome.error is None]
    table = pandas.concat(exported, ignore_index=True) if exported else pandas.DataFrame(columns=EXPORT_COLUMNS)
    return ExportResult(table, errors_frame(outcomes))


def _export_file(source: str, target: str, force: bool, options: MzmlOptions) -> dict[str, pandas.DataFrame]:
    started = time.perf_counter()
    written = export(source, target, force=force, options=options)
    row = {"source": source, "target": target, "seconds": time.perf_counter() - started,
           "written": "; ".join(f"{name}: {count}" for name, count in written.items())}
    return {"exports": pandas.DataFrame([row], columns=EXPORT_COLUMNS)}
