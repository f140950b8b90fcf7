"""The native reader on well-formed files: primitives, blocks, records, spectra,
the points buffer, multiple-extraction reads, the stream and subclassing."""

import array
import math
import struct

import numpy
import pytest

import ozra_bytes as ob
from ozra_data_access._internal import _enum
from ozra_data_access._internal._description import InternalSpectrumDescription
from ozra_data_access._internal._index import FunctionIndex, JumpTable, SpectrumIndex
from ozra_data_access._internal._reader import OzraFileReader, XicInfo
from ozra_data_access._internal._storage import SpectrumPoint
from ozra_data_access.common import PolarityTypes, SpectrumTypes, ValueRange
from ozra_data_access.exception import OzraFormatError

R = "_OzraFileReader__"


def call(reader, name, *args):
    return getattr(reader, R + name)(*args)


def with_body(body):
    """A valid header followed by `body` at offset 29 (the jump table position is never read)."""
    builder = ob.FileBuilder()
    builder.add(body)
    return builder.build(0)


@pytest.fixture
def sample(tmp_path):
    data, expected = ob.sample_file()
    path = tmp_path / "sample.ozra"
    path.write_bytes(data)
    return path, expected


def pairs(points):
    return [(p.x, p.intensity) for p in points]


# ---- primitives and blocks ---------------------------------------------------

@pytest.mark.parametrize("value, encoded_size", [(0, 2), (0xFFFE, 2), (0xFFFF, 6), (70000, 6), (2**32 - 1, 6)])
def test_counts_use_the_escape_above_0xfffe(open_file, value, encoded_size):
    reader = open_file(with_body(ob.count(value) + b"\x01"))
    call(reader, "set_buffer", 29)
    assert call(reader, "read_uint16_or_32") == value
    assert call(reader, "get_absolute_position") == 29 + encoded_size
    assert call(reader, "read_bool") is True


def test_fixed_width_primitives_and_arrays(open_file):
    body = struct.pack("<I", 0xDEADBEEF) + b"\x00" + ob.i64_array([-(2**63), -1, 0, 2**63 - 1])
    reader = open_file(with_body(body + ob.i64_array([])))
    call(reader, "set_buffer", 29)
    assert call(reader, "read_uint32") == 0xDEADBEEF
    assert call(reader, "read_bool") is False
    call(reader, "set_buffer", 34)  # a new block: the u32 above is no count for these arrays
    values = call(reader, "read_int64_array")
    assert list(values) == [-(2**63), -1, 0, 2**63 - 1]
    assert values[3] + 1 == 2**63  # plain ints, usable in position arithmetic
    assert list(call(reader, "read_int64_array")) == []


def test_decompressed_buffer_is_read_exactly_then_the_file_continues(open_file):
    frame = ob.frame(struct.pack("<I", 7) + b"\x01")
    reader = open_file(with_body(frame + ob.marker(_enum.OzraSymbols.END_OF_SPECTRUM)))
    call(reader, "set_buffer", 29)
    call(reader, "set_decompressed_buffer")
    assert call(reader, "read_uint32") == 7
    with pytest.raises(OzraFormatError, match=r"expected the end of the frame's records, found 1 more bytes"):
        call(reader, "reset_decompressed_buffer")
    assert call(reader, "read_bool") is True
    call(reader, "reset_decompressed_buffer")
    assert call(reader, "get_absolute_position") == 29 + len(frame)
    call(reader, "confirm_ozra_symbol", _enum.OzraSymbols.END_OF_SPECTRUM)


