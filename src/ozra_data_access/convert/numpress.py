"""Decoding MS-Numpress arrays through the `pynumpress` package (the optional extra `numpress`)."""

from __future__ import annotations

import numpy as np

from ozra_data_access.convert import vocabulary as cv
from ozra_data_access.convert.errors import MzmlError


def numpress_kind(params) -> tuple[str, bool] | None:
    """(the numpress variant, whether zlib was applied after it) of an array's cvParams, or None."""
    for accession, (variant, zlib_after) in cv.NUMPRESS_COMPRESSIONS.items():
        if accession in params:
            return variant, zlib_after
    return None


def decode_numpress(data: bytes, variant: str, where: str) -> np.ndarray:
    """The float64 values of numpress-encoded bytes (after any zlib layer is removed)."""
    try:
        import pynumpress
    except ImportError:
        raise MzmlError(f"{where}: MS-Numpress arrays need the package pynumpress "
                              "(pip install 'ozra_data_access[numpress]')") from None
    if not data:
        return np.empty(0)
    decoder = getattr(pynumpress, "decode_" + variant)
    try:
        values = decoder(np.frombuffer(data, dtype=np.uint8))
    except ValueError as error:
        raise MzmlError(f"{where}: the MS-Numpress {variant} data does not decode ({error})") from None
    return np.asarray(values, dtype=np.float64)
