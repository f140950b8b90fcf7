"""The file header and the three index blocks."""

from __future__ import annotations

import struct
from typing import Optional, Sequence

import numpy as np

from ozra_data_access._internal._enum import OzraSymbols
from ozra_data_access.writer.primitives import FrameCompressor, pack_count, pack_frame, pack_i64_array, pack_u32

MAGIC = b"\x89OZRA\r\n\x1a\n"
#: The format version this writer produces.
FORMAT_VERSION = (1, 0, 0)
#: Size of the header; the first block starts here.
HEADER_SIZE = 29
#: Offset of the header's jump table position.
JUMP_TABLE_POSITION_OFFSET = 21

_VERSIONS = struct.Struct("<3H3H")
_I64 = struct.Struct("<q")
_MARKER_SIZE = 4


def header(format_version: Sequence[int], converter_version: Sequence[int], jump_table_position: int) -> bytes:
    """The 29 bytes at the start of a file."""
    for name, version in (("format", format_version), ("converter", converter_version)):
        if len(version) != 3 or not all(0 <= part <= 0xFFFF for part in version):
            raise ValueError(f"{name} version is three numbers 0..65535, not {tuple(version)!r}")
    return MAGIC + _VERSIONS.pack(*format_version, *converter_version) + _I64.pack(jump_table_position)


def _relative(positions: Sequence[int], block_position: int) -> np.ndarray:
    """Absolute positions made relative to the origin of the block that starts at `block_position`."""
    return np.asarray(positions, dtype=np.int64) - (block_position + _MARKER_SIZE)


def _index_block(begin: OzraSymbols, end: OzraSymbols, block_position: int, positions: Sequence[int],
                 descriptions: bytes, compressor: FrameCompressor) -> bytes:
    return b"".join((
        begin.value,
        pack_count(len(positions)),
        pack_i64_array(_relative(positions, block_position)),
        pack_frame(compressor, descriptions),
        end.value,
    ))


def jump_table(block_position: int, function_index_positions: Sequence[int], descriptions: bytes,
               compressor: FrameCompressor) -> bytes:
    """The jump table block, starting at `block_position`: one entry per measurement."""
    return _index_block(OzraSymbols.BEGIN_OF_JUMP_TABLE, OzraSymbols.END_OF_JUMP_TABLE, block_position,
                        function_index_positions, descriptions, compressor)


def function_index_block(block_position: int, spectrum_index_positions: Sequence[int], descriptions: bytes,
                         compressor: FrameCompressor) -> bytes:
    """A measurement's function index block, starting at `block_position`: one entry per function."""
    return _index_block(OzraSymbols.BEGIN_OF_FUNCTION_INDEX_BLOCK, OzraSymbols.END_OF_FUNCTION_INDEX_BLOCK,
                        block_position, spectrum_index_positions, descriptions, compressor)


def spectrum_index_block(block_position: int, point_positions: Sequence[int],
                         profile_positions: Optional[Sequence[int]], descriptions: bytes,
                         compressor: FrameCompressor) -> bytes:
    """A function's spectrum index block, starting at `block_position`: one entry per spectrum.

    `profile_positions` is None for a block without profile positions; inside it, 0 marks a
    spectrum without profile data (stored as the negated origin, so that it reads back as 0).
    """
    parts = [
        OzraSymbols.BEGIN_OF_SPECTRUM_INDEX_BLOCK.value,
        pack_u32(len(point_positions)),
        b"\x00" if profile_positions is None else b"\x01",
        pack_i64_array(_relative(point_positions, block_position)),
    ]
    if profile_positions is not None:
        parts.append(pack_i64_array(_relative(profile_positions, block_position)))
    parts += [pack_frame(compressor, descriptions), OzraSymbols.END_OF_SPECTRUM_INDEX_BLOCK.value]
    return b"".join(parts)
