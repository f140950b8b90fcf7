"""Conversion speed of a vendor run: the largest shared vendor run converted to Ozra, against rainbow-api merely reading it.

    PYTHONPATH=src python3 benchmarks/bench_vendor.py [--repeats 3]

The runs are the shared vendor runs (shared/data/vendor beside the repository, or
OZRA_SHARED_DATA; blue.raw is unpacked into a temporary folder first); the largest by the
bytes of its files is measured. Rows:

- rainbow-api read: `rainbow.read` of the run (what any conversion through it must do at least
  once); nothing is written;
- convert: `ozra_data_access.convert.convert` to a temporary file, the report read back included.

Ratio = rainbow-api's time / the row's time (below 1: slower than merely reading).
"""

import argparse
import os
import pathlib
import sys
import tarfile
import tempfile

from ozra_data_access.convert import convert

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from shared_data import VENDOR  # noqa: E402
from timing import best_of  # noqa: E402


def folder_bytes(path: pathlib.Path) -> int:
    return sum(p.stat().st_size for p in path.rglob("*") if p.is_file())


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    if not VENDOR.is_dir():
        print("no shared vendor runs on this machine: nothing to measure")
        return 0
    import rainbow

    with tempfile.TemporaryDirectory() as folder:
        with tarfile.open(VENDOR / "blue.raw.tar.xz") as archive:
            archive.extractall(folder, **({"filter": "data"} if hasattr(tarfile, "data_filter") else {}))
        runs = sorted(VENDOR.glob("*.D")) + [pathlib.Path(folder) / "blue.raw"]
        source = max(runs, key=folder_bytes)
        read_time, _ = best_of(args.repeats, lambda: rainbow.read(str(source)))
        target = pathlib.Path(folder) / "out.ozra"
        convert_time, report = best_of(args.repeats, lambda: convert(source, target, force=True))
        print(f"{source.name}: {folder_bytes(source):,} bytes, {report.spectra:,} spectra; best of {args.repeats}")
        print(f"{'':18} {'seconds':>9} {'ratio':>7}")
        for name, seconds in (("rainbow-api read", read_time), ("convert", convert_time)):
            print(f"{name:18} {seconds:9.3f} {read_time / seconds:7.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
