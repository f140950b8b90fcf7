"""Stand-ins for the storage layer under a DADAnalysis: a reader serving spectra
from memory, spectrum and function index records, and an extraction record.

The qual module reaches the storage layer only through names bound in its
namespace and mangled members, so these replace it for tests of the DAD
chromatograms without any file.
"""

from collections import namedtuple

import numpy as np

from ozra_data_access import qual
from ozra_data_access._internal._description import (
    DetectorTypes,
    FunctionDescription,
    InternalSpectrumDescription,
    QualDescription,
)

PointRecord = namedtuple("PointRecord", "x intensity")
POINT_DTYPE = np.dtype([("x", "<f8"), ("intensity", "<f8")])

ORIGIN = 1000  # absolute position just behind the spectrum index block's marker
STRIDE = 16  # relative distance between two spectra's point data


def as_points(x, y, as_buffer):
    """The reader's points: a structured array (offers the points buffer) or a list of records."""
    if as_buffer:
        points = np.empty(len(x), dtype=POINT_DTYPE)
        points["x"] = x
        points["intensity"] = y
        return points
    return [PointRecord(float(a), float(b)) for a, b in zip(x, y)]


class PointArray(np.ndarray):
    """A points buffer that also answers clear(), as an extraction record's point list must."""

    def clear(self):
        self.cleared = True


class StandInXicInfo:
    """The extraction record of multiple-window reads."""

    def __init__(self, value_range, as_buffer):
        self._XicInfo__range = value_range
        self._XicInfo__is_break_to_read = None
        self._XicInfo__spectrum_point = PointArray(0, dtype=POINT_DTYPE) if as_buffer else []
        self._XicInfo__xic = []
        self.as_buffer = as_buffer

    @classmethod
    def factory(cls, as_buffer, made):
        """A class with the record's private factory; every record made is appended to `made`."""

        class Bound(cls):
            @classmethod
            def _XicInfo__create_instance(klass, value_range):
                record = cls(value_range, as_buffer)
                made.append(record)
                return record

        return Bound


class StandInReader:
    """Serves spectrum i at absolute position ORIGIN + STRIDE * i and records every read."""

    def __init__(self, spectra, retention_times, as_buffer=True):
        self.spectra = spectra  # list of (x, y) arrays
        self.retention_times = retention_times
        self.as_buffer = as_buffer
        self.position = None
        self.calls = []

    def _OzraFileReader__set_buffer(self, position):
        self.position = position
        self.calls.append(("set_buffer", position))

    def _OzraFileReader__confirm_ozra_symbol(self, symbol):
        self.calls.append(("confirm", symbol.name))

    def _OzraFileReader__get_absolute_position(self):
        return ORIGIN

    def _OzraFileReader__read_uint32(self):
        return len(self.spectra)

    def _OzraFileReader__read_bool(self):
        return False

    def _OzraFileReader__read_int64_array(self):
        return [STRIDE * i for i in range(len(self.spectra))]

    def _OzraFileReader__set_decompressed_buffer(self):
        pass

    def _OzraFileReader__reset_decompressed_buffer(self):
        pass

    def _current(self):
        i, rest = divmod(self.position - ORIGIN, STRIDE)
        assert rest == 0 and 0 <= i < len(self.spectra), "read at a position where no spectrum lies"
        return self.spectra[i]

    def _OzraFileReader__read_spectrum(self):
        self.calls.append(("read_spectrum",))
        return as_points(*self._current(), self.as_buffer)

    def _OzraFileReader__read_dad_spectrum(self, wavelength_arr):
        self.calls.append(("read_dad_spectrum", wavelength_arr))
        return as_points(*self._current(), self.as_buffer)

    def _fill(self, xic_arr):
        x, y = (np.asarray(v, dtype=float) for v in self._current())
        for record in xic_arr:
            assert record._XicInfo__is_break_to_read is False, "the early-stop flag was not reset"
            old = record._XicInfo__spectrum_point
            if record.as_buffer:
                assert getattr(old, "cleared", len(old) == 0), "the point list was not cleared"
            else:
                assert old == [], "the point list was not cleared"
            value_range = record._XicInfo__range
            keep = [value_range.contains_value(float(v)) for v in x]
            points = as_points(x[keep], y[keep], record.as_buffer)
            if record.as_buffer:
                record._XicInfo__spectrum_point = points.view(PointArray)
            else:
                old.extend(points)

    def _OzraFileReader__read_spectrum_for_multiple_xic(self, xic_arr):
        self.calls.append(("read_spectrum_for_multiple_xic",))
        self._fill(xic_arr)

    def _OzraFileReader__read_dad_spectrum_for_multiple_xic(self, xic_arr, wavelength_arr):
        self.calls.append(("read_dad_spectrum_for_multiple_xic", wavelength_arr))
        self._fill(xic_arr)


class StandInSpectrumIndex:
    @classmethod
    def _SpectrumIndex__create_instance(cls, reader, position, index):
        record = cls()
        record._SpectrumIndex__reader = reader
        record._SpectrumIndex__position = position
        record._SpectrumIndex__profile_position = 0
        record._SpectrumIndex__spectrum_description = InternalSpectrumDescription(
            index=index, retention_time=reader.retention_times[index]
        )
        return record

    def _SpectrumIndex__set_profile_position(self, position):
        self._SpectrumIndex__profile_position = position


class StandInFunctionIndex:
    def __init__(self, reader, wavelength_arr):
        self._FunctionIndex__reader = reader
        self._FunctionIndex__position = 0
        self._FunctionIndex__function_description = FunctionDescription(
            is_qual=True,
            qual_description=QualDescription(detector_type=DetectorTypes.DAD, wavelength_arr=wavelength_arr),
        )


DEFAULT_WAVELENGTHS = object()


def make_dad_analysis(monkeypatch, spectra, retention_times=None, wavelength_arr=DEFAULT_WAVELENGTHS,
                      as_buffer=True):
    """A DADAnalysis over `spectra` (pairs of wavelength and intensity sequences).

    Returns the analysis, its reader and the list of extraction records made
    during the test. Retention times default to 0.5 per spectrum index.
    """
    if retention_times is None:
        retention_times = [0.5 * i for i in range(len(spectra))]
    if wavelength_arr is DEFAULT_WAVELENGTHS:
        wavelength_arr = [200.0, 201.0]
    made = []
    monkeypatch.setattr(qual, "SpectrumIndex", StandInSpectrumIndex)
    monkeypatch.setattr(qual, "XicInfo", StandInXicInfo.factory(as_buffer, made))
    reader = StandInReader(spectra, retention_times, as_buffer)
    analysis = qual.DADAnalysis._DADAnalysis__create_instance(StandInFunctionIndex(reader, wavelength_arr), 0)
    return analysis, reader, made


def values(chromatogram):
    """(spectrum index, retention time, intensity, wavelength) of each chromatogram point."""
    return [(p.spectrum_index, p.retention_time, p.intensity, p.x) for p in chromatogram]
