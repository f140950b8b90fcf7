"""`ozra convert`: an mzML file into an Ozra file."""

from __future__ import annotations

import os
import time

from ozra_data_access.cli.arguments import add_command


def register(commands, common) -> None:
    parser = add_command(commands, common, "convert", run, help="convert an mzML file (.mzML or .mzML.gz) to an Ozra file")
    parser.add_argument("source", metavar="IN", help="the file to convert")
    parser.add_argument("target", metavar="OUT", help="the Ozra file to write")
    parser.add_argument("--point-encoding", choices=("zstd", "raw"), default="zstd",
                        help="how spectrum points are stored (default zstd)")
    parser.add_argument("--intensity-width", type=int, choices=(4, 8), default=None,
                        help="bytes per stored intensity (default: 4 where that keeps every value, else 8)")


def run(args) -> int:
    """Convert an mzML file and report what it held."""
    from ozra_data_access.convert import MzmlConversion

    args.file = args.source
    started = time.perf_counter()
    conversion = MzmlConversion(args.source, point_encoding=args.point_encoding, intensity_width=args.intensity_width)
    conversion.write(args.target)
    print(f"wrote {args.target} ({os.path.getsize(args.target):,} bytes) in {time.perf_counter() - started:.2f} s: "
          f"{conversion.ms_spectra} MS spectra, {conversion.dad_spectra} DAD spectra, "
          f"{conversion.quan_traces} quantitative traces, {conversion.analog_traces} analog traces")
    if conversion.sorted_ids:
        print(f"{len(conversion.sorted_ids)} spectra or chromatograms had x values out of order and were sorted")
    for identifier, reason in conversion.skipped_chromatograms:
        print(f"chromatogram {identifier!r} not stored: {reason}")
    return 0
