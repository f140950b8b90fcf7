"""`ozra convert`: an mzML file or a vendor folder into an Ozra file, with a progress bar on a terminal."""

from __future__ import annotations

import os

from ozra_data_access.cli.arguments import add_command, add_point_encoding
from ozra_data_access.cli.output import progress_bar
from ozra_data_access.convert.sources import SUPPORTED_SOURCES


def register(commands, common) -> None:
    parser = add_command(commands, common, "convert", run, help="convert mzML or a vendor folder to an Ozra file",
                         description=f"Convert a run into an Ozra file. Supported sources: {SUPPORTED_SOURCES}; "
                                     "the kind is told from the content. The target appears only when complete; an "
                                     "existing target is kept unless --force.")
    parser.add_argument("source", metavar="IN", help="the mzML file, vendor folder or .dx archive to convert")
    parser.add_argument("target", metavar="OUT", help="the Ozra file to write")
    parser.add_argument("--force", action="store_true", help="replace OUT if it exists")
    parser.add_argument("--profile-only", action="store_true",
                        help="store profile spectra as they are, without picking centroid points")
    add_point_encoding(parser)
    parser.add_argument("--intensity-width", type=int, choices=(4, 8), default=None,
                        help="bytes per stored intensity (default: 4 where that keeps every value, else 8)")


def run(args) -> int:
    from ozra_data_access.convert import convert

    with progress_bar(f"converting {os.path.basename(os.path.normpath(args.source))}") as progress:
        report = convert(args.source, args.target, force=args.force, profile_only=args.profile_only,
                         progress=progress, point_encoding=args.point_encoding, intensity_width=args.intensity_width)
    print(report)
    return 0
