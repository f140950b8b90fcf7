"""Decoding MS-Numpress arrays through the `pynumpress` package (the optional extra `numpress`).

The package's decoders trust their input: damaged bytes can abort or crash the process. Every
payload is therefore checked here first, without decoding it, against the layout the three codecs
write (a fixed point of 8 bytes for linear and slof, two whole first values for linear, then slof's
2-byte values or the half-byte integers of linear and pic), and only whole payloads reach them."""

from __future__ import annotations

import numpy as np

from ozra_data_access.convert import vocabulary as cv
from ozra_data_access.convert.errors import MzmlError

_FIXED_POINT_BYTES = 8
_LINEAR_HEADER_BYTES = 16  # the fixed point and the first two values as 4-byte integers
# The most bytes one value can take in each codec (a half-byte integer takes up to 9 half bytes).
MAX_BYTES_PER_VALUE = {"linear": 4.5, "pic": 4.5, "slof": 2}
HEADER_BYTES = {"linear": _LINEAR_HEADER_BYTES, "pic": 0, "slof": _FIXED_POINT_BYTES}


def numpress_kind(params) -> tuple[str, bool] | None:
    """(the numpress variant, whether zlib was applied after it) of an array's cvParams, or None."""
    for accession, (variant, zlib_after) in cv.NUMPRESS_COMPRESSIONS.items():
        if accession in params:
            return variant, zlib_after
    return None


def decode_numpress(data: bytes, variant: str, where: str) -> np.ndarray:
    """The float64 values of numpress-encoded bytes (after any zlib layer is removed); damaged bytes
    raise MzmlError naming `where`."""
    try:
        import pynumpress
    except ImportError:
        raise MzmlError(f"{where}: MS-Numpress arrays need the package pynumpress "
                              "(pip install 'ozra_data_access[numpress]')") from None
    if not data:
        return np.empty(0)
    count = numpress_value_count(data, variant)
    if count is None:
        raise MzmlError(f"{where}: the MS-Numpress {variant} data does not decode ({len(data)} bytes that are not "
                        "a whole encoded array)")
    decoder = getattr(pynumpress, "decode_" + variant)
    try:
        values = decoder(np.frombuffer(data, dtype=np.uint8))
    except ValueError as error:
        raise MzmlError(f"{where}: the MS-Numpress {variant} data does not decode ({error})") from None
    values = np.asarray(values, dtype=np.float64)
    if len(values) != count:
        raise MzmlError(f"{where}: the MS-Numpress {variant} data decodes to {len(values)} values, "
                        f"its bytes hold {count}")
    return values


def numpress_value_count(data: bytes, variant: str) -> int | None:
    """The number of values the non-empty numpress payload `data` holds, or None when it is not a
    whole payload of `variant` (so that decoding it would read past its end)."""
    if variant == "slof":
        size = len(data) - _FIXED_POINT_BYTES
        return size // 2 if size >= 0 and size % 2 == 0 else None
    if variant == "linear":
        if len(data) in (_FIXED_POINT_BYTES, _FIXED_POINT_BYTES + 4):
            return (len(data) - _FIXED_POINT_BYTES) // 4
        if len(data) < _LINEAR_HEADER_BYTES:
            return None
        counted = _half_byte_integers(data[_LINEAR_HEADER_BYTES:])
        return None if counted is None else 2 + counted
    return _half_byte_integers(data)


def _half_byte_integers(data: bytes) -> int | None:
    """How many integers the half-byte stream `data` holds, or None if its last one is cut off.

    Each integer is a head half byte h, then 8 - h more half bytes (h <= 8) or 16 - h (h > 8); a
    final lone zero half byte pads the stream to whole bytes."""
    if not data:
        return 0
    octets = np.frombuffer(data, dtype=np.uint8)
    halves = np.empty(2 * len(octets), dtype=np.int8)
    halves[0::2] = octets >> 4
    halves[1::2] = octets & 0x0F
    leading = np.where(halves <= 8, halves, halves - 8)
    steps = (9 - leading).tolist()  # the head and the half bytes that follow it
    total = len(steps)
    last_is_padding = int(halves[-1]) == 0
    position = count = 0
    while position < total:
        if position == total - 1 and last_is_padding:
            break
        position += steps[position]
        if position > total:
            return None
        count += 1
    return count
