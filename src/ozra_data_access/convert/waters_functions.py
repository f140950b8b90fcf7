"""What each function of a Waters MassLynx run is, read from the run's own description.

`_FUNCTNS.INF` holds one 416-byte record per function, in the order of the `_FUNCnnn.DAT`
files. The low five bits of a record's first byte are the function type (the upper bits are
acquisition flags such as continuum or centroid): 0 is an MS scan, 1 SIR (selected ion
recording), 9 MRM (multiple reaction monitoring), 12 a diode array (PDA). For SIR and MRM the
record lists the monitored masses: up to 32 precursor (Q1) m/z as float32 from byte 160 and the
products (Q3) from byte 288, a zero ending the list.

The reader's own detector names are not used for Waters functions: they come from whether
`_extern.inf` gives the function a polarity, so an MRM function without one reads as "UV".
"""

from __future__ import annotations

import enum
import os
import re
from typing import Optional

import numpy as np

_RECORD_BYTES = 416
_TYPE_MASK = 0x1F
_PRECURSORS_AT = 160
_PRODUCTS_AT = 288
_MASSES_PER_RECORD = 32
_FUNCTION_FILE = re.compile(r"^_FUNC(\d{3})\.DAT$", re.IGNORECASE)


class FunctionKind(enum.Enum):
    MS_SCAN = "MS scan"
    SIR = "SIR"
    MRM = "MRM"
    DIODE_ARRAY = "diode array"
    ANALOG = "analog"


_KIND_OF_TYPE = {0: FunctionKind.MS_SCAN, 1: FunctionKind.SIR, 9: FunctionKind.MRM, 12: FunctionKind.DIODE_ARRAY}


def _records(source: str) -> Optional[bytes]:
    path = _find(source, "_FUNCTNS.INF")
    if path is None:
        return None
    with open(path, "rb") as stream:
        return stream.read()


def _find(source: str, name: str) -> Optional[str]:
    """The file `name` in the run folder, whatever the case of its name."""
    for entry in os.listdir(source):
        if entry.upper() == name:
            return os.path.join(source, entry)
    return None


def function_kinds(source: str) -> Optional[dict]:
    """{function file name in upper case: (its kind, or None for a type not read; its type code)} of the
    Waters run folder `source`, or None when the run records no function types."""
    records = _records(source)
    if records is None:
        return None
    kinds = {}
    for entry in os.listdir(source):
        match = _FUNCTION_FILE.match(entry)
        if not match:
            continue
        offset = (int(match.group(1)) - 1) * _RECORD_BYTES
        if offset < 0 or offset >= len(records):
            kinds[entry.upper()] = (None, "missing")
            continue
        code = records[offset] & _TYPE_MASK
        kinds[entry.upper()] = (_KIND_OF_TYPE.get(code), code)
    return kinds


def transitions(source: str, function_file: str) -> Optional[list[tuple[float, float]]]:
    """The (precursor, product) m/z of each channel the function `function_file` monitors, in its
    channel order (for SIR the product is 0), or None when the run lists none."""
    match = _FUNCTION_FILE.match(function_file)
    records = _records(source)
    if match is None or records is None:
        return None
    start = (int(match.group(1)) - 1) * _RECORD_BYTES
    if start < 0 or start + _RECORD_BYTES > len(records):
        return None
    record = records[start:start + _RECORD_BYTES]
    precursors = np.frombuffer(record, "<f4", _MASSES_PER_RECORD, _PRECURSORS_AT).astype(np.float64)
    products = np.frombuffer(record, "<f4", _MASSES_PER_RECORD, _PRODUCTS_AT).astype(np.float64)
    used = precursors != 0.0
    return [(float(q1), float(q3)) for q1, q3 in zip(precursors[used], products[used])]
