"""Writes the fuzzers' seed files: small samples (raw double, zstd and zstd-shuffle
single-precision points, with and without condition lists) and the reader tests' hand-built file. With --plain,
the samples' frames hold their content uncompressed, as the plain_file_fuzzer
reads them.

    PYTHONPATH=src:tests python3 fuzz/make_corpus.py [--plain] DIRECTORY
"""

import argparse
import pathlib

import ozra_bytes
from ozra_data_access.samples import write_sample
from ozra_data_access.writer import primitives

# The plain_file_fuzzer's frame: zstd magic, a descriptor with the checksum flag, the content.
PLAIN_FRAME_HEADER = b"\x28\xb5\x2f\xfd\x04"


def write_samples(out):
    for encoding in ("raw", "zstd", "zstd-shuffle"):
        for condition_list in (True, False):
            write_sample(out / f"sample-{encoding}-{'conditions' if condition_list else 'fields'}.ozra",
                         scans=6, points_per_spectrum=4, dad_spectra=2, wavelengths=5, compounds=2, seed=1,
                         point_encoding=encoding, condition_list=condition_list,
                         intensity_width=8 if encoding == "raw" else 4)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--plain", action="store_true")
    parser.add_argument("directory", type=pathlib.Path)
    args = parser.parse_args()
    args.directory.mkdir(parents=True, exist_ok=True)
    if args.plain:
        primitives.FrameCompressor.compress = lambda self, data: PLAIN_FRAME_HEADER + data
        write_samples(args.directory)
        return
    # The core fuzzer also reads a body as a frame's content: the samples' frames, uncompressed.
    frames = []
    compress = primitives.FrameCompressor.compress
    primitives.FrameCompressor.compress = lambda self, data: frames.append(bytes(data)) or compress(self, data)
    write_samples(args.directory)
    for number, content in enumerate(frames):
        (args.directory / f"frame-{number}.body").write_bytes(content)
    data, _ = ozra_bytes.sample_file()
    (args.directory / "hand-built.ozra").write_bytes(data)
    # The core fuzzer reads a file's body: the spectra behind the header.
    spectra = ozra_bytes.spectrum([1.0, 2.0], [3.0, 4.0]) + ozra_bytes.spectrum(
        None, [0.5, 0.25], x_stored=False, compressed=True, width=4) + ozra_bytes.spectrum(
        [100.0, 100.5, 101.25], [7.0, 0.0, 9.5], shuffled=True) + ozra_bytes.spectrum(
        None, [0.5, 0.25], x_stored=False, shuffled=True, width=4)
    (args.directory / "spectra.body").write_bytes(spectra)


if __name__ == "__main__":
    main()
