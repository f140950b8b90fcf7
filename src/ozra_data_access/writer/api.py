"""Writing a whole Ozra file from `MeasurementData`."""

from __future__ import annotations

import os
import struct
from typing import BinaryIO, Callable, Iterable, Optional, Sequence, Union

import numpy as np

from ozra_data_access import __version__
from ozra_data_access.writer import blocks, records
from ozra_data_access.writer.atomic import atomic_output
from ozra_data_access.writer.model import (
    AUTO,
    LaterIndex,
    INTENSITY_WIDTHS,
    FunctionData,
    MeasurementData,
    SpectrumData,
)
from ozra_data_access.writer.points import PointArrays, check_point_encoding, encode_points
from ozra_data_access.writer.primitives import FrameCompressor
from ozra_data_access.writer.values import encode_record, encode_value

#: The converter version a file gets unless the caller names one: this package's version.
CONVERTER_VERSION = tuple(int(part) for part in __version__.split(".")[:3])

#: How many spectra pass between two calls of the progress callback.
PROGRESS_INTERVAL = 1000

PathType = Union[str, "os.PathLike[str]"]
_I64 = struct.Struct("<q")


def write_file(
    path: PathType,
    measurements: Iterable[MeasurementData],
    *,
    point_encoding: str = "zstd",
    intensity_width: int = 4,
    compression_level: int = 3,
    converter_version: Sequence[int] = CONVERTER_VERSION,
    format_version: Sequence[int] = blocks.FORMAT_VERSION,
    progress: Optional[Callable[[int], None]] = None,
) -> PathType:
    """Writes `measurements` as an Ozra file at `path` and returns `path`.

    `point_encoding` ("raw", "zstd" or "zstd-shuffle": see POINT_ENCODINGS) and `intensity_width`
    (4 for float32, 8 for float64)
    apply to every spectrum whose function and own settings do not choose otherwise.
    `compression_level` is zstd's level for the point data and description frames.
    `converter_version` is stored as the version of the program that wrote the file;
    `format_version` exists to write files a reader must refuse. `progress`, when given, is
    called with the number of spectra written so far, every `PROGRESS_INTERVAL` spectra and
    once at the end.

    Spectra are streamed to the file as their functions' iterables yield them; only the
    descriptions and positions of one function at a time are held. The file is written
    under a temporary name and renamed to `path` only when complete; on any error nothing
    is left behind and an existing file at `path` is untouched.
    """
    _check_point_choice(point_encoding, intensity_width)
    with atomic_output(path) as file:
        writer = _FileWriter(file, point_encoding, intensity_width, FrameCompressor(compression_level), progress)
        writer.write(measurements, format_version, converter_version)
    return path


def _check_point_choice(encoding: Optional[str], width: Optional[int]) -> None:
    check_point_encoding(encoding)
    if width is not None and width not in INTENSITY_WIDTHS:
        raise ValueError(f"intensity width is 4 or 8 bytes, not {width!r}")


class _FileWriter:
    """Lays out the blocks: each function's spectra, then its spectrum index block; each
    measurement's function index block behind its functions; the jump table last."""

    def __init__(self, file: BinaryIO, encoding: str, width: int, compressor: FrameCompressor,
                 progress: Optional[Callable[[int], None]]):
        self._file = file
        self._position = 0
        self._encoding = encoding
        self._width = width
        self.compressor = compressor
        self._progress = progress
        self._spectra_written = 0

    def emit(self, data: bytes) -> int:
        """Writes `data` and returns the position it starts at."""
        position = self._position
        self._file.write(data)
        self._position += len(data)
        return position

    def write(self, measurements: Iterable[MeasurementData], format_version: Sequence[int],
              converter_version: Sequence[int]) -> None:
        self.emit(blocks.header(format_version, converter_version, 0))
        positions = []
        descriptions = bytearray()
        for measurement in measurements:
            positions.append(self._measurement(measurement))
            encode_record(descriptions, *records.measurement_description(measurement))
        jump_table_position = self._position
        self.emit(blocks.jump_table(jump_table_position, positions, descriptions, self.compressor))
        self._file.seek(blocks.JUMP_TABLE_POSITION_OFFSET)
        self._file.write(_I64.pack(jump_table_position))
        if self._progress is not None:
            self._progress(self._spectra_written)

    def _measurement(self, measurement: MeasurementData) -> int:
        positions = []
        descriptions = bytearray()
        for function in measurement.functions:
            positions.append(self._function(function))
            encode_record(descriptions, *records.function_description(function))
        block_position = self._position
        self.emit(blocks.function_index_block(block_position, positions, descriptions, self.compressor))
        return block_position

    def _function(self, function: FunctionData) -> int:
        _check_point_choice(function.point_encoding, function.intensity_width)
        index = _SpectrumIndex(function, function.point_encoding or self._encoding,
                               function.intensity_width or self._width)
        for position_in_function, spectrum in enumerate(function.spectra):
            index.add(self, position_in_function, spectrum)
            self._count_spectrum()
        block_position = self._position
        self.emit(index.block(block_position, self.compressor))
        return block_position

    def _count_spectrum(self) -> None:
        self._spectra_written += 1
        if self._progress is not None and self._spectra_written % PROGRESS_INTERVAL == 0:
            self._progress(self._spectra_written)