def test_walk_decodes_the_jump_table_and_every_record(sample):
    path, expected = sample
    table, measurements = ob.walk(path)
    assert [getattr(table, "_JumpTable__" + n) for n in
            ["num_measurements", "major_version", "minor_version", "revision_version",
             "major_lib_version", "minor_lib_version", "revision_lib_version"]] == [1, 1, 0, 0, 2, 3, 4]
    (measurement, functions), = measurements
    description = measurement._MeasurementIndex__measurement_description
    assert description._MeasurementDescription__sample_name == "sample"
    assert description._MeasurementDescription__plate_code is None
    assert description._MeasurementDescription__dilution_factor == 1.0
    assert description._MeasurementDescription__supplemental_properties == {"key": "value"}

    (ms, ms_spectra, ms_points), (dad, dad_spectra, dad_points) = functions
    qual = ms._FunctionIndex__function_description._FunctionDescription__qual_description
    assert qual._QualDescription__detector_type is _enum.DetectorTypes.MS
    stored = qual._QualDescription__unique_acquisition_condition_list
    core = stored[1]._InternalAcquisitionCondition__internal_acquisition_core_condition
    assert core._InternalAcquisitionCoreCondition__mass_range == ValueRange(50, 500)
    assert type(core._InternalAcquisitionCoreCondition__mass_range.min) is int
    vendor = core._InternalAcquisitionCoreCondition__vendor_specific_additional_condition
    assert vendor._VendorSpecificAdditionalCondition__type is \
        _enum.VendorSpecificAdditionalConditionTypes.WATERS_MASS_LYNX
    assert vendor._VendorSpecificAdditionalCondition__scan_info_string == "scan"
    triple = core._InternalAcquisitionCoreCondition__triple_q_scan_condition
    assert triple._TripleQScanCondition__q1_range is None
    assert stored[1]._InternalAcquisitionCondition__precursor_value == 301.1

    spectrum = ms_spectra[1]._SpectrumIndex__spectrum_description
    assert spectrum._InternalSpectrumDescription__index == 1
    assert spectrum._InternalSpectrumDescription__retention_time == 0.6
    assert spectrum._InternalSpectrumDescription__acquisition_condition_index == 1
    assert spectrum._InternalSpectrumDescription__acquisition_condition is None
    assert spectrum._InternalSpectrumDescription__polarity is PolarityTypes.POSITIVE
    assert spectrum._InternalSpectrumDescription__spectrum_type is SpectrumTypes.CENTROID
    assert spectrum._InternalSpectrumDescription__is_profile_spectrum_measured is False
    assert spectrum._InternalSpectrumDescription__product_indices == []
    assert [s._SpectrumIndex__profile_position != 0 for s in ms_spectra] == [True, False, False]
    assert [s._SpectrumIndex__profile_position for s in dad_spectra] == [0, 0]
    assert all(s._SpectrumIndex__reader is ms_spectra[0]._SpectrumIndex__reader for s in ms_spectra + dad_spectra)

    assert [pairs(p) for p in ms_points] == [expected["ms"][0], expected["profile"], *expected["ms"][1:]]
    wavelengths = dad._FunctionIndex__function_description._FunctionDescription__qual_description \
        ._QualDescription__wavelength_arr
    assert isinstance(wavelengths, array.array) and wavelengths.typecode == "d"
    assert [pairs(p) for p in dad_points] == expected["dad"]


def test_records_skip_fields_appended_by_later_minor_versions(open_file):
    extended = ob.spectrum_description(7)
    extended.fields += ("a later field", [1, {"k": None}])
    reader = open_file(with_body(ob.frame(ob.record(extended) + ob.record(ob.spectrum_description(8)))))
    call(reader, "set_buffer", 29)
    call(reader, "set_decompressed_buffer")
    first, second = (SpectrumIndex._SpectrumIndex__create_instance(reader, 0, i) for i in range(2))
    call(reader, "reset_decompressed_buffer")
    assert [s._SpectrumIndex__spectrum_description._InternalSpectrumDescription__index
            for s in (first, second)] == [7, 8]


def test_empty_arrays_are_empty_arrays_on_a_fresh_reader(open_file):
    """Found by fuzzing: an empty array read before any non-empty one came out as TypeError."""
    description = ob.spectrum_description(cone_voltage=array.array("d"))
    reader = open_file(with_body(ob.i64_array([]) + ob.frame(ob.record(description))))
    call(reader, "set_buffer", 29)
    assert call(reader, "read_int64_array") == array.array("q")
    call(reader, "set_decompressed_buffer")
    decoded = SpectrumIndex._SpectrumIndex__create_instance(reader, 0, 0)._SpectrumIndex__spectrum_description
    assert decoded._InternalSpectrumDescription__cone_voltage == array.array("d")


