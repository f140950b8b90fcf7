"""Point encodings on the shared real files: stored size and decoding speed of raw, zstd and zstd-shuffle.

    PYTHONPATH=src python3 benchmarks/bench_encoding.py [--rounds 15] [--alternatives]

Every shared mzML file (.mzML, .mzML.gz) and every vendor run that converts (Agilent .D, the
Waters .raw unpacked from its archive; needs the `vendor` extra) is converted three times with
`ozra_data_access.convert.convert`, once per point encoding. Columns:

- points, raw/zstd/shuffle: the stored bytes of all point data blocks (spectra and profiles,
  payload plus the 16-byte header), read from each block's header;
- new/zstd: zstd-shuffle's stored bytes over zstd's;
- read raw / zstd / new: CPU milliseconds to read every spectrum's points through the reader
  (position, read, decode into a new points object), the median of --rounds interleaved
  rounds (raw, zstd, zstd-shuffle in turn; a small file is read several times a round); speed: zstd's time over zstd-shuffle's (above 1:
  zstd-shuffle decodes faster).

--alternatives also prints, per file, the zstd size of other transforms of the same points
(at zstd levels 1, 3, 9, 19) over today's zstd at level 3: the measurements zstd-shuffle's
transform was chosen from.
"""

import argparse
import os
import pathlib
import statistics
import struct
import sys
import tarfile
import tempfile
import time
import warnings

import numpy as np

from ozra_data_access._internal._reader import OzraFileReader
from ozra_data_access.convert import ConversionError, convert

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
import ozra_bytes  # noqa: E402
from shared_data import DATA, MZML_FILES, VENDOR  # noqa: E402

ENCODINGS = ("raw", "zstd", "zstd-shuffle")
R = "_OzraFileReader__"


def sources(folder):
    """The shared files and vendor runs, the Waters run unpacked into `folder`."""
    found = [DATA / name for name in MZML_FILES]
    if VENDOR.is_dir():
        found += sorted(p for p in VENDOR.iterdir() if p.suffix == ".D")
        for archive in sorted(VENDOR.glob("*.raw.tar.xz")):
            with tarfile.open(archive) as opened:
                opened.extractall(folder, **({"filter": "data"} if hasattr(tarfile, "data_filter") else {}))
            found.append(pathlib.Path(folder) / archive.name.removesuffix(".tar.xz"))
    return found


def point_reads(path):
    """(position, wavelengths or None) of every stored points block, in file order."""
    from ozra_data_access._internal._index import JumpTable

    reader = OzraFileReader._OzraFileReader__create_instance(str(path))
    reads = []
    with reader._OzraFileReader__stream:
        table = JumpTable._JumpTable__create_instance(reader)
        for measurement in table._JumpTable__measurement_index_list:
            for function, spectra in ozra_bytes.functions_with_spectra(reader, measurement):
                qual = function._FunctionIndex__function_description._FunctionDescription__qual_description
                wavelengths = qual._QualDescription__wavelength_arr if qual is not None else None
                for index in spectra:
                    reads.append((index._SpectrumIndex__position, wavelengths))
                    if index._SpectrumIndex__profile_position:
                        reads.append((index._SpectrumIndex__profile_position, None))
    return reads


def stored_bytes(path, reads):
    """Bytes of all point data blocks: header and payload, from each block's stored size."""
    data = pathlib.Path(path).read_bytes()
    return sum(16 + struct.unpack_from("<I", data, position + 12)[0] for position, _ in reads)


def read_every_spectrum(path, reads, repeats):
    """CPU seconds of this thread to read every points block of the file `repeats` times through
    one reader (the decoding runs on this thread, with or without the interpreter lock; CPU time
    moves far less than wall time when other work shares the machine)."""
    reader = OzraFileReader._OzraFileReader__create_instance(str(path))
    set_buffer, read, read_dad = (getattr(reader, R + name) for name in
                                  ("set_buffer", "read_spectrum", "read_dad_spectrum"))
    with reader._OzraFileReader__stream:
        start = time.thread_time()
        for _ in range(repeats):
            for position, wavelengths in reads:
                set_buffer(position)
                read() if wavelengths is None else read_dad(wavelengths)
        return time.thread_time() - start


def measure(source, folder, rounds):
    files = {}
    for encoding in ENCODINGS:
        files[encoding] = pathlib.Path(folder) / f"{source.name}.{encoding}.ozra"
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # the converters' notes on the sources are not measured here
            convert(source, files[encoding], force=True, point_encoding=encoding)
    reads = {encoding: point_reads(path) for encoding, path in files.items()}
    blocks = len(reads["zstd"])
    assert blocks and all(len(r) == blocks for r in reads.values())
    sizes = {encoding: stored_bytes(path, reads[encoding]) for encoding, path in files.items()}
    # Small files are read several times per round, so that a round takes some 20 ms.
    repeats = max(1, round(0.02 / read_every_spectrum(files["zstd"], reads["zstd"], 1)))
    times = {encoding: [] for encoding in ENCODINGS}
    for _ in range(rounds):
        for encoding in ENCODINGS:
            times[encoding].append(read_every_spectrum(files[encoding], reads[encoding], repeats) / repeats)
    medians = {encoding: statistics.median(values) for encoding, values in times.items()}
    return blocks, sizes, medians, files


