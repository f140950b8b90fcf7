"""`ozra view`: a page in the browser over Ozra files, served from this process.

The MS chromatograms, spectra, XICs and retention time x m/z map, the DAD map, max plot,
wavelength chromatograms and absorbance spectra, and the stored traces, on one time axis; several
files overlaid. The page keeps its state in its URL; `serve` runs until interrupted.
"""

from __future__ import annotations

import sys
import webbrowser

from ozra_data_access.view.runs import Runs
from ozra_data_access.view.server import ViewerServer

__all__ = ["LOOPBACK_HOSTS", "ViewerServer", "Runs", "serve"]

LOOPBACK_HOSTS = ("127.0.0.1", "localhost", "::1")


def serve(paths: list[str], host: str = "127.0.0.1", port: int = 0, open_browser: bool = True) -> None:
    """Opens the files, serves the page on host:port (0: a free port) until interrupted, and
    opens it in the user's browser unless `open_browser` is false."""
    runs = Runs(paths)
    try:
        with ViewerServer((host, port), runs) as server:
            if host not in LOOPBACK_HOSTS:
                print(f"warning: serving on {host}, not on this machine only: whoever reaches {server.url} "
                      "can read these files", file=sys.stderr)
            print(f"ozra view: {server.url} (Ctrl-C to stop)", flush=True)
            if open_browser:
                webbrowser.open(server.url)
            server.serve_forever()
    finally:
        runs.close()