@pytest.mark.parametrize("conditions, stored_index", [(None, 99), (None, None), (ob.CONDITIONS, 1)])
def test_acquisition_condition_index_is_checked_only_against_a_stored_list(tmp_path, conditions, stored_index):
    path = tmp_path / "conditions.ozra"
    path.write_bytes(ob.one_function_file([ob.spectrum_description(condition_index=stored_index)], conditions))
    _, [(_, [(_, [spectrum], _)])] = ob.walk(path)
    description = spectrum._SpectrumIndex__spectrum_description
    assert description._InternalSpectrumDescription__acquisition_condition_index == stored_index


# ---- spectra and the points type ---------------------------------------------

@pytest.mark.parametrize("compressed", [False, True])
@pytest.mark.parametrize("width", [4, 8])
def test_spectrum_encodings(open_file, compressed, width):
    xs, ys = [100.0, 100.5, 250.125], [1.5, 0.0, 1e6]
    reader = open_file(with_body(ob.spectrum(xs, ys, compressed=compressed, width=width)))
    call(reader, "set_buffer", 29)
    points = call(reader, "read_spectrum")
    assert pairs(points) == list(zip(xs, ys))
    assert call(reader, "get_absolute_position") == reader._OzraFileReader__stream.seek(0, 2)


def test_f32_intensities_keep_their_single_precision_value(open_file):
    reader = open_file(with_body(ob.spectrum([1.0], [0.1], width=4)))
    call(reader, "set_buffer", 29)
    assert call(reader, "read_spectrum")[0].intensity == struct.unpack("<f", struct.pack("<f", 0.1))[0]


@pytest.mark.parametrize("wavelengths", [
    array.array("d", [190.0, 200.0, 210.0]),
    numpy.array([190.0, 200.0, 210.0]),
    [190, 200.0, 210.0],
    (190.0, 200.0, 210.0),
    array.array("f", [190.0, 200.0, 210.0]),  # a buffer, but not of doubles: read as a sequence
    numpy.array([190.0, -1.0, 200.0, -1.0, 210.0])[::2],  # not contiguous: read as a sequence
])
def test_dad_spectrum_takes_x_from_any_wavelength_array(open_file, wavelengths):
    reader = open_file(with_body(ob.spectrum(None, [3.0, 2.0, 1.0], x_stored=False)))
    call(reader, "set_buffer", 29)
    assert pairs(call(reader, "read_dad_spectrum", wavelengths)) == [(190.0, 3.0), (200.0, 2.0), (210.0, 1.0)]


def test_points_sequence_indexing(open_file):
    reader = open_file(with_body(ob.spectrum([1.0, 2.0, 3.0], [10.0, 20.0, 30.0])))
    call(reader, "set_buffer", 29)
    points = call(reader, "read_spectrum")
    assert len(points) == 3
    assert points[-1] == SpectrumPoint(3.0, 30.0) and points[-3] == points[0]
    assert points[1] != SpectrumPoint(2.0, 20.5)
    assert hash(points[1]) == hash(SpectrumPoint(x=2.0, intensity=20.0))
    assert repr(points[0]) == "SpectrumPoint(x=1.0, intensity=10.0)"
    for index in (3, -4):
        with pytest.raises(IndexError):
            points[index]
    assert [p.x for p in points] == [1.0, 2.0, 3.0]


def test_points_buffer_is_a_zero_copy_read_only_matrix_of_pairs(open_file):
    reader = open_file(with_body(ob.spectrum([1.0, 2.0], [10.0, 20.0]) + ob.spectrum([], [])))
    call(reader, "set_buffer", 29)
    points = call(reader, "read_spectrum")
    view = memoryview(points)
    assert (view.format, view.itemsize, view.ndim, view.shape, view.strides, view.readonly) == \
        ("d", 8, 2, (2, 2), (16, 8), True)
    values = numpy.asarray(points)
    assert values.dtype == numpy.float64 and values.tolist() == [[1.0, 10.0], [2.0, 20.0]]
    assert numpy.shares_memory(values, numpy.asarray(points))
    assert not values.flags.writeable
    with pytest.raises(ValueError):
        values[0, 0] = 5.0
    with pytest.raises(TypeError):
        memoryview(points).cast("B")[0] = 1
    del view, values
    assert numpy.asarray(call(reader, "read_spectrum")).shape == (0, 2)


