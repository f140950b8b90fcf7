"""A stand-in storage layer for testing the access module without Ozra files.

The classes carry the storage layer's class names, so their private members get
the very mangled names access calls (`_OzraFileReader__set_buffer`, ...). They
build the real index and description records, and every reader call and record
creation is logged on the reader, so a test can check the exact call sequence.

`install(monkeypatch)` binds them (and stand-in analysis classes) in
`ozra_data_access.access` and returns the registry of "files": path -> StoredFile.
"""

from dataclasses import dataclass, field

from ozra_data_access import access
from ozra_data_access._internal._description import (
    DetectorTypes,
    FunctionDescription,
    MeasurementDescription,
    QualDescription,
    QuanDescription,
)
from ozra_data_access._internal._index import FunctionIndex as FunctionIndexRecord
from ozra_data_access._internal._index import JumpTable as JumpTableRecord
from ozra_data_access._internal._index import MeasurementIndex

MARKER_SIZE = 4
FUNCTION_STRIDE = 16


def qual_function(detector=DetectorTypes.MS):
    return FunctionDescription(is_qual=True, qual_description=QualDescription(detector_type=detector))


def quan_function(detector=DetectorTypes.MS):
    return FunctionDescription(is_qual=False, quan_description=QuanDescription(detector_type=detector))


@dataclass
class StoredMeasurement:
    description: MeasurementDescription = field(default_factory=MeasurementDescription)
    functions: list = field(default_factory=list)  # FunctionDescription records in stored order


@dataclass
class StoredFile:
    measurements: list = field(default_factory=list)
    versions: tuple = (1, 0, 0)
    converter_versions: tuple = (1, 0, 0)
    num_measurements: object = None  # the stored count; len(measurements) when None
    fail_jump_table: Exception = None

    def block_position(self, k):
        return 1000 * (k + 1)


class Stream:
    def __init__(self):
        self.closed = False
        self.close_calls = 0

    def close(self):
        self.close_calls += 1
        self.closed = True


class OzraFileReader:
    files = {}
    created = []

    def __init__(self, stored):
        self.__stream = Stream()
        self.stored = stored
        self.log = []
        self.position = None

    @classmethod
    def __create_instance(cls, file_path):
        try:
            stored = cls.files[file_path]
        except KeyError:
            raise FileNotFoundError(file_path) from None
        reader = cls(stored)
        cls.created.append(reader)
        return reader

    @property
    def stream(self):
        return self.__stream

    def record(self, *call):
        if self.__stream.closed:
            raise ValueError("I/O operation on closed file")
        self.log.append(call)

    def block(self):
        k = (self.position // 1000) - 1
        return self.stored.measurements[k].functions

    def __set_buffer(self, position):
        self.record("set_buffer", position)
        self.position = position

    def __confirm_ozra_symbol(self, symbol):
        self.record("confirm", symbol)

    def __get_absolute_position(self):
        self.record("get_absolute_position")
        return self.position + MARKER_SIZE

    def __read_uint16_or_32(self):
        self.record("read_uint16_or_32")
        return len(self.block())

    def __read_int64_array(self):
        self.record("read_int64_array")
        return [FUNCTION_STRIDE * (i + 1) for i in range(len(self.block()))]

    def __set_decompressed_buffer(self):
        self.record("set_decompressed_buffer")

    def __reset_decompressed_buffer(self):
        self.record("reset_decompressed_buffer")

    def function_at(self, absolute_position):
        i = (absolute_position - self.position - MARKER_SIZE) // FUNCTION_STRIDE - 1
        return self.block()[i]


class JumpTable:
    @classmethod
    def __create_instance(cls, reader):
        stored = reader.stored
        reader.record("JumpTable")
        if stored.fail_jump_table is not None:
            raise stored.fail_jump_table
        indices = [
            MeasurementIndex(reader=reader, position=stored.block_position(k), measurement_description=m.description)
            for k, m in enumerate(stored.measurements)
        ]
        count = len(indices) if stored.num_measurements is None else stored.num_measurements
        major, minor, revision = stored.versions
        lib_major, lib_minor, lib_revision = stored.converter_versions
        return JumpTableRecord(
            num_measurements=count, measurement_index_list=indices,
            major_version=major, minor_version=minor, revision_version=revision,
            major_lib_version=lib_major, minor_lib_version=lib_minor, revision_lib_version=lib_revision,
        )


class FunctionIndex:
    @classmethod
    def __create_instance(cls, reader, position):
        reader.record("FunctionIndex", position)
        return FunctionIndexRecord(reader=reader, position=position, function_description=reader.function_at(position))


class StandInAnalysis:
    """What an analysis getter built: the class called, its two arguments."""

    def __init__(self, cls, function_index, index):
        self.cls, self.function_index, self.index = cls, function_index, index


def analysis_class(name):
    def create_instance(cls, function_index, index):
        # A real analysis reads its block at once; a closed stream makes this fail.
        function_index._FunctionIndex__reader.record(name, function_index._FunctionIndex__position)
        return StandInAnalysis(cls, function_index, index)

    return type(name, (), {"_" + name + "__create_instance": classmethod(create_instance)})


ANALYSIS_CLASSES = {name: analysis_class(name) for name in ("QualAnalysis", "DADAnalysis", "QuanAnalysis",
                                                            "AnalogAnalysis")}


def install(monkeypatch):
    files = {}
    monkeypatch.setattr(OzraFileReader, "files", files)
    monkeypatch.setattr(OzraFileReader, "created", [])
    for stand_in in (OzraFileReader, JumpTable, FunctionIndex, *ANALYSIS_CLASSES.values()):
        monkeypatch.setattr(access, stand_in.__name__, stand_in)
    return files
