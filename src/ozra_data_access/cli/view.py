"""`ozra view`: the files' MS and DAD data in the browser, served from this process."""

from __future__ import annotations

import sys

from ozra_data_access.cli import selection
from ozra_data_access.cli.arguments import CommandError, add_command, non_negative_int


def register(commands, common) -> None:
    parser = add_command(commands, common, "view", run, help="look at runs in the browser (MS and DAD side by side)",
                         description="Serves a page over the files (chromatograms, spectra, XICs, the retention "
                                     "time x m/z and x wavelength maps, max plots, traces; several files overlaid) "
                                     "from this machine and opens it in the browser; Ctrl-C stops it.")
    parser.add_argument("files", nargs="+", metavar="FILE", help="the Ozra files to show")
    parser.add_argument("--port", type=non_negative_int, default=0, metavar="N",
                        help="the port to serve on (default: a free one)")
    parser.add_argument("--host", default="127.0.0.1", metavar="H",
                        help="the address to serve on (default 127.0.0.1, this machine only; any other is "
                             "reachable by others, with a warning)")
    parser.add_argument("--no-browser", action="store_true", help="print the page's address without opening it")


def run(args) -> int:
    from ozra_data_access.view import serve

    for path in args.files:  # a file that is not an Ozra file is named before serving
        try:
            with selection.open_file(path):
                pass
        except CommandError as error:
            raise CommandError(f"{error}; `ozra convert {path} RUN.ozra` makes an Ozra file of an mzML or "
                               "vendor run") from error
    try:
        serve(args.files, host=args.host, port=args.port, open_browser=not args.no_browser)
    except KeyboardInterrupt:
        print("ozra view: stopped", file=sys.stderr)
    return 0
