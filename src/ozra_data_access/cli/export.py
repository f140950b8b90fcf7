"""`ozra export`: an Ozra file out as indexed mzML (.mzML, .mzML.gz) or as Parquet tables (.parquet)."""

from __future__ import annotations

import os
import time

from ozra_data_access.cli.arguments import CommandError, add_command, add_mzml_options, non_negative_int
from ozra_data_access.cli.output import progress_bar


def register(commands, common) -> None:
    parser = add_command(commands, common, "export", run, help="export an Ozra file as mzML or Parquet",
                         description="Write an Ozra file as indexed mzML 1.1 (OUT.mzML or OUT.mzML.gz: one "
                                     "measurement) or as a directory of Parquet tables (OUT.parquet: every "
                                     "measurement; docs/export.md describes the tables). The target appears only "
                                     "when complete; an existing target is kept unless --force.")
    parser.add_argument("file", metavar="FILE", help="the Ozra file to export")
    parser.add_argument("target", metavar="OUT", help="OUT.mzML, OUT.mzML.gz or OUT.parquet")
    parser.add_argument("--force", action="store_true", help="replace OUT if it exists")
    parser.add_argument("--measurement", type=non_negative_int, default=0, metavar="N",
                        help="the measurement an mzML target holds (default 0)")
    add_mzml_options(parser)


def run(args) -> int:
    from ozra_data_access.export import ExportError, MzmlOptions, export, export_format

    started = time.perf_counter()
    try:
        kind = export_format(args.target)
        options = MzmlOptions(compression=args.compression, precision=args.precision, numpress=args.numpress)
        with progress_bar(f"exporting {os.path.basename(args.file)}") as progress:
            written = export(args.file, args.target, force=args.force, measurement=args.measurement,
                             options=options, progress=progress)
    except ExportError as error:
        raise CommandError(str(error)) from error
    counts = ", ".join(f"{count:,} {name.replace('_', ' ')}" for name, count in written.items())
    seconds = time.perf_counter() - started
    print(f"{args.file} -> {args.target} ({kind}: {counts or 'nothing to write'}; {seconds:.2f} s)")
    return 0
