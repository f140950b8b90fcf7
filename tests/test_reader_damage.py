"""The reader on damaged and foreign input: every fault is an OzraFormatError
naming what was expected and the byte offset (or the interpreter's own OSError
when the file cannot be opened), never a crash, a hang or a huge allocation."""

import math
import re
import os
import random
import struct

import numpy as np
import pytest

import ozra_bytes as ob
from ozra_data_access._internal import _enum
from ozra_data_access._internal._index import JumpTable, SpectrumIndex
from ozra_data_access._internal._reader import OzraFileReader
from ozra_data_access.exception import OzraFormatError

R = "_OzraFileReader__"
S = _enum.OzraSymbols
IN_FRAME = r"at byte \d+ of the data decompressed from the frame at byte offset 29$"


def with_body(body, version=(1, 0, 0), jump_table=0):
    builder = ob.FileBuilder(version=version)
    builder.add(body)
    return builder.build(jump_table)


def at_body(reader):
    getattr(reader, R + "set_buffer")(29)
    return reader


# ---- opening -----------------------------------------------------------------

@pytest.mark.parametrize("data", [
    b"",
    ob.MAGIC[:5],
    with_body(b"\x00").replace(b"\r\n", b"\n", 1),  # through a text-mode transfer
    b"PK\x03\x04" + bytes(40),
])
def test_a_file_without_the_magic_is_refused_at_offset_0(tmp_path, data):
    path = tmp_path / "foreign"
    path.write_bytes(data)
    with pytest.raises(OzraFormatError, match=r"^expected the Ozra magic .* at byte offset 0$"):
        OzraFileReader._OzraFileReader__create_instance(path)


@pytest.mark.parametrize("version", [(2, 0, 0), (0, 9, 1)])
def test_an_unknown_major_version_is_refused_with_the_version(open_file, version):
    with pytest.raises(OzraFormatError, match=rf"^unsupported Ozra format version {'.'.join(map(str, version))} "
                                              r".* at byte offset 9$"):
        open_file(with_body(b"\x00", version=version))


def test_a_later_minor_version_is_read(tmp_path):
    builder = ob.FileBuilder(version=(1, 7, 3))
    path = tmp_path / "minor.ozra"
    path.write_bytes(builder.build(builder.add_jump_table([], [])))
    table, measurements = ob.walk(path)
    assert (table._JumpTable__minor_version, table._JumpTable__revision_version, measurements) == (7, 3, [])


def test_a_truncated_header_names_the_missing_field(open_file):
    with pytest.raises(OzraFormatError, match=r"^expected the jump table position \(8 bytes\), but the file ends "
                                              r"after 3 more at byte offset 21$"):
        open_file(with_body(b"")[:24])


def test_os_errors_pass_through_as_open_raises_them(tmp_path):
    with pytest.raises(FileNotFoundError) as missing:
        OzraFileReader._OzraFileReader__create_instance(tmp_path / "missing.ozra")
    assert missing.value.filename == tmp_path / "missing.ozra"
    with pytest.raises(IsADirectoryError):
        OzraFileReader._OzraFileReader__create_instance(str(tmp_path))
    if os.geteuid() != 0:
        locked = tmp_path / "locked.ozra"
        locked.write_bytes(with_body(b"\x00"))
        locked.chmod(0)
        with pytest.raises(PermissionError):
            OzraFileReader._OzraFileReader__create_instance(locked)


