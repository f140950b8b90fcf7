"""Byte-level building blocks of Ozra files, for the reader's tests.

Deliberately independent of the package's writer: these tests pin the byte
layout of docs/format.md as the reader sees it, and can make damaged files that
no writer would.
"""

import array
import enum
import struct

import zstandard

from ozra_data_access._internal import _enum

MAGIC = b"\x89OZRA\r\n\x1a\n"
HEADER_SIZE = 29

ENUMERATIONS = {
    _enum.PolarityTypes: 1,
    _enum.SpectrumTypes: 2,
    _enum.DetectorTypes: 3,
    _enum.VendorSpecificAdditionalConditionTypes: 4,
    _enum.TripleQScanTypes: 5,
}

KIND = {
    "MeasurementDescription": 1,
    "FunctionDescription": 2,
    "QualDescription": 3,
    "QuanDescription": 4,
    "InternalSpectrumDescription": 5,
    "InternalAcquisitionCondition": 6,
    "InternalAcquisitionCoreCondition": 7,
    "VendorSpecificAdditionalCondition": 8,
    "TripleQScanCondition": 9,
}
FIELD_COUNT = {1: 15, 2: 3, 3: 4, 4: 2, 5: 18, 6: 3, 7: 7, 8: 4, 9: 4}


def marker(symbol):
    return symbol.value


def count(n):
    return struct.pack("<H", n) if n < 0xFFFF else struct.pack("<HI", 0xFFFF, n)


def i64_array(values):
    return count(len(values)) + struct.pack(f"<{len(values)}q", *values)


def compress(payload, *, checksum=True, content_size=True):
    return zstandard.ZstdCompressor(write_checksum=checksum, write_content_size=content_size).compress(payload)


def frame(payload, **options):
    """A u32 length and one zstd frame of the payload."""
    compressed = compress(payload, **options)
    return struct.pack("<I", len(compressed)) + compressed


class Raw(bytes):
    """Bytes that value() passes through unchanged (pre-encoded or damaged values)."""


class Record:
    def __init__(self, kind, *fields):
        self.kind = KIND.get(kind, kind)
        self.fields = fields


class Range:
    def __init__(self, low, high):
        self.low, self.high = low, high


def value(obj):
    """The tagged encoding of a Python value."""
    if isinstance(obj, Raw):
        return bytes(obj)
    if obj is None:
        return b"\x00"
    if isinstance(obj, bool):
        return b"\x04" + bytes([obj])
    if isinstance(obj, int):
        return b"\x01" + struct.pack("<q", obj)
    if isinstance(obj, float):
        return b"\x02" + struct.pack("<d", obj)
    if isinstance(obj, str):
        encoded = obj.encode()
        return b"\x03" + count(len(encoded)) + encoded
    if isinstance(obj, Range):
        return b"\x05" + value(obj.low) + value(obj.high)
    if isinstance(obj, enum.Enum):
        return b"\x06" + struct.pack("<Bi", ENUMERATIONS[type(obj)], obj.value)
    if isinstance(obj, dict):
        return b"\x07" + count(len(obj)) + b"".join(value(k) + value(v) for k, v in obj.items())
    if isinstance(obj, list):
        return b"\x08" + count(len(obj)) + b"".join(value(item) for item in obj)
    if isinstance(obj, Record):
        return b"\x09" + record(obj)
    if isinstance(obj, array.array):
        return b"\x0a" + count(len(obj)) + struct.pack(f"<{len(obj)}d", *obj)
    raise TypeError(obj)


def record(rec):
    """A record without the tag: kind, field count, fields."""
    return bytes([rec.kind, len(rec.fields)]) + b"".join(value(f) for f in rec.fields)


