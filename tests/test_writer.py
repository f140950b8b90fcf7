import array
import os
import struct

import numpy as np
import pytest
import zstandard

import ozra_decoding
from ozra_data_access._internal._enum import (
    DetectorTypes,
    PolarityTypes,
    SpectrumTypes,
    TripleQScanTypes,
    VendorSpecificAdditionalConditionTypes,
)
from ozra_data_access.common import ValueRange
from ozra_data_access.samples import write_sample
from ozra_data_access.writer import (
    AcquisitionConditionData,
    AcquisitionCoreConditionData,
    FunctionData,
    MeasurementData,
    SpectrumData,
    TripleQScanConditionData,
    VendorSpecificConditionData,
    write_file,
)
from ozra_data_access.writer.primitives import MAX_FRAME_RATIO, FrameCompressor, pack_count
from ozra_data_access.writer.values import encode_record, encode_value


def encoded(value):
    out = bytearray()
    encode_value(out, value)
    return bytes(out)


def i64(v):
    return struct.pack("<q", v).hex()


def f64(v):
    return struct.pack("<d", v).hex()


@pytest.mark.parametrize("value, expected", [
    (None, "00"),
    (True, "0401"),
    (False, "0400"),
    (np.bool_(True), "0401"),
    (-2, "01" + i64(-2)),
    (np.int32(7), "01" + i64(7)),
    (1.5, "02" + f64(1.5)),
    (np.float32(0.25), "02" + f64(0.25)),
    ("", "030000"),
    ("é", "030200c3a9"),
    (ValueRange(1, 2.5), "05" + "01" + i64(1) + "02" + f64(2.5)),
    (PolarityTypes.NEGATIVE, "060102000000"),
    (SpectrumTypes.PROFILE, "060202000000"),
    (DetectorTypes.ANALOG, "060308000000"),
    (VendorSpecificAdditionalConditionTypes.WATERS_MASS_LYNX, "060405000000"),
    (TripleQScanTypes.NEUTRAL_GAIN, "060504000000"),
    ({"k": None}, "070100" + "0301006b" + "00"),
    ([1, None], "080200" + "01" + i64(1) + "00"),
    ((), "080000"),
    (np.array([1, 2]), "0a0200" + f64(1.0) + f64(2.0)),
    (array.array("d", [0.5]), "0a0100" + f64(0.5)),
    (TripleQScanConditionData(TripleQScanTypes.PRODUCT, 100.0),
     "09" + "0904" + "060502000000" + "02" + f64(100.0) + "00" + "00"),
])
def test_tagged_value_bytes(value, expected):
    assert encoded(value).hex() == expected