# ---- multiple-extraction reads -----------------------------------------------

XS = [100.0, 100.0, 150.0, 200.0, 200.0, 200.0, 250.0, 300.0]


@pytest.mark.parametrize("low, high, expected, more_above", [
    (100.0, 100.0, [0, 1], True),          # both ends included, duplicates kept
    (150.0, 200.0, [2, 3, 4, 5], True),
    (150.1, 199.9, [], True),              # between points
    (0.0, 99.0, [], True),
    (250.0, 1000.0, [6, 7], False),
    (301.0, 400.0, [], False),
    (0.0, 1000.0, list(range(8)), False),
    (200.0, 150.0, [], True),              # reversed range: nothing inside
])
def test_multiple_xic_finds_each_range_by_binary_search(open_file, low, high, expected, more_above):
    ys = [float(i) for i in range(len(XS))]
    reader = open_file(with_body(ob.spectrum(XS, ys)))
    infos = [XicInfo._XicInfo__create_instance(ValueRange(low, high)),
             XicInfo._XicInfo__create_instance(ValueRange(0, 1000))]
    call(reader, "set_buffer", 29)
    assert call(reader, "read_spectrum_for_multiple_xic", infos) is None
    assert infos[0]._XicInfo__spectrum_point == [SpectrumPoint(XS[i], ys[i]) for i in expected]
    assert infos[0]._XicInfo__is_break_to_read is more_above
    assert len(infos[1]._XicInfo__spectrum_point) == len(XS)
    assert infos[0]._XicInfo__xic == []


def test_multiple_xic_appends_to_what_the_caller_left_and_accepts_stand_ins(open_file):
    class StandInInfo:
        class _Range:
            min, max = 205, 215

        _XicInfo__range = _Range()
        _XicInfo__is_break_to_read = None
        _XicInfo__spectrum_point = ["kept"]

    reader = open_file(with_body(ob.spectrum(None, [1.0, 2.0, 3.0], x_stored=False, compressed=True)))
    native = XicInfo._XicInfo__create_instance(ValueRange(190.0, 200.0))
    stand_in = StandInInfo()
    call(reader, "set_buffer", 29)
    call(reader, "read_dad_spectrum_for_multiple_xic", [native, stand_in], numpy.array([190.0, 200.0, 210.0]))
    assert native._XicInfo__spectrum_point == [SpectrumPoint(190.0, 1.0), SpectrumPoint(200.0, 2.0)]
    assert stand_in._XicInfo__spectrum_point == ["kept", SpectrumPoint(210.0, 3.0)]
    assert stand_in._XicInfo__is_break_to_read is False


def test_xic_info_fields():
    info = XicInfo._XicInfo__create_instance(ValueRange(1, 2))
    assert (info._XicInfo__range, info._XicInfo__is_break_to_read, info._XicInfo__spectrum_point,
            info._XicInfo__xic) == (ValueRange(1, 2), False, [], [])
    info._XicInfo__is_break_to_read = True
    assert info._XicInfo__is_break_to_read is True
    with pytest.raises(AttributeError):
        info._XicInfo__xic = []


# ---- the stream, closing, subclassing ----------------------------------------

def test_stream_is_a_read_only_file_with_its_own_position(open_file):
    data = with_body(b"payload")
    reader = open_file(data)
    stream = reader._OzraFileReader__stream
    assert stream.closed is False and isinstance(stream.fileno(), int)
    assert stream.read(9) == ob.MAGIC and stream.tell() == 9
    call(reader, "set_buffer", 29)
    assert stream.tell() == 9
    assert stream.seek(-7, 2) == len(data) - 7 and stream.read() == b"payload"
    assert stream.read(10) == b""
    assert stream.seek(2) == 2 and stream.seek(3, 1) == 5
    with pytest.raises(ValueError):
        stream.seek(0, 3)
    with stream as entered:
        assert entered is stream
    assert stream.closed is True
    stream.close()
    assert stream.closed is True


