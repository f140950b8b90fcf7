"""What a Waters MassLynx run's own description file says about each of its functions.

`_FUNCTNS.INF` holds one 416-byte record per function (`_FUNCnnn.DAT`), in function order.
The low 5 bits of a record's first byte are the function type, which decides how the function
is stored; the upper bits are acquisition flags. The reader's detector name ("MS" when
`_extern.inf` gives the function a polarity, else "UV") is not trusted: a run whose MRM
functions have no polarity line would otherwise be taken for absorbance spectra.

For SIR and MRM functions the record also lists the monitored ions: up to 32 channels, the
set (SIR) or precursor (MRM) m/z as float32 at byte 160, the MRM product m/z at byte 288.
"""

from __future__ import annotations

import os
import re
from dataclasses import dataclass
from typing import Optional

import numpy as np

from ozra_data_access.convert.errors import ConversionError

_RECORD = 416
_TYPE_MASK = 0x1F
_CHANNELS = 32
_SET_MZ_OFFSET = 160
_PRODUCT_MZ_OFFSET = 288

MS_SCAN, SIR, MRM, PDA = "MS scan", "SIR", "MRM", "PDA"
_KINDS = {0: MS_SCAN, 1: SIR, 9: MRM, 12: PDA}

_FUNCTION_FILE = re.compile(r"^_FUNC(\d{3})\.DAT$", re.IGNORECASE)


@dataclass(frozen=True)
class WatersFunction:
    """One function as the run describes it: its type code, its kind (None for a type this
    converter does not store) and, for SIR/MRM, the set and product m/z of each channel."""

    number: int
    type_code: int
    kind: Optional[str]
    set_mz: np.ndarray
    product_mz: np.ndarray


def function_number(file_name: str) -> Optional[int]:
    """The 1-based function number of a `_FUNCnnn.DAT` file name, None for any other file."""
    match = _FUNCTION_FILE.match(file_name)
    return int(match.group(1)) if match else None


def read_functions(folder: str) -> Optional[dict]:
    """The run's functions by number, or None when the folder has no `_FUNCTNS.INF`."""
    path = _find(folder, "_FUNCTNS.INF")
    if path is None:
        return None
    with open(path, "rb") as file:
        data = file.read()
    if not data or len(data) % _RECORD:
        raise ConversionError(f"{path}: {len(data):,} bytes, not a whole number of {_RECORD}-byte function records")
    functions = {}
    for index in range(len(data) // _RECORD):
        record = data[index * _RECORD:(index + 1) * _RECORD]
        code = record[0] & _TYPE_MASK
        set_mz = np.frombuffer(record, "<f4", _CHANNELS, _SET_MZ_OFFSET).astype(np.float64)
        product_mz = np.frombuffer(record, "<f4", _CHANNELS, _PRODUCT_MZ_OFFSET).astype(np.float64)
        used = set_mz != 0.0
        functions[index + 1] = WatersFunction(index + 1, code, _KINDS.get(code), set_mz[used], product_mz[used])
    return functions


def _find(folder: str, name: str) -> Optional[str]:
    """The file `name` in `folder`, whatever the case of its name."""
    for entry in os.listdir(folder):
        if entry.upper() == name.upper():
            return os.path.join(folder, entry)
    return None