@pytest.mark.parametrize("count, expected", [
    (0xFFFE, "feff"),
    (0xFFFF, "ffff" + "ffff0000"),
    (0x10000, "ffff" + "00000100"),
])
def test_count_escape_in_strings_and_lists(count, expected):
    assert encoded("a" * count)[:1 + len(expected) // 2].hex() == "03" + expected
    assert encoded([None] * count)[:1 + len(expected) // 2].hex() == "08" + expected
    assert len(encoded([None] * count)) == 1 + len(expected) // 2 + count


@pytest.mark.parametrize("encode, error", [
    (lambda: encoded(2 ** 63), ValueError),
    (lambda: encoded({1: 2}), TypeError),
    (lambda: encoded(b"bytes"), TypeError),
    (lambda: encoded({1.0}), TypeError),
    (lambda: encoded(np.zeros((2, 2))), ValueError),
    (lambda: pack_count(2 ** 32), ValueError),
])
def test_unstorable_values_are_refused(encode, error):
    with pytest.raises(error):
        encode()


def test_record_framing_counts_appended_fields():
    core = AcquisitionCoreConditionData(ms_level=None, appended_fields=("later",))
    kind, fields = core.ozra_record()
    out = bytearray()
    encode_record(out, kind, fields)
    assert out[:2].hex() == "0708"
    assert ozra_decoding.record(ozra_decoding.Cursor(out)) == (7, [
        None, PolarityTypes.POSITIVE, None, None, SpectrumTypes.CENTROID, None, None, "later"])
    with pytest.raises(ValueError):
        encode_record(bytearray(), 5, [None] * 256)


# Short ids: pytest's id of a megabyte of bytes takes minutes to build under AddressSanitizer.
@pytest.mark.parametrize("data", [b"", b"x", bytes(range(256)) * 600, bytes(1 << 17), bytes(1_000_001)],
                         ids=["empty", "one byte", "cycled bytes", "128 KiB of zeros", "1 MB of zeros"])
def test_frames_carry_size_and_checksum_within_the_ratio(data):
    frame = FrameCompressor().compress(data)
    parameters = zstandard.get_frame_parameters(frame)
    assert parameters.content_size == len(data) and parameters.has_checksum
    assert len(data) <= MAX_FRAME_RATIO * len(frame)
    assert zstandard.ZstdDecompressor().decompress(frame) == data
    if data:
        damaged = bytearray(frame)
        damaged[len(frame) // 2] ^= 0x10
        with pytest.raises(zstandard.ZstdError):
            zstandard.ZstdDecompressor().decompress(bytes(damaged))


def conditions():
    vendor = [VendorSpecificConditionData(t, original_id=i, cone_voltage=20.0 + i, scan_info_string=t.name)
              for i, t in enumerate(VendorSpecificAdditionalConditionTypes)]
    triple_q = [TripleQScanConditionData(t, target_mz=100 + i, q1_range=ValueRange(1, 2), q3_range=None)
                for i, t in enumerate(TripleQScanTypes)]
    return [AcquisitionConditionData(AcquisitionCoreConditionData(
                ms_level=2, vendor_specific_additional_condition=v, triple_q_scan_condition=q),
                precursor_range=ValueRange(99.5, 100.5), precursor_value=100)
            for v, q in zip(vendor, triple_q + [None])]


@pytest.fixture
def layout_file(tmp_path):
    ms = [SpectrumData(retention_time=1.0, x=[100.0, 101.0], intensity=[5.0, 7.0], profile_x=[99.9, 100.0, 100.1],
                       profile_intensity=[1, 5, 1], index=7, acquisition_condition_index=9),
          SpectrumData(retention_time=None, x=[200.0], intensity=[3.0], intensity_width=8, point_encoding="raw",
                       current_total_ion=1, supplemental_properties={"ConeVoltage": 30.0})]
    dad = FunctionData.dad([SpectrumData(retention_time=2.0, intensity=[0.5, 2.0, 1.0])], wavelengths=[200, 210, 220])
    functions = [FunctionData.qual_ms(ms, acquisition_conditions=conditions()), dad,
                 FunctionData.dad([SpectrumData(x=[250.0], intensity=[1.0])], point_encoding="raw"),
                 FunctionData.quan(), FunctionData.analog(has_profile=True, spectra=[SpectrumData(x=[0, 1],
                                                                                               intensity=[0, 0])])]
    path = write_file(tmp_path / "layout.ozra", [MeasurementData(functions, sample_name="S1", dilution_factor=2),
                                                   MeasurementData()],
                      converter_version=(3, 4, 5), format_version=(2, 0, 0))
    return ozra_decoding.read_file(path)


def test_layout_versions_and_descriptions(layout_file):
    assert layout_file["format"] == (2, 0, 0) and layout_file["converter"] == (3, 4, 5)
    first, second = layout_file["measurements"]
    assert first["description"][:4] == ["S1", None, None, 2] and len(first["description"]) == 15
    assert second["functions"] == []
    kinds = [(d[0], (d[1] or d[2])[1][0]) for d in (f["description"] for f in first["functions"])]
    assert kinds == [(True, DetectorTypes.MS), (True, DetectorTypes.DAD), (True, DetectorTypes.DAD),
                     (False, DetectorTypes.MS), (False, DetectorTypes.ANALOG)]
    stored = first["functions"][0]["description"][1][1][2]
    assert [c[1][0][1][5][1][0] for c in stored] == list(VendorSpecificAdditionalConditionTypes)
    assert [c[1][0][1][6] and c[1][0][1][6][1][0] for c in stored] == list(TripleQScanTypes) + [None]
    assert list(first["functions"][1]["description"][1][1][3]) == [200.0, 210.0, 220.0]


def test_layout_spectra_points_and_derived_fields(layout_file):
    qual, dad, dad_without_wavelengths, quan, analog = layout_file["measurements"][0]["functions"]
    first, second = qual["spectra"]
    assert qual["has_profile"] and second["profile"] is None
    assert first["description"][:4] == [7, 1.0, 9, None]
    assert second["description"][:2] == [1, None]
    assert first["description"][7:10] == [12.0, 7.0, 101.0] and second["description"][7:10] == [1, 3.0, 200.0]
    assert [first["description"][16], second["description"][16]] == [True, False]
    header, x, intensity = first["points"]
    assert header == {"encoding": 1, "width": 4} and list(x) == [100.0, 101.0] and list(intensity) == [5.0, 7.0]
    assert list(first["profile"][1]) == [99.9, 100.0, 100.1]
    assert second["points"][0] == {"encoding": 0, "width": 8}
    (dad_spectrum,) = dad["spectra"]
    assert dad_spectrum["points"][1] is None and dad_spectrum["description"][7:10] == [3.5, 2.0, 210.0]
    assert list(dad_without_wavelengths["spectra"][0]["points"][1]) == [250.0]
    assert quan["spectra"] == [] and not quan["has_profile"]
    assert analog["has_profile"] and analog["spectra"][0]["profile"] is None


def test_writer_refuses_what_it_cannot_encode(tmp_path):
    with pytest.raises(ValueError):
        write_file(tmp_path / "a.ozra", [MeasurementData([FunctionData.qual_ms([SpectrumData(intensity=[1.0])])])])
    with pytest.raises(ValueError):
        write_file(tmp_path / "b.ozra", [MeasurementData([FunctionData.quan(wavelengths=[200.0])])])
    with pytest.raises(ValueError):
        write_file(tmp_path / "c.ozra", [], point_encoding="zlib")
    assert os.listdir(tmp_path) == []


def failing_spectra():
    yield SpectrumData(x=np.arange(1000.0), intensity=np.ones(1000))
    raise RuntimeError("source failed")


@pytest.mark.parametrize("measurements, error", [
    (lambda: [MeasurementData([FunctionData.qual_ms(failing_spectra())])], RuntimeError),
    (lambda: [MeasurementData(), MeasurementData(sample_name=object())], TypeError),
])
@pytest.mark.parametrize("existing", [None, b"old contents"])
def test_failed_write_leaves_nothing_behind(tmp_path, measurements, error, existing):
    target = tmp_path / "out.ozra"
    if existing is not None:
        target.write_bytes(existing)
    with pytest.raises(error):
        write_file(target, measurements())
    assert os.listdir(tmp_path) == ([] if existing is None else ["out.ozra"])
    if existing is not None:
        assert target.read_bytes() == existing


def test_successful_write_replaces_the_target(tmp_path):
    target = tmp_path / "out.ozra"
    target.write_bytes(b"old contents")
    assert write_file(target, []) == target
    assert os.listdir(tmp_path) == ["out.ozra"]
    assert ozra_decoding.read_file(target)["measurements"] == []


SMALL = dict(scans=62, points_per_spectrum=40, dad_spectra=15, wavelengths=21, compounds=8)


def test_sample_is_deterministic_for_a_seed(tmp_path):
    first = write_sample(tmp_path / "a.ozra", seed=5, **SMALL)
    again = write_sample(tmp_path / "b.ozra", seed=5, **SMALL)
    other = write_sample(tmp_path / "c.ozra", seed=6, **SMALL)
    assert first.read_bytes() == again.read_bytes() != other.read_bytes()


@pytest.mark.parametrize("condition_list", [True, False])
def test_sample_shape(tmp_path, condition_list):
    path = write_sample(tmp_path / "s.ozra", measurements=2, condition_list=condition_list, intensity_width=8,
                        **SMALL)
    measurements = ozra_decoding.read_file(path)["measurements"]
    assert len(measurements) == 2
    ms, dad, quan, analog = measurements[0]["functions"]
    assert [f["description"][0] for f in (ms, dad, quan, analog)] == [True, True, False, False]
    stored_conditions = ms["description"][1][1][2]
    assert (stored_conditions is not None and len(stored_conditions) == 6) == condition_list
    spectra = ms["spectra"]
    assert len(spectra) == SMALL["scans"]
    modes = set()
    for spectrum in spectra:
        d = spectrum["description"]
        _, x, intensity = spectrum["points"]
        assert len(x) == SMALL["points_per_spectrum"] and np.all(np.diff(x) >= 0) and np.all(intensity > 0)
        assert d[7] == pytest.approx(intensity.sum()) and d[8] == intensity.max()
        assert d[9] == x[np.argmax(intensity)]
        assert (spectrum["profile"] is not None) == (d[10] == 1)
        assert d[2] == (d[0] % 6 if condition_list else None)
        modes.add((d[10], d[11], d[12]))
    assert modes == {(level, polarity, energy) for polarity in (PolarityTypes.POSITIVE, PolarityTypes.NEGATIVE)
                     for level, energy in ((1, None), (2, 15.0), (2, 35.0))}
    wavelengths = dad["description"][1][1][3]
    assert len(dad["spectra"]) == SMALL["dad_spectra"] and wavelengths[0] == 190.0 and wavelengths[-1] == 600.0
    assert all(len(s["points"][2]) == SMALL["wavelengths"] and s["points"][1] is None for s in dad["spectra"])
    assert len(quan["spectra"]) == 3 and len(analog["spectra"]) == 1
