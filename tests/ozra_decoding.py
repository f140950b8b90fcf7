"""A small decoder of Ozra files, written from docs/format.md and independent of the writer.

It checks the byte layout the writer produces until the native reader can read the files back.
"""

import pathlib
import struct

import numpy as np
import zstandard

from ozra_data_access._internal._enum import (
    DetectorTypes,
    PolarityTypes,
    SpectrumTypes,
    TripleQScanTypes,
    VendorSpecificAdditionalConditionTypes,
)
from ozra_data_access.common import ValueRange

ENUMERATIONS = {
    1: PolarityTypes,
    2: SpectrumTypes,
    3: DetectorTypes,
    4: VendorSpecificAdditionalConditionTypes,
    5: TripleQScanTypes,
}


class Cursor:
    """Reads little-endian values from bytes, moving forward."""

    def __init__(self, data, position=0):
        self.data = data
        self.position = position

    def unpack(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.position)
        self.position += struct.calcsize("<" + fmt)
        return values[0] if len(values) == 1 else values

    def take(self, size):
        chunk = bytes(self.data[self.position:self.position + size])
        assert len(chunk) == size, "short read"
        self.position += size
        return chunk

    def count(self):
        value = self.unpack("H")
        return self.unpack("I") if value == 0xFFFF else value

    def marker(self, expected):
        assert self.take(4) == expected, f"expected {expected!r} at {self.position - 4}"
        return self.position

    def i64_array(self):
        return list(np.frombuffer(self.take(8 * self.count()), dtype="<i8"))

    def frame(self):
        frame = self.take(self.unpack("I"))
        parameters = zstandard.get_frame_parameters(frame)
        assert parameters.has_checksum and parameters.content_size == len(zstandard.ZstdDecompressor().decompress(frame))
        assert parameters.content_size <= 256 * len(frame)
        return Cursor(zstandard.ZstdDecompressor().decompress(frame))


def value(c):
    tag = c.unpack("B")
    if tag == 0:
        return None
    if tag == 1:
        return c.unpack("q")
    if tag == 2:
        return c.unpack("d")
    if tag == 3:
        return c.take(c.count()).decode("utf-8")
    if tag == 4:
        return {0: False, 1: True}[c.unpack("B")]
    if tag == 5:
        return ValueRange(value(c), value(c))
    if tag == 6:
        number, member = c.unpack("Bi")
        return ENUMERATIONS[number](member)
    if tag == 7:
        return {value(c): value(c) for _ in range(c.count())}
    if tag == 8:
        return [value(c) for _ in range(c.count())]
    if tag == 9:
        return record(c)
    if tag == 10:
        return np.frombuffer(c.take(8 * c.count()), dtype="<f8")
    raise AssertionError(f"unknown tag {tag}")


def record(c):
    """A record as (kind, [fields])."""
    kind, count = c.unpack("BB")
    return kind, [value(c) for _ in range(count)]


def records(c, expected_kind, count):
    result = [record(c) for _ in range(count)]
    assert c.position == len(c.data), "frame not consumed exactly"
    assert all(kind == expected_kind for kind, _ in result)
    return [fields for _, fields in result]


def points(data, position):
    """(header dict, x or None, intensity) of the point data at `position`."""
    c = Cursor(data, position)
    c.marker(b"{SP:")
    encoding, x_flag, width, reserved, n, size = c.unpack("BBBBII")
    payload = c.take(size)
    if encoding in (1, 2):
        payload = zstandard.ZstdDecompressor().decompress(payload)
    c.marker(b":SP}")
    x_size = 8 * n if x_flag == 0 else 0
    assert reserved == 0 and len(payload) == x_size + n * width
    x = np.frombuffer(payload[:x_size], "<f8") if x_flag == 0 else None
    intensity = np.frombuffer(payload[x_size:], {4: "<f4", 8: "<f8"}[width])
    if encoding == 2:  # byte planes; x as differences of bit patterns
        x = None if x is None else np.cumsum(unshuffled(payload[:x_size], "<u8")).view("<f8")
        intensity = unshuffled(payload[x_size:], intensity.dtype)
    return {"encoding": encoding, "width": width}, x, intensity


def unshuffled(planes, dtype):
    """Values from their byte planes: byte 0 of every value, then byte 1 of every value, ..."""
    width = np.dtype(dtype).itemsize
    return np.frombuffer(planes, np.uint8).reshape(width, -1).T.copy().view(dtype).ravel()


def spectrum_index_block(data, position):
    c = Cursor(data, position)
    origin = c.marker(b"{SI:")
    count = c.unpack("I")
    has_profile = {0: False, 1: True}[c.unpack("B")]
    positions = [origin + p for p in c.i64_array()]
    profiles = [origin + p for p in c.i64_array()] if has_profile else [0] * count
    assert len(positions) == len(profiles) == count
    descriptions = records(c.frame(), 5, count)
    c.marker(b":SI}")
    return has_profile, [
        {"description": d, "points": points(data, p), "profile": points(data, q) if q else None}
        for d, p, q in zip(descriptions, positions, profiles)
    ]


def read_file(path):
    """The whole file as nested dicts: versions, and measurements with functions and spectra."""
    data = pathlib.Path(path).read_bytes()
    c = Cursor(data)
    assert c.take(9) == b"\x89OZRA\r\n\x1a\n"
    versions = c.unpack("3H3H")
    c = Cursor(data, c.unpack("q"))
    origin = c.marker(b"{JT:")
    count = c.count()
    block_positions = [origin + p for p in c.i64_array()]
    measurements = records(c.frame(), 1, count)
    c.marker(b":JT}")
    result = {"format": versions[:3], "converter": versions[3:], "measurements": []}
    for description, block_position in zip(measurements, block_positions):
        f = Cursor(data, block_position)
        origin = f.marker(b"{FI:")
        count = f.count()
        positions = [origin + p for p in f.i64_array()]
        functions = records(f.frame(), 2, count)
        f.marker(b":FI}")
        walked = []
        for function_description, position in zip(functions, positions):
            has_profile, spectra = spectrum_index_block(data, position)
            walked.append({"description": function_description, "has_profile": has_profile, "spectra": spectra})
        result["measurements"].append({"description": description, "functions": walked})
    return result