def spectrum_description(index=0, retention_time=1.5, condition_index=None, **overrides):
    fields = [index, retention_time, condition_index, None, [], _enum.SpectrumTypes.CENTROID, {},
              100.0, 50.0, 200.5, 1, _enum.PolarityTypes.POSITIVE, None, Range(50.0, 1000.0), None, None, False, None]
    names = ["index", "retention_time", "acquisition_condition_index", "precursor_index", "product_indices",
             "spectrum_type", "supplemental_properties", "current_total_ion", "base_peak_intensity", "base_peak_mz",
             "ms_level", "polarity", "collision_energy", "mass_range", "precursor_range", "precursor_value",
             "is_profile_spectrum_measured", "cone_voltage"]
    for name, field in overrides.items():
        fields[names.index(name)] = field
    return Record("InternalSpectrumDescription", *fields)


def measurement_description(sample_name="sample"):
    return Record("MeasurementDescription", sample_name, "id-1", "method.m", 1.0, 2.5, "C:/data/a.raw", "Instrument",
                  "user", None, "A1", "2024-01-02T03:04:05", "Maker", "raw", {"key": "value"}, "hash")


def qual_function_description(conditions=None, wavelengths=None, detector=_enum.DetectorTypes.MS):
    return Record("FunctionDescription", True, Record("QualDescription", detector, {}, conditions, wavelengths), None)


def spectrum(xs, intensities, *, compressed=False, shuffled=False, width=8, x_stored=True, count_override=None,
             stored_size=None):
    """BEGIN_OF_SPECTRUM, the header, the payload, END_OF_SPECTRUM; `shuffled` stores the
    zstd-shuffle encoding (compressed, x as bit-pattern differences, values byte-shuffled)."""
    n = len(intensities)
    intensity_format = f"<{n}{'f' if width == 4 else 'd'}"
    if shuffled:
        bits = struct.unpack(f"<{n}Q", struct.pack(f"<{n}d", *xs)) if x_stored else None
        payload = _planes(struct.pack(f"<{n}Q", *((b - a) % 2**64 for a, b in zip((0,) + bits, bits))), 8) \
            if x_stored else b""
        payload += _planes(struct.pack(intensity_format, *intensities), width)
    else:
        payload = struct.pack(f"<{n}d", *xs) if x_stored else b""
        payload += struct.pack(intensity_format, *intensities)
    if compressed or shuffled:
        payload = compress(payload)
    header = struct.pack("<BBBBII", 2 if shuffled else int(compressed), 0 if x_stored else 1, width, 0,
                         n if count_override is None else count_override,
                         len(payload) if stored_size is None else stored_size)
    return marker(_enum.OzraSymbols.BEGIN_OF_SPECTRUM) + header + payload + marker(_enum.OzraSymbols.END_OF_SPECTRUM)


def _planes(values, width):
    """Byte 0 of every value, then byte 1 of every value, and so on."""
    return b"".join(values[byte::width] for byte in range(width))


class FileBuilder:
    """Appends blocks after the header; build() fills in the header."""

    def __init__(self, version=(1, 0, 0), converter=(2, 3, 4)):
        self.version, self.converter = version, converter
        self.data = bytearray(HEADER_SIZE)

    def add(self, block):
        position = len(self.data)
        self.data += block
        return position

    def origin(self):
        """The origin of a block added next: just behind its begin marker."""
        return len(self.data) + 4

    def add_spectrum_index_block(self, positions, descriptions, profile_positions=None, count_override=None):
        origin = self.origin()
        S = _enum.OzraSymbols
        block = marker(S.BEGIN_OF_SPECTRUM_INDEX_BLOCK)
        block += struct.pack("<I?", len(positions) if count_override is None else count_override,
                             profile_positions is not None)
        block += i64_array([p - origin for p in positions])
        if profile_positions is not None:
            block += i64_array([p - origin for p in profile_positions])
        block += frame(b"".join(record(d) for d in descriptions)) + marker(S.END_OF_SPECTRUM_INDEX_BLOCK)
        return self.add(block)

    def add_function_index_block(self, positions, descriptions):
        origin = self.origin()
        S = _enum.OzraSymbols
        block = marker(S.BEGIN_OF_FUNCTION_INDEX_BLOCK) + count(len(positions))
        block += i64_array([p - origin for p in positions])
        block += frame(b"".join(record(d) for d in descriptions)) + marker(S.END_OF_FUNCTION_INDEX_BLOCK)
        return self.add(block)

    def add_jump_table(self, positions, descriptions, relative=None):
        origin = self.origin()
        S = _enum.OzraSymbols
        block = marker(S.BEGIN_OF_JUMP_TABLE) + count(len(descriptions))
        block += i64_array(relative if relative is not None else [p - origin for p in positions])
        block += frame(b"".join(record(d) for d in descriptions)) + marker(S.END_OF_JUMP_TABLE)
        return self.add(block)

    def build(self, jump_table_position):
        header = MAGIC + struct.pack("<6Hq", *self.version, *self.converter, jump_table_position)
        return header + bytes(self.data[HEADER_SIZE:])


