"""The batch functions: one call runs an extraction or conversion over many files on Dask."""

from __future__ import annotations

import os
from dataclasses import dataclass, field
from typing import Any, Iterable, Optional, Sequence, Union

import pandas

from ozra_data_access.batch.extract import file_chromatograms, file_dad_chromatograms, file_xics, frame
from ozra_data_access.batch.output import ParquetOutput
from ozra_data_access.batch.runner import FileTask, Outcome, errors_frame, gathered, run_tasks
from ozra_data_access.targets import Target, TargetsLike, read_targets
from ozra_data_access.writer.points import check_point_encoding

PathLike = Union[str, "os.PathLike[str]"]


@dataclass(frozen=True)
class BatchResult:
    """The tables of a batch extraction.

    `chromatograms`: the long table (one row per file, chromatogram and spectrum), or None when it
    was written to Parquet (read it back with ``pandas.read_parquet(result.written["dataset"])``).
    `summary`: one row per file and chromatogram (XIC extractions only, else None). `errors`: one
    row per file that failed (columns file, error, message); the other files' results are complete.
    `written`: the paths of the tables written to Parquet, by name ("dataset", "summary", "errors").
    """

    chromatograms: Optional[pandas.DataFrame]
    summary: Optional[pandas.DataFrame]
    errors: pandas.DataFrame
    written: dict[str, str] = field(default_factory=dict)


@dataclass(frozen=True)
class ConversionResult:
    """`conversions`: one row per converted file (source, target, bytes, seconds, spectra, and the
    report's analyses and parts not stored, each joined by "; ");
    `errors`: one row per source that could not be converted (file, error, message)."""

    conversions: pandas.DataFrame
    errors: pandas.DataFrame


def _paths(files: Iterable[PathLike]) -> list[str]:
    paths = [os.fspath(path) for path in files]
    if not paths:
        raise ValueError("no files given")
    return paths


def _extract(tasks: list[FileTask], main: str, beside: Optional[str], *, out: Optional[PathLike], force: bool,
             client: Any, scheduler: Optional[str], progress: bool) -> BatchResult:
    """Runs `tasks` (whose work returns the tables `main` and, if given, `beside`) and gathers the
    tables, or has the workers write `main` as a Parquet dataset at `out`."""
    if out is None:
        outcomes = run_tasks(tasks, client=client, scheduler=scheduler, progress=progress)
        return BatchResult(gathered(outcomes, main), gathered(outcomes, beside) if beside else None,
                           errors_frame(outcomes))
    output = ParquetOutput(out, ("summary", "errors") if beside else ("errors",), force=force)
    try:
        tasks = [task.writing({main: output.part(number)}) for number, task in enumerate(tasks)]
        outcomes = run_tasks(tasks, client=client, scheduler=scheduler, progress=progress)
        summary = gathered(outcomes, beside) if beside else None
        errors = errors_frame(outcomes)
        written = output.commit(frame(main), {"errors": errors, **({"summary": summary} if beside else {})})
    except BaseException:
        output.abandon()
        raise
    return BatchResult(None, summary, errors, written)


def _chunks(targets: list[Target], size: Optional[int]) -> list[list[Target]]:
    if size is None:
        return [targets]
    if size < 1:
        raise ValueError(f"targets_per_task must be at least 1, found {size}")
    return [targets[start:start + size] for start in range(0, len(targets), size)]


def extract_xics(files: Iterable[PathLike], targets: TargetsLike, *, out: Optional[PathLike] = None,
                 force: bool = False, targets_per_task: Optional[int] = None, client: Any = None,
                 scheduler: Optional[str] = None, progress: bool = False) -> BatchResult:
    """The XICs of every target in every file.

    `targets`: a CSV path, a DataFrame or rows with the columns id, mz, ppm or da, and optionally
    rt_min, rt_max (minutes), ms_level (default: MS1) and polarity (default: either); see
    `read_targets`. One task per file reads the file once for all its targets (or once per chunk of
    `targets_per_task` targets). The long table has the columns file, measurement, analysis, target,
    condition, spectrum_index, retention_time, intensity and mz (the XIC point's base-peak m/z), each
    intensity exactly what `QualAnalysis.get_xic` gives; the summary has per file, target and
    condition the number of points, the apex (first point of highest intensity) and the trapezoid
    area over retention time, and a row without a condition for a target that no spectrum fits.

    `out`: write the long table as a Parquet dataset (a folder of one part per task, written by the
    workers) at this path, the summary and errors beside it (results.parquet ->
    results.summary.parquet, results.errors.parquet); existing outputs are refused unless `force`.
    `client`/`scheduler`/`progress`: where and how the tasks run (see `run_tasks`); by default on
    local threads. Workers open the files by path: on a cluster, give paths that every worker sees.
    """
    paths = _paths(files)
    chunks = _chunks(read_targets(targets), targets_per_task)
    tasks = [FileTask(path, file_xics, (tuple(chunk),)) for path in paths for chunk in chunks]
    return _extract(tasks, "xic", "xic_summary", out=out, force=force, client=client, scheduler=scheduler,
                    progress=progress)


