"""Decoding the binary data arrays of mzML: base64, then zlib or nothing, then little-endian numbers
or MS-Numpress."""

from __future__ import annotations

import binascii
import zlib
from typing import Mapping

import numpy as np

from ozra_data_access.convert import vocabulary as cv
from ozra_data_access.convert.errors import MzmlError
from ozra_data_access.convert.numpress import decode_numpress, numpress_kind


def decode_array(text: str | None, params: Mapping[str, "object"], where: str) -> np.ndarray:
    """The numbers of one binaryDataArray: float32 arrays stay float32, all others become float64.

    `params` are the array's cvParams by accession; `where` names the array in error messages.
    """
    numpress = numpress_kind(params)
    number_type = _number_type(params, where)
    compressed = _is_zlib(params, where) or (numpress is not None and numpress[1])
    try:
        data = binascii.a2b_base64(text) if text else b""
    except binascii.Error as error:
        raise MzmlError(f"{where}: the base64 text does not decode ({error})") from None
    if compressed and data:
        try:
            data = zlib.decompress(data)
        except zlib.error as error:
            raise MzmlError(f"{where}: the zlib data does not decompress ({error})") from None
    if numpress is not None:
        return decode_numpress(data, numpress[0], where)
    itemsize = np.dtype(number_type).itemsize
    if len(data) % itemsize:
        raise MzmlError(f"{where}: {len(data)} bytes are not a whole number of {itemsize}-byte values")
    values = np.frombuffer(data, dtype=number_type)
    return values if values.dtype == np.float32 else values.astype(np.float64, copy=False)


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