CONDITIONS = [
    Record("InternalAcquisitionCondition",
           Record("InternalAcquisitionCoreCondition", 1, _enum.PolarityTypes.POSITIVE, None, Range(50.0, 1000.0),
                  _enum.SpectrumTypes.CENTROID, None, None), None, None),
    Record("InternalAcquisitionCondition",
           Record("InternalAcquisitionCoreCondition", 2, _enum.PolarityTypes.POSITIVE, 20.0, Range(50, 500),
                  _enum.SpectrumTypes.PROFILE,
                  Record("VendorSpecificAdditionalCondition",
                         _enum.VendorSpecificAdditionalConditionTypes.WATERS_MASS_LYNX, 3, 25.0, "scan"),
                  Record("TripleQScanCondition", _enum.TripleQScanTypes.PRODUCT, 301.1, None, Range(50.0, 400.0))),
           Range(300.0, 302.0), 301.1),
]
WAVELENGTHS = array.array("d", [190.0, 200.0, 210.0, 220.0])


def sample_file():
    """One measurement with an MS function (stored conditions, profile data, raw
    and zstd spectra) and a DAD function (wavelength array): (bytes, expected)."""
    b = FileBuilder()
    ms_spectra = [([100.0, 150.5, 150.5, 300.25], [1.0, 2.0, 3.0, 4.0], dict(compressed=False)),
                  ([101.0, 202.0], [5.5, 6.5], dict(compressed=True, width=4)),
                  ([], [], dict(compressed=True))]
    positions = [b.add(spectrum(xs, ys, **kw)) for xs, ys, kw in ms_spectra]
    profile = b.add(spectrum([100.0, 100.1, 100.2], [0.0, 9.0, 0.0]))
    ms_block = b.add_spectrum_index_block(
        positions, [spectrum_description(i, 0.5 * i + 0.1, i % 2) for i in range(3)],
        profile_positions=[profile, 0, 0])
    dad_spectra = [[0.5, 0.25, 0.125, 0.0], [1.0, 2.0, 3.0, 4.0]]
    dad_positions = [b.add(spectrum(None, ys, x_stored=False, compressed=i == 1, width=4))
                     for i, ys in enumerate(dad_spectra)]
    dad_block = b.add_spectrum_index_block(dad_positions, [spectrum_description(i, 1.0 + i) for i in range(2)])
    functions = b.add_function_index_block(
        [ms_block, dad_block],
        [qual_function_description(CONDITIONS),
         qual_function_description(None, WAVELENGTHS, _enum.DetectorTypes.DAD)])
    jump_table = b.add_jump_table([functions], [measurement_description()])
    expected = {
        "ms": [list(zip(xs, ys)) for xs, ys, _ in ms_spectra],
        "profile": [(100.0, 0.0), (100.1, 9.0), (100.2, 0.0)],
        "dad": [list(zip(WAVELENGTHS, ys)) for ys in dad_spectra],
    }
    return b.build(jump_table), expected