def extract_chromatograms(files: Iterable[PathLike], *, kinds: Sequence[str] = ("TIC", "BPC"),
                          out: Optional[PathLike] = None, force: bool = False, client: Any = None,
                          scheduler: Optional[str] = None, progress: bool = False) -> BatchResult:
    """The TIC and/or BPC (`kinds`) of every acquisition condition of every MS analysis of every file:
    a long table with the columns file, measurement, analysis, condition, kind, spectrum_index,
    retention_time, intensity and mz (the base peak's m/z). Other arguments as for `extract_xics`."""
    kinds = tuple(kinds)
    unknown = [kind for kind in kinds if kind not in ("TIC", "BPC")]
    if unknown or not kinds:
        raise ValueError(f"kinds must be TIC and/or BPC, found {unknown or 'none'}")
    tasks = [FileTask(path, file_chromatograms, (kinds,)) for path in _paths(files)]
    return _extract(tasks, "chromatogram", None, out=out, force=force, client=client, scheduler=scheduler,
                    progress=progress)


def extract_dad_chromatograms(files: Iterable[PathLike], windows: Iterable[tuple[float, float]], *,
                              out: Optional[PathLike] = None, force: bool = False, client: Any = None,
                              scheduler: Optional[str] = None, progress: bool = False) -> BatchResult:
    """The chromatogram of every wavelength window (min, max in nm) in every DAD analysis of every
    file (`DADAnalysis.get_chromatogram`): a long table with the columns file, measurement, analysis,
    wavelength_min, wavelength_max, spectrum_index, retention_time, intensity and wavelength (where
    the window's absorbance is highest). Other arguments as for `extract_xics`."""
    pairs = tuple((float(low), float(high)) for low, high in windows)
    if not pairs:
        raise ValueError("no wavelength windows given")
    tasks = [FileTask(path, file_dad_chromatograms, (pairs,)) for path in _paths(files)]
    return _extract(tasks, "dad", None, out=out, force=force, client=client, scheduler=scheduler,
                    progress=progress)


_SOURCE_SUFFIXES = (".mzml.gz", ".mzml", ".mzxml", ".d", ".raw", ".dx")
CONVERSION_COLUMNS = ["source", "target", "bytes", "seconds", "spectra", "analyses", "not_stored"]


def ozra_name(source: str) -> str:
    """The name of a source's Ozra file: run.mzML.gz -> run.ozra."""
    name = os.path.basename(source.rstrip(os.sep))
    for suffix in _SOURCE_SUFFIXES:
        if name.lower().endswith(suffix):
            return name[: -len(suffix)] + ".ozra"
    return name + ".ozra"


def _convert_file(source: str, target: str, force: bool, point_encoding: str) -> dict[str, pandas.DataFrame]:
    from ozra_data_access.convert import convert

    report = convert(source, target, force=force, point_encoding=point_encoding)
    row = {"source": source, "target": target, "bytes": os.path.getsize(target), "seconds": report.seconds,
           "spectra": report.spectra, "analyses": "; ".join(report.analyses),
           "not_stored": "; ".join(f"{what}: {reason}" for what, reason in report.not_stored)}
    return {"conversions": pandas.DataFrame([row], columns=CONVERSION_COLUMNS)}


def convert_files(sources: Iterable[PathLike], out_dir: PathLike, *, force: bool = False,
                  point_encoding: str = "zstd", client: Any = None, scheduler: Optional[str] = None,
                  progress: bool = False) -> ConversionResult:
    """Converts every source into `out_dir` (run.mzML.gz -> out_dir/run.ozra), one task per file.
    Sources are whatever `ozra_data_access.convert.convert` reads (mzML, .mzML.gz, vendor folders).
    Existing targets are refused (an error row) unless `force`; two sources with the same target name,
    or an unknown `point_encoding` (see `convert`), are refused before anything runs. Other arguments
    as for `extract_xics`."""
    check_point_encoding(point_encoding)
    paths = _paths(sources)
    os.makedirs(out_dir, exist_ok=True)
    targets: dict[str, str] = {}
    for source in paths:
        target = os.path.join(os.fspath(out_dir), ozra_name(source))
        if target in targets:
            raise ValueError(f"{source} and {targets[target]} would both be converted to {target}")
        targets[target] = source
    tasks = [FileTask(source, _convert_file, (target, force, point_encoding)) for target, source in targets.items()]
    outcomes: list[Outcome] = run_tasks(tasks, client=client, scheduler=scheduler, progress=progress)
    conversions = [outcome.tables["conversions"] for outcome in outcomes if outcome.error is None]
    table = (pandas.concat(conversions, ignore_index=True) if conversions
             else pandas.DataFrame(columns=CONVERSION_COLUMNS))
    return ConversionResult(table, errors_frame(outcomes))


