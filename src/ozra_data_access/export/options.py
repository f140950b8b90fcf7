"""How the mzML export writes its binary arrays."""

from __future__ import annotations

import importlib.util
from dataclasses import dataclass

from ozra_data_access.export.errors import ExportError


@dataclass(frozen=True)
class MzmlOptions:
    """How the binary arrays are written: `compression` "zlib" or "none", `precision` 32 or 64 bits
    per value, `numpress` MS-Numpress (linear prediction for m/z, wavelength and time arrays, short
    logged float for intensities; needs pynumpress), which replaces `compression` and `precision`."""

    compression: str = "zlib"
    precision: int = 64
    numpress: bool = False

    def __post_init__(self) -> None:
        if self.compression not in ("zlib", "none"):
            raise ExportError(f"compression is 'zlib' or 'none', not {self.compression!r}")
        if self.precision not in (32, 64):
            raise ExportError(f"precision is 32 or 64 bits, not {self.precision!r}")
        if self.numpress and importlib.util.find_spec("pynumpress") is None:
            raise ExportError("MS-Numpress needs pynumpress: pip install 'ozra_data_access[numpress]'")