def read_block(reader, position, begin, end, count_reader, factory, with_profile=False):
    """One block read in the order the public modules use."""
    R = "_OzraFileReader__"
    getattr(reader, R + "set_buffer")(position)
    getattr(reader, R + "confirm_ozra_symbol")(begin)
    origin = getattr(reader, R + "get_absolute_position")()
    n = count_reader()
    has_profile = with_profile and getattr(reader, R + "read_bool")()
    positions = getattr(reader, R + "read_int64_array")()
    profiles = getattr(reader, R + "read_int64_array")() if has_profile else None
    getattr(reader, R + "set_decompressed_buffer")()
    records = [factory(positions[i] + origin, i) for i in range(n)]
    if profiles is not None:
        for i, rec in enumerate(records):
            rec._SpectrumIndex__set_profile_position(profiles[i] + origin)
    getattr(reader, R + "reset_decompressed_buffer")()
    getattr(reader, R + "confirm_ozra_symbol")(end)
    return records


def functions_with_spectra(reader, measurement):
    """Each function of a measurement with its spectrum index records, read through the reader
    protocol in the public modules' order (the next block is read when the caller moves on)."""
    from ozra_data_access._internal._index import FunctionIndex, SpectrumIndex

    S = _enum.OzraSymbols
    functions = read_block(
        reader, measurement._MeasurementIndex__position, S.BEGIN_OF_FUNCTION_INDEX_BLOCK,
        S.END_OF_FUNCTION_INDEX_BLOCK, reader._OzraFileReader__read_uint16_or_32,
        lambda p, i: FunctionIndex._FunctionIndex__create_instance(reader, p))
    for function in functions:
        spectra = read_block(
            reader, function._FunctionIndex__position, S.BEGIN_OF_SPECTRUM_INDEX_BLOCK,
            S.END_OF_SPECTRUM_INDEX_BLOCK, reader._OzraFileReader__read_uint32,
            lambda p, i: SpectrumIndex._SpectrumIndex__create_instance(reader, p, i), with_profile=True)
        yield function, spectra


def walk(path):
    """Opens the file and reads everything in it through the reader protocol:
    [(measurement index, [(function index, [spectrum index], [points])])]."""
    from ozra_data_access._internal._index import JumpTable
    from ozra_data_access._internal._reader import OzraFileReader

    reader = OzraFileReader._OzraFileReader__create_instance(path)
    with reader._OzraFileReader__stream:
        table = JumpTable._JumpTable__create_instance(reader)
        result = []
        for measurement in table._JumpTable__measurement_index_list:
            walked = []
            for function, spectra in functions_with_spectra(reader, measurement):
                qual = function._FunctionIndex__function_description._FunctionDescription__qual_description
                wavelengths = qual._QualDescription__wavelength_arr if qual is not None else None  # quan: none
                points = []
                for index in spectra:
                    reader._OzraFileReader__set_buffer(index._SpectrumIndex__position)
                    if wavelengths is None:
                        points.append(reader._OzraFileReader__read_spectrum())
                    else:
                        points.append(reader._OzraFileReader__read_dad_spectrum(wavelengths))
                    if index._SpectrumIndex__profile_position != 0:
                        reader._OzraFileReader__set_buffer(index._SpectrumIndex__profile_position)
                        points.append(reader._OzraFileReader__read_spectrum())
                walked.append((function, spectra, points))
            result.append((measurement, walked))
        return table, result


def one_function_file(descriptions, conditions=None, spectrum_bytes=None):
    """A file with one measurement and one MS function whose spectra each hold a copy
    of the same point data (`spectrum_bytes`, by default a small valid one)."""
    b = FileBuilder()
    data = spectrum_bytes if spectrum_bytes is not None else spectrum([1.0, 2.0], [3.0, 4.0])
    block = b.add_spectrum_index_block([b.add(data) for _ in descriptions], descriptions)
    functions = b.add_function_index_block([block], [qual_function_description(conditions)])
    return b.build(b.add_jump_table([functions], [measurement_description()]))
