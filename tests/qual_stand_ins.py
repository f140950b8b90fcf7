"""A stand-in storage layer for testing QualAnalysis without Ozra files.

`make_analysis(monkeypatch, spectra)` builds a real QualAnalysis over an in-memory
reader. Each stored spectrum is a `StoredSpectrum`: its description fields and its
points. The reader hands the points out either as a numpy structured array (which
offers the points buffer "T{d:x:d:intensity:}") or as a list of plain records, and
logs every spectrum it reads, so a test can see which spectra were read and how often.
"""

from dataclasses import dataclass, field
from types import SimpleNamespace

import numpy as np

from ozra_data_access import qual
from ozra_data_access._internal._description import FunctionDescription, InternalSpectrumDescription, QualDescription
from ozra_data_access._internal._enum import DetectorTypes
from ozra_data_access._internal._index import FunctionIndex, SpectrumIndex as SpectrumIndexRecord

POINT_DTYPE = np.dtype([("x", "<f8"), ("intensity", "<f8")])
FUNCTION_POSITION = 1000
MARKER_SIZE = 4
SPECTRUM_STRIDE = 64


@dataclass
class StoredSpectrum:
    retention_time: object = 1.0
    points: list = field(default_factory=list)  # (x, intensity) pairs, in increasing x
    ms_level: int = 1
    polarity: object = None
    collision_energy: object = None
    index: object = None  # the stored index; the position in the list when None


def buffer_points(pairs):
    """The points as a structured array: the native scan reads its buffer."""
    return np.array([tuple(p) for p in pairs], dtype=POINT_DTYPE)


def record_points(pairs):
    """The points as a list of records: the generic scan reads their attributes."""
    return [SimpleNamespace(x=x, intensity=intensity) for x, intensity in pairs]


class OzraFileReader:
    """Serves one function's spectrum index block and its spectra's points."""

    def __init__(self, spectra, points=buffer_points):
        self.spectra = spectra
        self.points = points
        self.position = None
        self.reads = []  # list positions of the spectra read, in reading order

    def spectrum_at(self, position):
        return (position - FUNCTION_POSITION - MARKER_SIZE) // SPECTRUM_STRIDE

    def __set_buffer(self, position):
        self.position = position

    def __confirm_ozra_symbol(self, symbol):
        pass

    def __get_absolute_position(self):
        return self.position + MARKER_SIZE

    def __read_uint32(self):
        return len(self.spectra)

    def __read_bool(self):
        return False  # no profile positions

    def __read_int64_array(self):
        return [SPECTRUM_STRIDE * k for k in range(len(self.spectra))]

    def __set_decompressed_buffer(self):
        pass

    def __reset_decompressed_buffer(self):
        pass

    def __read_spectrum(self):
        k = self.spectrum_at(self.position)
        self.reads.append(k)
        return self.points(self.spectra[k].points)


class SpectrumIndex:
    """The storage layer's factory, returning real SpectrumIndex records."""

    @classmethod
    def __create_instance(cls, reader, position, index):
        stored = reader.spectra[reader.spectrum_at(position)]
        description = InternalSpectrumDescription(
            index=index if stored.index is None else stored.index,
            retention_time=stored.retention_time,
            ms_level=stored.ms_level,
            polarity=stored.polarity,
            collision_energy=stored.collision_energy,
        )
        return SpectrumIndexRecord(reader=reader, position=position, profile_position=None,
                                   spectrum_description=description)


class AcquisitionCondition:
    """Stands in for the condition class until it is in the tree: equal by field."""

    def __init__(self, record):
        self.ms_level = record._InternalSpectrumDescription__ms_level
        self.polarity = record._InternalSpectrumDescription__polarity
        self.collision_energy = record._InternalSpectrumDescription__collision_energy

    def key(self):
        return (self.ms_level, self.polarity, self.collision_energy)

    def __eq__(self, other):
        return type(other) is type(self) and self.key() == other.key()

    def __hash__(self):
        return hash(self.key())


class ChromatogramFilterOption:
    """A request: any object with these three properties will do."""

    def __init__(self, acquisition_condition, extract_mz_range, retention_time_range=None):
        self.acquisition_condition = acquisition_condition
        self.extract_mz_range = extract_mz_range
        self.retention_time_range = retention_time_range


def request_class():
    return getattr(qual, "ChromatogramFilterOption", ChromatogramFilterOption)


def make_analysis(monkeypatch, spectra, points=buffer_points):
    """A QualAnalysis over `spectra` (StoredSpectrum list); returns (analysis, reader)."""
    monkeypatch.setattr(qual, "SpectrumIndex", SpectrumIndex)
    if not hasattr(qual, "AcquisitionCondition"):
        monkeypatch.setattr(qual, "AcquisitionCondition", AcquisitionCondition, raising=False)
    reader = OzraFileReader(spectra, points)
    function = FunctionIndex(
        reader=reader, position=FUNCTION_POSITION,
        function_description=FunctionDescription(
            is_qual=True, qual_description=QualDescription(detector_type=DetectorTypes.MS)),
    )
    return qual.QualAnalysis._QualAnalysis__create_instance(function, 0), reader


def condition_of(analysis, k):
    """The condition the analysis attached to spectrum k."""
    description = analysis._QualAnalysis__spectrum_index_list[k]._SpectrumIndex__spectrum_description
    return description._InternalSpectrumDescription__acquisition_condition