def test_a_fifo_is_refused_without_waiting_for_a_writer(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    with pytest.raises(OzraFormatError, match="regular file"):
        OzraFileReader._OzraFileReader__create_instance(fifo)


# ---- positions and markers ---------------------------------------------------

@pytest.mark.parametrize("position", [-1, 30, 2**70, -(2**70)])
def test_positions_outside_the_file_are_refused(open_file, position):
    reader = open_file(with_body(b"\x00"))
    with pytest.raises(OzraFormatError, match=r"^expected a position inside the file \(0 to 29\)"):
        getattr(reader, R + "set_buffer")(position)


def test_a_jump_table_position_outside_the_file_is_refused(open_file):
    reader = open_file(with_body(b"\x00", jump_table=1000))
    with pytest.raises(OzraFormatError, match=r"\(0 to 29\), found byte offset 1000$"):
        JumpTable._JumpTable__create_instance(reader)


def test_a_measurement_position_outside_the_file_names_where_it_is_stored(open_file):
    builder = ob.FileBuilder()
    table = builder.add_jump_table(None, [ob.measurement_description()], relative=[10**6])
    reader = open_file(builder.build(table))
    with pytest.raises(OzraFormatError, match=rf"measurement position inside the file, found 1000000 relative to "
                                              rf"the origin {table + 4} at byte offset {table + 4 + 2 + 2}$"):
        JumpTable._JumpTable__create_instance(reader)


def test_a_wrong_marker_names_both_markers_and_the_offset(open_file):
    reader = at_body(open_file(with_body(ob.marker(S.END_OF_SPECTRUM))))
    with pytest.raises(OzraFormatError, match=r"^expected the marker BEGIN_OF_SPECTRUM_INDEX_BLOCK '\{SI:', "
                                              r"found ':SP\}' at byte offset 29$"):
        getattr(reader, R + "confirm_ozra_symbol")(S.BEGIN_OF_SPECTRUM_INDEX_BLOCK)


def test_position_arrays_must_match_the_block_count(tmp_path):
    builder = ob.FileBuilder()
    spectrum = builder.add(ob.spectrum([1.0], [1.0]))
    block = builder.add_spectrum_index_block([spectrum], [ob.spectrum_description()], count_override=2)
    functions = builder.add_function_index_block([block], [ob.qual_function_description()])
    path = tmp_path / "counts.ozra"
    path.write_bytes(builder.build(builder.add_jump_table([functions], [ob.measurement_description()])))
    with pytest.raises(OzraFormatError, match=r"expected an i64 array of 2 elements \(the block's count\), found 1"):
        ob.walk(path)


# ---- frames ------------------------------------------------------------------

def damaged_checksum():
    compressed = bytearray(ob.compress(ob.record(ob.spectrum_description())))
    compressed[-1] ^= 0x01
    return struct.pack("<I", len(compressed)) + bytes(compressed)


def two_frames():
    both = ob.compress(ob.record(ob.spectrum_description())) + ob.compress(b"")
    return struct.pack("<I", len(both)) + both


@pytest.mark.parametrize("frame, message", [
    (struct.pack("<I", 500) + bytes(20), r"^expected a frame of at most 20 bytes .*found a stored size of 500 at "
                                         r"byte offset 29$"),
    (struct.pack("<I", 8) + b"notzstd!", r"^expected a zstd frame \(magic 28 b5 2f fd\) at byte offset 33$"),
    (ob.frame(b"x" * 100, content_size=False), "declares its decompressed size"),
    (ob.frame(b"x" * 100, checksum=False), "with a content checksum"),
    (ob.frame(bytes(1 << 20)), r"at most 256 times the \d+ stored bytes, found 1048576"),
    (damaged_checksum(), r"checksum"),
    (ob.frame(b"abc")[:-2], r"frame of at most"),
    (two_frames(), r"one zstd frame filling its \d+ stored bytes"),
])
def test_damaged_frames_are_refused_before_decoding(open_file, frame, message):
    reader = at_body(open_file(with_body(frame)))
    with pytest.raises(OzraFormatError, match=message):
        getattr(reader, R + "set_decompressed_buffer")()


# ---- tagged values and records -----------------------------------------------

def spectrum_record_with(field):
    """An InternalSpectrumDescription whose supplemental_properties field holds `field`."""
    return ob.record(ob.spectrum_description(supplemental_properties=ob.Raw(field)))


def nested_lists(depth):
    return b"\x08\x01\x00" * depth + b"\x00"


@pytest.mark.parametrize("frame_data, message", [
    (spectrum_record_with(b"\x0b"), r"expected a value tag 0 to 10, found 11"),
    (spectrum_record_with(b"\x06" + struct.pack("<Bi", 1, 9)), r"expected a value of PolarityTypes, found 9"),
    (spectrum_record_with(b"\x06" + struct.pack("<Bi", 6, 1)), r"expected an enumeration number 1 to 5, found 6"),
    (spectrum_record_with(b"\x03\x02\x00\xc3\x28"), r"expected a string of valid UTF-8"),
    (spectrum_record_with(b"\x07\x01\x00" + ob.value(1) + ob.value(2)), r"expected a string \(tag 3\) as mapping key"),
    (spectrum_record_with(b"\x08\xff\xff\x00\x00\x01\x00"), r"expected a list's length of at most \d+ \(the bytes "
                                                           r"left\), found 65536"),
    (spectrum_record_with(b"\x0a\x10\x00" + bytes(16)), r"expected a float array's length of at most"),
    (spectrum_record_with(b"\x05" + ob.value("1") + ob.value(2.0)), r"range bound of tag 1 \(integer\) or 2 \(float\)"),
    (spectrum_record_with(b"\x04\x02"), r"expected a boolean \(0 or 1\), found 2"),
    (spectrum_record_with(b"\x09\x0a\x00"), r"expected a record kind 1 to 9, found 10"),
    (spectrum_record_with(nested_lists(40)), r"expected values nested at most 32 deep"),
    (ob.record(ob.Record(2, True, None, None)), r"expected a InternalSpectrumDescription record \(kind 5\), found a "
                                                r"FunctionDescription \(kind 2\)"),
    (bytes([5, 17]) + ob.value(0) * 17, r"expected at least 18 fields in a InternalSpectrumDescription record, "
                                        r"found 17"),
    (ob.record(ob.spectrum_description())[:-3], r"but the decompressed data ends after"),
])
def test_damaged_records_are_refused_with_their_place_in_the_frame(open_file, frame_data, message):
    reader = at_body(open_file(with_body(ob.frame(frame_data))))
    getattr(reader, R + "set_decompressed_buffer")()
    with pytest.raises(OzraFormatError, match=message + ".* " + IN_FRAME):
        SpectrumIndex._SpectrumIndex__create_instance(reader, 0, 0)


def test_nesting_up_to_the_limit_is_data(open_file):
    reader = at_body(open_file(with_body(ob.frame(spectrum_record_with(nested_lists(30))))))
    getattr(reader, R + "set_decompressed_buffer")()
    description = SpectrumIndex._SpectrumIndex__create_instance(reader, 0, 0)._SpectrumIndex__spectrum_description
    value = description._InternalSpectrumDescription__supplemental_properties
    for _ in range(30):
        (value,) = value
    assert value is None


@pytest.mark.parametrize("stored_index", [-1, 2, None, True, 1.0, 2**63 - 1])
def test_a_condition_index_outside_the_stored_list_is_damage(tmp_path, stored_index):
    path = tmp_path / "conditions.ozra"
    descriptions = [ob.spectrum_description(0, condition_index=0),
                    ob.spectrum_description(1, condition_index=stored_index)]
    path.write_bytes(ob.one_function_file(descriptions, ob.CONDITIONS))
    with pytest.raises(OzraFormatError, match=r"expected an acquisition_condition_index from 0 to 2 - 1 \(the "
                                              r"function's stored conditions\), found " + r".* " + IN_FRAME[:-12]):
        ob.walk(path)


@pytest.mark.parametrize("stored_list", [{"a": 1}, "ab"])
def test_a_stored_condition_list_that_is_not_a_list_is_damage(tmp_path, stored_list):
    path = tmp_path / "conditions.ozra"
    path.write_bytes(ob.one_function_file([ob.spectrum_description(0, condition_index=0)], stored_list))
    with pytest.raises(OzraFormatError, match=r"expected a list \(tag 8\) or none \(tag 0\) as the stored "
                                              r"condition list, found a value decoded as (dict|str)"):
        ob.walk(path)


def test_the_function_description_decides_the_check_for_its_block_only(tmp_path):
    """Two functions share no condition count: the second, without a list, accepts any index."""
    builder = ob.FileBuilder()
    spectrum = builder.add(ob.spectrum([1.0], [1.0]))
    with_list = builder.add_spectrum_index_block([spectrum], [ob.spectrum_description(condition_index=1)])
    without = builder.add_spectrum_index_block([spectrum], [ob.spectrum_description(condition_index=5)])
    functions = builder.add_function_index_block(
        [with_list, without], [ob.qual_function_description(ob.CONDITIONS), ob.qual_function_description(None)])
    path = tmp_path / "two.ozra"
    path.write_bytes(builder.build(builder.add_jump_table([functions], [ob.measurement_description()])))
    _, [(_, walked)] = ob.walk(path)
    assert [spectra[0]._SpectrumIndex__spectrum_description._InternalSpectrumDescription__acquisition_condition_index
            for _, spectra, _ in walked] == [1, 5]


@pytest.mark.parametrize("first, second, refused", [
    (ob.CONDITIONS, None, True),
    (None, ob.CONDITIONS, True),
    (ob.CONDITIONS, ob.CONDITIONS[::-1], False),
])
def test_functions_naming_one_block_must_agree_on_its_condition_list(tmp_path, first, second, refused):
    """Otherwise the later description would decide the check of the earlier one's spectra."""
    builder = ob.FileBuilder()
    spectrum = builder.add(ob.spectrum([1.0], [1.0]))
    block = builder.add_spectrum_index_block([spectrum], [ob.spectrum_description(condition_index=1)])
    functions = builder.add_function_index_block(
        [block, block], [ob.qual_function_description(first), ob.qual_function_description(second)])
    path = tmp_path / "shared.ozra"
    path.write_bytes(builder.build(builder.add_jump_table([functions], [ob.measurement_description()])))
    if not refused:
        ob.walk(path)
        return
    with pytest.raises(OzraFormatError, match=rf"expected a spectrum index block of its own, found the block at "
                                              rf"byte offset {block} named by a function with a different stored "
                                              rf"condition list at byte \d+ of the data decompressed"):
        ob.walk(path)


# ---- spectra -----------------------------------------------------------------

def patched(data, offset, byte):
    return data[:offset] + bytes([byte]) + data[offset + 1:]


GOOD = ob.spectrum([1.0, 2.0], [3.0, 4.0])
SHUFFLED = ob.spectrum([1.0, 2.0], [3.0, 4.0], shuffled=True)


def with_payload(spectrum, payload):
    """The spectrum with another stored payload (and its size)."""
    return spectrum[:12] + struct.pack("<I", len(payload)) + payload + spectrum[-4:]


@pytest.mark.parametrize("spectrum, message", [
    (patched(GOOD, 4, 3), r"^expected the spectrum encoding 0 \(raw\), 1 \(zstd\) or 2 \(zstd-shuffle\), found 3 at byte "
                          r"offset 33$"),
    (patched(GOOD, 5, 2), r"expected the x flag 0 \(stored\) or 1 \(not stored\), found 2 at byte offset 34$"),
    (patched(GOOD, 6, 2), r"expected the intensity width 4 or 8, found 2 at byte offset 35$"),
    (patched(GOOD, 7, 1), r"expected the reserved byte 0, found 1 at byte offset 36$"),
    (ob.spectrum([1.0, 2.0], [3.0, 4.0], stored_size=24), r"raw payload of 32 bytes for 2 points, found a stored "
                                                          r"size of 24 at byte offset 29$"),
    (ob.spectrum([1.0, 2.0], [3.0, 4.0], count_override=2**32 - 1), r"raw payload of 68719476720 bytes"),
    (ob.spectrum([1.0, 2.0], [3.0, 4.0], compressed=True, count_override=2**32 - 1), r"at most 256 times"),
    (ob.spectrum([1.0, 2.0], [3.0, 4.0], compressed=True, count_override=3), r"declaring 48 decompressed bytes, "
                                                                             r"found 32"),
    (ob.spectrum([1.0, 2.0], [3.0, 4.0], stored_size=1000), r"payload of 1000 bytes and the END_OF_SPECTRUM "
                                                            r"marker, but the file ends after 36 more bytes"),
    (GOOD[:-1] + b"!", r"expected the marker END_OF_SPECTRUM ':SP\}', found ':SP!' at byte offset 77$"),
    (ob.spectrum([2.0, 1.0], [3.0, 4.0]), r"x values in non-decreasing order, found 1 at point 1 after 2 at byte "
                                          r"offset 29$"),
    (ob.spectrum([math.nan, 1.0], [3.0, 4.0], compressed=True), r"x values in non-decreasing order, found nan at "
                                                                r"point 0"),
    (ob.spectrum(None, [3.0, 4.0], x_stored=False), r"with stored x values"),
    # zstd-shuffle: the frame's rules, then the order of the x values its differences give.
    (ob.spectrum([1.0, 2.0], [3.0, 4.0], shuffled=True, count_override=3), r"declaring 48 decompressed bytes, found 32"),
    (with_payload(SHUFFLED, SHUFFLED[16:-9]), r"expected a complete zstd frame in the \d+ stored bytes"),
    (with_payload(SHUFFLED, SHUFFLED[16:-5] + bytes([SHUFFLED[-5] ^ 1])), r"an undamaged zstd frame \(zstd: .*checksum"),
    (ob.spectrum([2.0, 1.0], [3.0, 4.0], shuffled=True), r"x values in non-decreasing order, found 1 at point 1 after "
                                                         r"2 at byte offset 29$"),
    (ob.spectrum([1.0, -1.0], [3.0, 4.0], shuffled=True), r"found -1 at point 1 after 1 at byte offset 29$"),
    (ob.spectrum([1.0, math.nan], [3.0, 4.0], shuffled=True), r"found nan at point 1 after 1 at byte offset 29$"),
    (GOOD[:14], r"the spectrum's stored size \(4 bytes\), but the file ends after 2 more at byte offset 41$"),
])
def test_damaged_spectra_are_refused(open_file, spectrum, message):
    reader = at_body(open_file(with_body(spectrum)))
    with pytest.raises(OzraFormatError, match=message):
        getattr(reader, R + "read_spectrum")()


def out_of_order(count, at, bad):
    """x values 1, 2, ... with the one at `at` replaced by `bad`."""
    xs = [float(i + 1) for i in range(count)]
    xs[at] = bad
    return xs


@pytest.mark.parametrize("compressed", [False, True], ids=["raw", "zstd"])
@pytest.mark.parametrize("count, at, bad", [
    (count, at, bad) for count in (1, 2, 3, 4, 5, 8) for at in range(count) for bad in (math.nan, 0.5)
    if not (at == 0 and bad == 0.5)])
def test_the_first_x_out_of_order_is_named_wherever_it_is(open_file, compressed, count, at, bad):
    """Two points are decoded at a time: a fault in either of a pair, or in the odd last point, is found."""
    xs = out_of_order(count, at, bad)
    reader = at_body(open_file(with_body(ob.spectrum(xs, [float(i) for i in range(count)], compressed=compressed))))
    after = "" if at == 0 else f" after {at:g}"
    with pytest.raises(OzraFormatError, match=rf"found {'nan' if math.isnan(bad) else '0.5'} at point {at}{after} "):
        getattr(reader, R + "read_spectrum")()


@pytest.mark.parametrize("count", [0, 1, 2, 3, 6, 7])
def test_points_in_order_with_equal_x_values_read_back_exactly(open_file, count):
    xs = [float(i // 2) for i in range(count)]
    intensities = [0.1 * i for i in range(count)]
    reader = at_body(open_file(with_body(ob.spectrum(xs, intensities))))
    points = np.asarray(getattr(reader, R + "read_spectrum")())
    assert points.reshape(-1, 2).tolist() == [[x, y] for x, y in zip(xs, intensities)]


@pytest.mark.parametrize("spectrum, wavelengths, message", [
    (ob.spectrum([1.0, 2.0], [3.0, 4.0]), [1.0, 2.0], r"without stored x values"),
    (ob.spectrum(None, [3.0, 4.0], x_stored=False), [1.0, 2.0, 3.0], r"of 3 points \(one per wavelength\), found 2"),
    (ob.spectrum(None, [3.0, 4.0], x_stored=False), [2.0, 1.0], r"wavelengths in non-decreasing order"),
])
def test_dad_spectra_must_match_their_wavelengths(open_file, spectrum, wavelengths, message):
    reader = at_body(open_file(with_body(spectrum)))
    with pytest.raises(OzraFormatError, match=message):
        getattr(reader, R + "read_dad_spectrum")(wavelengths)


# ---- arbitrary damage --------------------------------------------------------

def walk_or_format_error(path, data):
    path.write_bytes(data)
    try:
        ob.walk(path)
    except OzraFormatError as error:
        assert "byte offset" in str(error)
        return False
    return True


def test_truncation_anywhere_is_a_format_error(tmp_path):
    data, _ = ob.sample_file()
    path = tmp_path / "truncated.ozra"
    assert not any(walk_or_format_error(path, data[:size]) for size in range(len(data)))


def test_flipped_bytes_are_format_errors_or_undetectable_raw_values(tmp_path):
    """Markers, counts, positions and compressed blocks catch a flipped byte; only
    raw point values and version numbers other than the major can change unseen."""
    data, _ = ob.sample_file()
    path = tmp_path / "flipped.ozra"
    undetected = [offset for offset in range(len(data))
                  if walk_or_format_error(path, data[:offset] + bytes([data[offset] ^ 0xFF]) + data[offset + 1:])]
    raw_payloads = [range(start + 16, start + 16 + size) for start, size in
                    [(m.start(), struct.unpack_from("<I", data, m.start() + 12)[0])
                     for m in re.finditer(rb"\{SP:\x00", data)]]
    allowed = set(range(11, 21)).union(*raw_payloads)
    assert set(undetected) <= allowed


@pytest.mark.parametrize("layout", ["one spectrum named twice", "profile points named as a spectrum",
                                    "the first spectrum named again 300 entries on"])
def test_each_spectrum_of_a_function_is_named_once(tmp_path, layout):
    """One stored spectrum named S times would cost S decodings per chromatogram."""
    b = ob.FileBuilder()
    first, second = b.add(ob.spectrum([1.0], [2.0])), b.add(ob.spectrum([1.0], [2.0]))
    positions, profiles = ([first, first], None) if layout == "one spectrum named twice" else \
        ([first, second], [second, 0])
    if layout.startswith("the first spectrum named again"):
        positions, profiles = [first] + [b.add(ob.spectrum([1.0], [2.0])) for _ in range(299)] + [first], None
    block = b.add_spectrum_index_block(positions, [ob.spectrum_description(i) for i in range(len(positions))],
                                       profile_positions=profiles)
    functions = b.add_function_index_block([block], [ob.qual_function_description()])
    path = tmp_path / "amplified.ozra"
    path.write_bytes(b.build(b.add_jump_table([functions], [ob.measurement_description()])))
    with pytest.raises(OzraFormatError, match="expected each spectrum of a function at a position of its own"):
        ob.walk(path)


def test_description_frames_decode_no_more_than_64_times_the_file(tmp_path):
    """A frame may decode to 256 times its stored size, but all description frames
    together to at most 64 times the file's: their records cost memory by the byte."""
    rng = random.Random(5)
    name = "".join(rng.choice("abcdefghij") for _ in range(1500)) + "a" * 150_000
    b = ob.FileBuilder()
    path = tmp_path / "descriptions.ozra"
    path.write_bytes(b.build(b.add_jump_table([], [ob.measurement_description(name)], relative=[0])))
    with pytest.raises(OzraFormatError, match=r"expected decoded description frames of at most 64 times"):
        ob.walk(path)


@pytest.mark.parametrize("functions, refused", [(1, False), (8, True)])
def test_a_block_named_by_many_functions_is_charged_for_each(tmp_path, functions, refused):
    """Each naming function decodes the block's spectra again: a small file must not buy that work
    many times over with one charge."""
    rng = random.Random(1)
    b = ob.FileBuilder()
    positions = []
    for _ in range(20):
        values = [0.0] * 2000
        for place in rng.sample(range(2000), 20):
            values[place] = rng.random()
        # About 55 times the file's size decoded per walk over the block's spectra.
        positions.append(b.add(ob.spectrum([float(x) for x in range(2000)], values, compressed=True, shuffled=True)))
    block = b.add_spectrum_index_block(positions, [ob.spectrum_description(i) for i in range(len(positions))])
    named = b.add_function_index_block([block] * functions, [ob.qual_function_description()] * functions)
    path = tmp_path / "named.ozra"
    path.write_bytes(b.build(b.add_jump_table([named], [ob.measurement_description()])))
    if not refused:
        ob.walk(path)
        return
    with pytest.raises(OzraFormatError, match="expected decoded spectra of at most 256 times the file's size"):
        ob.walk(path)


def test_spectra_read_in_order_stay_readable_up_to_where_a_shrunk_file_ends(tmp_path):
    """Reads that walk the spectra in order fetch ahead of the spectrum asked for; a file cut
    short after it was opened still gives every spectrum it holds whole, and refuses the
    first one it cut."""
    from ozra_data_access.access import OzraFile

    b = ob.FileBuilder()
    positions = [b.add(ob.spectrum([float(i), i + 0.5], [1.0, float(i)])) for i in range(40)]
    block = b.add_spectrum_index_block(positions, [ob.spectrum_description(i) for i in range(len(positions))])
    functions = b.add_function_index_block([block], [ob.qual_function_description()])
    path = tmp_path / "shrinking.ozra"
    path.write_bytes(b.build(b.add_jump_table([functions], [ob.measurement_description()])))
    with OzraFile(str(path)) as f:
        analysis = f.get_measurement(0).get_qual_analysis(0)
        os.truncate(path, positions[30])
        for i in range(30):
            assert [(p.x, p.intensity) for p in analysis.get_spectrum(i).get_spectrum_points()] == \
                [(float(i), 1.0), (i + 0.5, float(i))]
        with pytest.raises(OzraFormatError, match=r"but the file ends \(it shrank after it was opened\)"):
            analysis.get_spectrum(30).get_spectrum_points()
