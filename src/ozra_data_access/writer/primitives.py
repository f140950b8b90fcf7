"""The primitive encodings of an Ozra file: counts, integer arrays and zstd frames."""

from __future__ import annotations

import struct

import numpy as np
import zstandard

#: A reader refuses a frame that claims to decompress to more than this many times its stored size.
MAX_FRAME_RATIO = 256

_U16 = struct.Struct("<H")
_U32 = struct.Struct("<I")
_ESCAPED_COUNT = struct.Struct("<HI")
_COUNT_ESCAPE = 0xFFFF
_U32_MAX = 0xFFFFFFFF

# A zstd frame built by hand from raw blocks (see `zstd_frame`): magic, then a frame header
# descriptor with an 8-byte content size, single segment (no window descriptor) and the
# content-checksum flag.
_ZSTD_MAGIC = b"\x28\xb5\x2f\xfd"
_RAW_FRAME_DESCRIPTOR = 0b1110_0100
_RAW_FRAME_HEADER = struct.Struct("<4sBQ")
_ZSTD_MAX_BLOCK = 128 * 1024


def pack_count(value: int) -> bytes:
    """The `count` encoding of `value`: a u16, or 0xFFFF followed by a u32 from 0xFFFF on."""
    if value < _COUNT_ESCAPE:
        return _U16.pack(value)
    if value > _U32_MAX:
        raise ValueError(f"count {value} does not fit the 32-bit count of an Ozra file")
    return _ESCAPED_COUNT.pack(_COUNT_ESCAPE, value)


def pack_u32(value: int) -> bytes:
    """A little-endian u32, refusing values that do not fit."""
    if not 0 <= value <= _U32_MAX:
        raise ValueError(f"{value} does not fit an unsigned 32-bit field")
    return _U32.pack(value)


def pack_i64_array(values) -> bytes:
    """The `i64 array` encoding: a count, then the values as little-endian i64."""
    array = np.asarray(values, dtype="<i8")
    return pack_count(len(array)) + array.tobytes()


class FrameCompressor:
    """Makes the zstd frames of a file: content size in the header, content checksum at the end.

    A frame that would decompress to more than `MAX_FRAME_RATIO` times its own size (long runs
    of equal bytes do that) is instead written with uncompressed zstd blocks, which any zstd
    decoder reads and which stays within the bound.
    """

    def __init__(self, level: int = 3):
        self._compressor = zstandard.ZstdCompressor(level=level, write_checksum=True, write_content_size=True)

    def compress(self, data: bytes) -> bytes:
        """One zstd frame holding `data`."""
        frame = self._compressor.compress(data)
        if len(data) <= MAX_FRAME_RATIO * len(frame):
            return frame
        # The content checksum depends on the content only, so the compressed frame's is reused.
        return raw_block_frame(data, checksum=frame[-4:])


def raw_block_frame(data: bytes, checksum: bytes) -> bytes:
    """A zstd frame that stores `data` in uncompressed blocks, ending with the given checksum."""
    parts = [_RAW_FRAME_HEADER.pack(_ZSTD_MAGIC, _RAW_FRAME_DESCRIPTOR, len(data))]
    view = memoryview(data)
    start = 0
    while True:
        block = view[start:start + _ZSTD_MAX_BLOCK]
        start += len(block)
        last = start >= len(data)
        # Block header: bit 0 last block, bits 1-2 block type (0 = raw), bits 3-23 size.
        parts.append((len(block) << 3 | last).to_bytes(3, "little"))
        parts.append(block)
        if last:
            break
    parts.append(checksum)
    return b"".join(parts)


def pack_frame(compressor: FrameCompressor, data: bytes) -> bytes:
    """The `frame` encoding: a u32 length, then one zstd frame of `data`."""
    frame = compressor.compress(data)
    return pack_u32(len(frame)) + frame