# ---- the alternatives zstd-shuffle was chosen from ----------------------------------------

def _planes(values):
    return values.view(np.uint8).reshape(-1, values.itemsize).T.tobytes()


def _deltas(x):
    return np.diff(x.view("<u8"), prepend=np.zeros(1, "<u8"))


LEVELS = (1, 3, 9, 19)
TRANSFORMS = {  # name: (x values, intensities) -> payload
    "zstd": lambda x, y: (b"" if x is None else x.tobytes()) + y.tobytes(),
    "shuffle": lambda x, y: (b"" if x is None else _planes(x)) + _planes(y),
    "delta": lambda x, y: (b"" if x is None else _deltas(x).tobytes()) + y.tobytes(),
    "delta, y shuffled": lambda x, y: (b"" if x is None else _deltas(x).tobytes()) + _planes(y),
    "delta shuffled, y plain": lambda x, y: (b"" if x is None else _planes(_deltas(x))) + y.tobytes(),
    "delta shuffled, y shuffled": lambda x, y: (b"" if x is None else _planes(_deltas(x))) + _planes(y),
}


def alternatives(path):
    """{(transform, level): zstd bytes of all payloads} of the points of the Ozra file at `path`, and
    {level: seconds to compress the zstd-shuffle payloads}."""
    import ozra_decoding
    import zstandard

    points = [(p[1], p[2]) for m in ozra_decoding.read_file(path)["measurements"] for f in m["functions"]
              for s in f["spectra"] for p in (s["points"], s["profile"]) if p]
    sizes, seconds = {}, {}
    for level in LEVELS:
        compressor = zstandard.ZstdCompressor(level=level, write_checksum=True, write_content_size=True)
        for name, transform in TRANSFORMS.items():
            payloads = [transform(x, y) for x, y in points]
            start = time.perf_counter()
            sizes[name, level] = sum(len(compressor.compress(payload)) for payload in payloads)
            seconds[name, level] = time.perf_counter() - start
    return sizes, seconds


def print_alternatives(name, sizes, seconds=None):
    base = sizes["zstd", 3]
    print(f"\n{name}: zstd bytes of each transform over plain zstd at level 3"
          + ("; compression seconds of the chosen one (delta shuffled, y shuffled)" if seconds else ""))
    print(f"{'level':>5} " + " ".join(f"{t:>26}" for t in TRANSFORMS) + (f" {'seconds':>8}" if seconds else ""))
    for level in LEVELS:
        print(f"{level:5d} " + " ".join(f"{sizes[t, level] / base:26.3f}" for t in TRANSFORMS)
              + (f" {seconds['delta shuffled, y shuffled', level]:8.3f}" if seconds else ""))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--alternatives", action="store_true")
    args = parser.parse_args()
    if not DATA.is_dir():
        print("the shared data are not on this machine: nothing to measure")
        return 0
    header = (f"{'file':40} {'blocks':>6} {'points raw':>11} {'zstd':>10} {'shuffle':>10} {'new/zstd':>8} "
              f"{'read raw':>9} {'read zstd':>9} {'read new':>9} {'speed':>6}")
    rows, totals, alternative_totals = [], dict.fromkeys(ENCODINGS, 0), {}
    with tempfile.TemporaryDirectory() as folder:
        for source in sources(folder):
            try:
                blocks, sizes, medians, files = measure(source, folder, args.rounds)
            except ConversionError as error:
                print(f"{source.name}: not converted ({error})")
                continue
            for encoding in ENCODINGS:
                totals[encoding] += sizes[encoding]
            rows.append(f"{source.name:40} {blocks:6d} {sizes['raw']:11,} {sizes['zstd']:10,} "
                        f"{sizes['zstd-shuffle']:10,} {sizes['zstd-shuffle'] / sizes['zstd']:8.3f} "
                        f"{1e3 * medians['raw']:7.2f}ms {1e3 * medians['zstd']:7.2f}ms {1e3 * medians['zstd-shuffle']:7.2f}ms "
                        f"{medians['zstd'] / medians['zstd-shuffle']:6.2f}")
            if args.alternatives:
                sizes, seconds = alternatives(files["zstd"])
                print_alternatives(source.name, sizes, seconds)
                for key, size in sizes.items():
                    alternative_totals[key] = alternative_totals.get(key, 0) + size
    if alternative_totals:
        print_alternatives("all files", alternative_totals)
    print(f"\nmedians of {args.rounds} interleaved rounds; speed = read zstd / read new\n")
    print(header)
    print("\n".join(rows))
    print(f"{'all':40} {'':6} {totals['raw']:11,} {totals['zstd']:10,} {totals['zstd-shuffle']:10,} "
          f"{totals['zstd-shuffle'] / max(totals['zstd'], 1):8.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