READS = [
    ("set_buffer", (29,)), ("get_absolute_position", ()), ("read_uint32", ()), ("read_uint16_or_32", ()),
    ("read_bool", ()), ("read_int64_array", ()), ("set_decompressed_buffer", ()),
    ("reset_decompressed_buffer", ()), ("confirm_ozra_symbol", (_enum.OzraSymbols.BEGIN_OF_SPECTRUM,)),
    ("read_spectrum", ()), ("read_dad_spectrum", ([1.0],)), ("read_spectrum_for_multiple_xic", ([],)),
    ("read_dad_spectrum_for_multiple_xic", ([], [1.0])),
]


@pytest.mark.parametrize("name, args", READS)
def test_every_read_after_close_raises_value_error(open_file, name, args):
    reader = open_file(with_body(ob.frame(ob.record(ob.spectrum_description()))))
    call(reader, "set_buffer", 29)
    call(reader, "set_decompressed_buffer")
    reader._OzraFileReader__stream.close()
    with pytest.raises(ValueError, match=r"^I/O operation on closed file$"):
        call(reader, name, *args)


@pytest.mark.parametrize("operation", [
    lambda s: s.read(), lambda s: s.seek(0), lambda s: s.tell(), lambda s: s.fileno(), lambda s: s.__enter__()])
def test_stream_operations_after_close_raise_value_error(open_file, operation):
    stream = open_file(with_body(b""))._OzraFileReader__stream
    stream.close()
    with pytest.raises(ValueError, match=r"^I/O operation on closed file$"):
        operation(stream)


def test_index_records_cannot_decode_after_close(open_file):
    reader = open_file(with_body(ob.frame(ob.record(ob.spectrum_description()))))
    call(reader, "set_buffer", 29)
    call(reader, "set_decompressed_buffer")
    reader._OzraFileReader__stream.close()
    with pytest.raises(ValueError, match="closed file"):
        SpectrumIndex._SpectrumIndex__create_instance(reader, 0, 0)


def test_a_subclass_is_created_and_its_overrides_are_used(open_file, sample):
    class CountingReader(OzraFileReader):
        reads = 0

        def _OzraFileReader__read_spectrum(self):
            type(self).reads += 1
            return super()._OzraFileReader__read_spectrum()

    path, expected = sample
    reader = CountingReader._OzraFileReader__create_instance(str(path).encode())
    with reader._OzraFileReader__stream:
        assert type(reader) is CountingReader
        table = JumpTable._JumpTable__create_instance(reader)
        index = table._JumpTable__measurement_index_list[0]
        assert index._MeasurementIndex__reader is reader
        call(reader, "set_buffer", 29)
        assert pairs(call(reader, "read_spectrum")) == expected["ms"][0]
        assert CountingReader.reads == 1


def test_misuse_raises_type_or_value_errors(open_file):
    with pytest.raises(TypeError):
        OzraFileReader()
    with pytest.raises(TypeError, match="needs an OzraFileReader"):
        FunctionIndex._FunctionIndex__create_instance(object(), 0)
    reader = open_file(with_body(b"\x00"))
    call(reader, "set_buffer", 29)
    with pytest.raises(ValueError, match="no decompressed frame"):
        SpectrumIndex._SpectrumIndex__create_instance(reader, 0, 0)
    with pytest.raises(TypeError, match="OzraSymbols"):
        call(reader, "confirm_ozra_symbol", b"{SP:")


def test_description_records_can_be_made_by_keyword():
    description = InternalSpectrumDescription(index=3, retention_time=math.inf)
    assert description._InternalSpectrumDescription__index == 3
    assert description._InternalSpectrumDescription__cone_voltage is None
