"""Spectrum point data: the block that holds one spectrum's x values and intensities."""

from __future__ import annotations

import struct
from typing import Any, Optional

import numpy as np

from ozra_data_access._internal._enum import OzraSymbols
from ozra_data_access.writer.model import POINT_ENCODINGS
from ozra_data_access.writer.primitives import FrameCompressor

_HEADER = struct.Struct("<4sBBBBII")
_X_STORED, _X_NOT_STORED = 0, 1
_INTENSITY_TYPES = {4: "<f4", 8: "<f8"}
_END = OzraSymbols.END_OF_SPECTRUM.value
_BEGIN = OzraSymbols.BEGIN_OF_SPECTRUM.value
_MAX_PAYLOAD = 0xFFFFFFFF


class PointArrays:
    """A spectrum's points converted to the stored number types; `x` is None when not stored."""

    __slots__ = ("x", "intensity")

    def __init__(self, x: Any, intensity: Any, width: int):
        if width not in _INTENSITY_TYPES:
            raise ValueError(f"intensity width is 4 or 8 bytes, not {width!r}")
        self.intensity = _one_dimensional(intensity, _INTENSITY_TYPES[width], "intensity")
        self.x = None if x is None else _one_dimensional(x, "<f8", "x")
        if self.x is not None and len(self.x) != len(self.intensity):
            raise ValueError(f"{len(self.x)} x values but {len(self.intensity)} intensities")

    def summary(self, wavelengths: Optional[np.ndarray]) -> tuple:
        """Total, maximum and x of the first maximum of the stored intensities (0.0 each when empty)."""
        if len(self.intensity) == 0:
            return 0.0, 0.0, 0.0
        peak = int(np.argmax(self.intensity))
        x = self.x if self.x is not None else wavelengths
        base_peak_x = float(x[peak]) if x is not None and peak < len(x) else None
        return float(self.intensity.sum(dtype=np.float64)), float(self.intensity[peak]), base_peak_x


def _one_dimensional(values: Any, dtype: str, name: str) -> np.ndarray:
    array = np.ascontiguousarray(values if values is not None else (), dtype=dtype)
    if array.ndim != 1:
        raise ValueError(f"{name} values form a one-dimensional array, not one of shape {array.shape}")
    return array


def check_point_encoding(encoding: Optional[str]) -> None:
    """Refuses an encoding other than those of POINT_ENCODINGS (None, the choice left to the caller, passes)."""
    if encoding is not None and encoding not in POINT_ENCODINGS:
        names = ", ".join(repr(name) for name in POINT_ENCODINGS[:-1]) + f" or {POINT_ENCODINGS[-1]!r}"
        raise ValueError(f"point encoding is {names}, not {encoding!r}")


def encode_points(points: PointArrays, encoding: str, compressor: FrameCompressor) -> bytes:
    """The whole point data block of one spectrum, markers included."""
    check_point_encoding(encoding)
    if encoding == "zstd-shuffle":
        payload = _shuffled_payload(points)
    else:
        intensity = points.intensity.tobytes()
        payload = intensity if points.x is None else points.x.tobytes() + intensity
    if encoding != "raw":
        payload = compressor.compress(payload)
    if len(payload) > _MAX_PAYLOAD:
        raise ValueError(f"a spectrum's point data of {len(payload)} bytes exceeds the 4 GiB a file can hold")
    header = _HEADER.pack(
        _BEGIN,
        POINT_ENCODINGS.index(encoding),
        _X_NOT_STORED if points.x is None else _X_STORED,
        points.intensity.itemsize,
        0,
        len(points.intensity),
        len(payload),
    )
    return b"".join((header, payload, _END))


def _shuffled_payload(points: PointArrays) -> bytes:
    """The zstd-shuffle payload before compression: each x value as the difference of its bit
    pattern from the previous one's (modulo 2**64; small, since x values are close and sorted),
    then the bytes of the x values and of the intensities each shuffled into byte planes."""
    planes = []
    if points.x is not None:
        bits = points.x.view("<u8")
        planes.append(_byte_planes(np.diff(bits, prepend=np.zeros(1, "<u8")).astype("<u8", copy=False)))
    planes.append(_byte_planes(points.intensity))
    return b"".join(planes)


def _byte_planes(values: np.ndarray) -> bytes:
    """Byte 0 of every (little-endian) value, then byte 1 of every value, and so on."""
    return values.view(np.uint8).reshape(-1, values.itemsize).T.tobytes()
