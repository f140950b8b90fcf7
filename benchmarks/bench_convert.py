"""Conversion speed: the largest shared mzML file converted to Ozra, against pyteomics merely parsing it.

    PYTHONPATH=src python3 benchmarks/bench_convert.py [--repeats 3] [--source FILE]

The source is the largest shared mzML file (shared/data beside the repository, or
OZRA_SHARED_DATA). Rows:

- pyteomics: iterates `mzml.read` over the file, decoding every array (what any reader must do
  at least once); nothing is written;
- convert: `ozra_data_access.convert.convert` to a temporary file (profile spectra picked with
  scipy.signal where the file has them), the report read back included;
- convert, profile_only: the same without peak picking.

Spectra per second = the file's spectra / the best of --repeats wall times; ratio = the
row's rate / pyteomics' rate (below 1: slower than merely parsing).
"""

import argparse
import os
import pathlib
import sys
import tempfile

from ozra_data_access.convert import convert

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from shared_data import DATA  # noqa: E402
from timing import best_of  # noqa: E402


def pyteomics_parse(mzml, path):
    with mzml.read(str(path)) as reader:
        return sum(1 for spectrum in reader if "intensity array" in spectrum)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--source", type=pathlib.Path, default=None)
    args = parser.parse_args()
    candidates = sorted(DATA.glob("*.mzML*"), key=lambda p: p.stat().st_size) if DATA.is_dir() else []
    source = args.source or (candidates[-1] if candidates else None)
    if source is None:
        print("no shared mzML file on this machine: nothing to measure")
        return 0
    from pyteomics import mzml

    rows = []
    parse_time, spectra = best_of(args.repeats, lambda: pyteomics_parse(mzml, source))
    rows.append(("pyteomics parse", parse_time))
    with tempfile.TemporaryDirectory() as folder:
        target = pathlib.Path(folder) / "out.ozra"
        for name, options in (("convert", {}), ("convert, profile_only", {"profile_only": True})):
            seconds, report = best_of(args.repeats, lambda: convert(source, target, force=True, **options))
            assert report.spectra == spectra, (report.spectra, spectra)
            rows.append((name, seconds))
    print(f"{source.name}: {spectra:,} spectra, {source.stat().st_size:,} bytes; best of {args.repeats}")
    print(f"{'':24} {'seconds':>9} {'spectra/s':>11} {'ratio':>7}")
    for name, seconds in rows:
        print(f"{name:24} {seconds:9.3f} {spectra / seconds:11,.0f} {parse_time / seconds:7.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
