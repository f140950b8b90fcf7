"""Decoding the binary data arrays of mzML: base64, then zlib or nothing, then little-endian numbers
or MS-Numpress."""

from __future__ import annotations

import binascii
import zlib
from typing import Mapping

import numpy as np

from ozra_data_access.convert import vocabulary as cv
from ozra_data_access.convert.errors import MzmlError
from ozra_data_access.convert.numpress import HEADER_BYTES, MAX_BYTES_PER_VALUE, decode_numpress, numpress_kind


# The bound on inflated zlib data: this many times the bytes the declared values take, plus a
# constant so that small arrays whose count is wrong get the message about their count.
INFLATE_FACTOR = 2
INFLATE_SLACK = 1 << 16


def decode_array(text: str | None, params: Mapping[str, "object"], where: str, length: int) -> np.ndarray:
    """The numbers of one binaryDataArray: float32 arrays stay float32, all others become float64
    (MS-Numpress values declared as 32-bit floats are rounded to float32, the values the encoder
    was given).

    `params` are the array's cvParams by accession; `where` names the array in error messages;
    `length` is the number of values its spectrum or chromatogram declares. zlib data is inflated
    to at most INFLATE_FACTOR times what those values take (plus INFLATE_SLACK bytes), so a small
    file cannot claim a large allocation; the caller checks the count itself.
    """
    numpress = numpress_kind(params)
    number_type = _number_type(params, where)
    compressed = _is_zlib(params, where) or (numpress is not None and numpress[1])
    try:
        data = binascii.a2b_base64(text) if text else b""
    except binascii.Error as error:
        raise MzmlError(f"{where}: the base64 text does not decode ({error})") from None
    if numpress is None:
        needed = length * np.dtype(number_type).itemsize
    else:
        needed = HEADER_BYTES[numpress[0]] + int(np.ceil(length * MAX_BYTES_PER_VALUE[numpress[0]])) + 1
    if compressed and data:
        data = _inflate(data, INFLATE_FACTOR * needed + INFLATE_SLACK, length, where)
    if numpress is not None:
        values = decode_numpress(data, numpress[0], where)
        if number_type == "<f4":
            values = values.astype(np.float32)
    else:
        itemsize = np.dtype(number_type).itemsize
        if len(data) % itemsize:
            raise MzmlError(f"{where}: {len(data)} bytes are not a whole number of {itemsize}-byte values")
        values = np.frombuffer(data, dtype=number_type)
        if values.dtype != np.float32:
            values = values.astype(np.float64, copy=False)
    return values


def _inflate(data: bytes, limit: int, length: int, where: str) -> bytes:
    inflater = zlib.decompressobj()
    try:
        inflated = inflater.decompress(data, limit + 1)
    except zlib.error as error:
        raise MzmlError(f"{where}: the zlib data does not decompress ({error})") from None
    if not inflater.eof and len(inflated) <= limit:
        raise MzmlError(f"{where}: the zlib data is cut off (incomplete or truncated stream)")
    if len(inflated) > limit:
        raise MzmlError(f"{where}: the zlib data inflates to more than {limit:,} bytes, which is over "
                        f"{INFLATE_FACTOR} times what the {length:,} values its element declares take")
    return inflated


def _number_type(params: Mapping[str, object], where: str) -> str:
    for accession, number_type in cv.NUMBER_TYPES.items():
        if accession in params:
            return number_type
    for accession, name in cv.UNREADABLE_NUMBER_TYPES.items():
        if accession in params:
            raise MzmlError(f"{where}: values of type {accession} ({name}) are not supported")
    raise MzmlError(f"{where}: the array names no number type (32-bit or 64-bit float or integer)")


def _is_zlib(params: Mapping[str, object], where: str) -> bool:
    for accession, name in cv.UNSUPPORTED_COMPRESSIONS.items():
        if accession in params:
            raise MzmlError(f"{where}: compression {accession} ({name}) is not supported; "
                            "only zlib and no compression are (convert the file without it first)")
    return cv.ZLIB_COMPRESSION in params