class _SpectrumIndex:
    """The positions and descriptions of one function's spectra, gathered as they are written."""

    def __init__(self, function: FunctionData, encoding: str, width: int):
        self._function = function
        self._encoding = encoding
        self._width = width
        self._wavelengths = None if function.wavelengths is None else np.asarray(function.wavelengths, dtype="<f8")
        self._write_profiles = function.has_profile is not False
        self._positions: list[int] = []
        self._profile_positions: list[int] = []
        self._descriptions = bytearray()
        #: (offset of the stored integer, its LaterIndex) of the descriptions' condition indices set later.
        self._later: list[tuple[int, LaterIndex]] = []

    def add(self, writer: _FileWriter, position_in_function: int, spectrum: SpectrumData) -> None:
        """Writes the spectrum's points through `writer` and keeps its positions and description."""
        width = spectrum.intensity_width or self._width
        encoding = spectrum.point_encoding or self._encoding
        x = spectrum.x
        if x is None and self._wavelengths is None:
            if spectrum.intensity is not None and len(spectrum.intensity):
                raise ValueError(f"spectrum {position_in_function} has intensities but no x values, "
                                 "and its function has no wavelength array")
            x = ()
        points = PointArrays(x, spectrum.intensity, width)
        self._positions.append(writer.emit(encode_points(points, encoding, writer.compressor)))
        profile_position = 0
        if self._write_profiles and spectrum.has_profile:
            profile = PointArrays(spectrum.profile_x, spectrum.profile_intensity, width)
            profile_position = writer.emit(encode_points(profile, encoding, writer.compressor))
        self._profile_positions.append(profile_position)
        index = position_in_function if spectrum.index is AUTO else spectrum.index
        kind, fields = records.spectrum_description(
            spectrum, index, _summary(spectrum, points, self._wavelengths),
            spectrum.has_profile if spectrum.is_profile_spectrum_measured is AUTO
            else spectrum.is_profile_spectrum_measured,
        )
        later = spectrum.acquisition_condition_index
        if isinstance(later, LaterIndex):
            # Stored as an integer now and overwritten in place when the block is written: the
            # record's header, index and retention time come before it.
            fields[2] = 0
            leading = bytearray(2)
            encode_value(leading, fields[0])
            encode_value(leading, fields[1])
            self._later.append((len(self._descriptions) + len(leading) + 1, later))
        encode_record(self._descriptions, kind, fields)

    def block(self, block_position: int, compressor: FrameCompressor) -> bytes:
        """The spectrum index block, to be written at `block_position`."""
        for offset, later in self._later:
            if not isinstance(later.value, int):
                raise ValueError(f"a later condition index was never set (it is {later.value!r})")
            _I64.pack_into(self._descriptions, offset, later.value)
        has_profile = self._function.has_profile
        if has_profile is None:
            has_profile = any(self._profile_positions)
        return blocks.spectrum_index_block(block_position, self._positions,
                                           self._profile_positions if has_profile else None,
                                           self._descriptions, compressor)


def _summary(spectrum: SpectrumData, points: PointArrays, wavelengths: Optional[np.ndarray]) -> tuple:
    """The three summary values, each as given or derived from the stored points."""
    given = (spectrum.current_total_ion, spectrum.base_peak_intensity, spectrum.base_peak_mz)
    if all(value is not AUTO for value in given):
        return given
    derived = points.summary(wavelengths)
    return tuple(d if value is AUTO else value for value, d in zip(given, derived))
