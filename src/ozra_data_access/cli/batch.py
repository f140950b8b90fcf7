"""`ozra batch`: one extraction or conversion over many files, on Dask (the [batch] extra).

    ozra batch xic --targets targets.csv --out results.parquet FILES...
    ozra batch tic --out tic.parquet FILES...
    ozra batch dad --window 250:260 --out dad.parquet FILES...
    ozra batch convert --out-dir converted/ FILES...
    ozra batch export --out-dir exported/ --format mzML.gz FILES...

Local threads by default; --scheduler names a running Dask scheduler (tcp://host:8786) or one of
Dask's local schedulers. Each failed file is named on stderr and in the errors table beside the
output; the other files' results are written all the same, and the exit status is 1.
"""

from __future__ import annotations

import argparse
import sys

from ozra_data_access.cli.arguments import (
    CommandError,
    add_mzml_options,
    add_point_encoding,
    positive_int,
    value_range,
)


def register(commands, common) -> None:
    parser = commands.add_parser("batch", parents=[common], help="run an extraction or conversion over many files on Dask",
                                 description=__doc__.split("\n\n")[0])
    jobs = parser.add_subparsers(dest="job", required=True, metavar="JOB",
                                 help="what to run: xic, tic, dad, convert or export")

    xic = _job(jobs, common, "xic", run_xic, "the XICs of a target table in every file")
    xic.add_argument("--targets", required=True, metavar="CSV",
                     help="columns id, mz, ppm or da; optionally rt_min, rt_max (minutes), ms_level (default 1), "
                          "polarity (positive/negative; default either)")
    xic.add_argument("--targets-per-task", type=positive_int, metavar="N",
                     help="split the targets into tasks of N (default: one task per file for all targets)")
    _outputs(xic, "the long table as a Parquet dataset (a folder); the summary and errors beside it")

    tic = _job(jobs, common, "tic", run_tic, "the TIC and BPC of every acquisition condition of every file")
    tic.add_argument("--kind", choices=("TIC", "BPC", "both"), default="both", help="which chromatograms (default both)")
    _outputs(tic, "the long table as a Parquet dataset (a folder); the errors beside it")

    dad = _job(jobs, common, "dad", run_dad, "DAD chromatograms of wavelength windows in every file")
    dad.add_argument("--window", type=value_range, action="append", required=True, metavar="MIN:MAX",
                     help="a wavelength window in nm (repeat for more)")
    _outputs(dad, "the long table as a Parquet dataset (a folder); the errors beside it")

    convert = _job(jobs, common, "convert", run_convert, "convert many mzML files or vendor folders in parallel")
    convert.add_argument("--out-dir", required=True, metavar="DIR", help="where the .ozra files go (run.mzML -> DIR/run.ozra)")
    convert.add_argument("--force", action="store_true", help="replace existing Ozra files")
    add_point_encoding(convert)

    export = _job(jobs, common, "export", run_export, "export many Ozra files as mzML or Parquet in parallel")
    export.add_argument("--out-dir", required=True, metavar="DIR",
                        help="where the exports go (run.ozra -> DIR/run.mzML.gz, DIR/run.parquet...)")
    export.add_argument("--format", choices=("mzML", "mzML.gz", "parquet"), default="mzML.gz",
                        help="what to write (default mzML.gz)")
    export.add_argument("--force", action="store_true", help="replace existing exports")
    add_mzml_options(export)


def _job(jobs, common, name, run, help_text):
    parser = jobs.add_parser(name, parents=[common], help=help_text, description=help_text)
    parser.set_defaults(run=run)
    parser.add_argument("files", nargs="+", metavar="FILE", help="the files to read")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="a running Dask scheduler (tcp://host:8786), or threads (default) or processes")
    parser.add_argument("--quiet", action="store_true", help="no progress bar")
    return parser


def _outputs(parser, what):
    parser.add_argument("--out", required=True, metavar="PATH.parquet", help=what)
    parser.add_argument("--force", action="store_true", help="replace existing outputs")


def _batch():
    try:
        import ozra_data_access.batch as batch
    except ImportError as error:
        raise CommandError(str(error)) from None
    return batch


def _options(args: argparse.Namespace) -> dict:
    return {"scheduler": args.scheduler, "progress": not args.quiet}


def _report(args: argparse.Namespace, errors, written: dict[str, str] | None = None) -> int:
    """Names each failed file on stderr; says what was written; 1 when a file failed."""
    for row in errors.itertuples(index=False):
        print(f"ozra batch {args.job}: {row.file}: {row.error}: {row.message}", file=sys.stderr)
    done = len(set(args.files)) - errors["file"].nunique()
    if written:
        others = ", ".join(path for name, path in written.items() if name != "dataset")
        print(f"wrote {written['dataset']} ({done} of {len(set(args.files))} files) and {others}")
    return 1 if len(errors) else 0


def run_xic(args) -> int:
    batch = _batch()
    try:
        targets = batch.read_targets(args.targets)
    except batch.TargetError as error:
        raise CommandError(f"{args.targets}: {error}") from None
    result = batch.extract_xics(args.files, targets, out=args.out, force=args.force,
                                targets_per_task=args.targets_per_task, **_options(args))
    return _report(args, result.errors, result.written)


def run_tic(args) -> int:
    kinds = ("TIC", "BPC") if args.kind == "both" else (args.kind,)
    result = _batch().extract_chromatograms(args.files, kinds=kinds, out=args.out, force=args.force,
                                            **_options(args))
    return _report(args, result.errors, result.written)


def run_dad(args) -> int:
    result = _batch().extract_dad_chromatograms(args.files, args.window, out=args.out, force=args.force,
                                                **_options(args))
    return _report(args, result.errors, result.written)


def run_convert(args) -> int:
    result = _batch().convert_files(args.files, args.out_dir, force=args.force, point_encoding=args.point_encoding,
                                    **_options(args))
    for row in result.conversions.itertuples(index=False):
        print(f"{row.source} -> {row.target} ({row.bytes:,} bytes, {row.seconds:.2f} s): {row.analyses}")
    return _report(args, result.errors)


def run_export(args) -> int:
    from ozra_data_access.export import ExportError, MzmlOptions

    try:
        options = MzmlOptions(compression=args.compression, precision=args.precision, numpress=args.numpress)
    except ExportError as error:
        raise CommandError(str(error)) from None
    result = _batch().export_files(args.files, args.out_dir, format=args.format, options=options, force=args.force,
                                   **_options(args))
    for row in result.exports.itertuples(index=False):
        print(f"{row.source} -> {row.target} ({row.seconds:.2f} s): {row.written}")
    return _report(args, result.errors)
