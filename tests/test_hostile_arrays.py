"""Damaged, oversized, inconsistent and non-finite values in mzML: refused with a reason, never a
crash, never a large allocation, never a file the reader refuses."""

import base64
import os
import subprocess
import sys
import zlib

import numpy as np
import pytest

import mzml_synthetic as syn
from ozra_data_access.access import OzraFile
from ozra_data_access.convert import MzmlError, convert
from ozra_data_access.arrays import spectrum_view

pynumpress = pytest.importorskip("pynumpress")

LINEAR = ("MS:1002312", "MS-Numpress linear prediction compression")
PIC = ("MS:1002313", "MS-Numpress positive integer compression")
SLOF = ("MS:1002314", "MS-Numpress short logged float compression")


def _source(tmp_path, arrays, length=1, name="bad.mzML"):
    spectrum = syn.spectrum(0, [1.0] * length, [1.0] * length, arrays=arrays, scan_xml=syn.scan(1.0))
    return syn.write_mzml(tmp_path / name, [spectrum])


# Bytes that the numpress package's own decoders abort or crash on.
@pytest.mark.parametrize("term, data", [
    (PIC, b"\x01"),
    (SLOF, b"\x00\x00\x00\x00\x00\x00\xf0\x3f\x01"),
    (LINEAR, bytes(range(200, 217))),
])
def test_damaged_numpress_bytes_are_a_conversion_error_not_a_dead_process(tmp_path, term, data):
    kind = syn.MZ if term == LINEAR else syn.INTENSITY
    other = syn.binary_array(syn.INTENSITY if term == LINEAR else syn.MZ, [1.0])
    source = _source(tmp_path, [syn.encoded_array(kind, data, term), other])
    result = subprocess.run([sys.executable, "-m", "ozra_data_access", "convert", str(source),
                             str(tmp_path / "bad.ozra")], capture_output=True, text=True, timeout=120)
    assert result.returncode == 1, result.stderr
    assert "spectrum 'scan=1'" in result.stderr and "MS-Numpress" in result.stderr
    assert sorted(os.listdir(tmp_path)) == ["bad.mzML"]


def test_a_batch_records_a_damaged_numpress_file_and_converts_the_rest(tmp_path):
    pytest.importorskip("distributed")
    from ozra_data_access.batch import convert_files

    damaged = _source(tmp_path, [syn.encoded_array(syn.INTENSITY, b"\x01", PIC), syn.binary_array(syn.MZ, [1.0])])
    good = _source(tmp_path, None, length=3, name="good.mzML")
    result = convert_files([str(damaged), str(good)], tmp_path / "out", scheduler="threads")
    assert list(result.errors["file"]) == [str(damaged)]
    assert os.listdir(tmp_path / "out") == ["good.ozra"]


def test_numpress_values_declared_as_float32_are_the_float32_values_encoded(tmp_path):
    intensities = np.array([1.5, 12345.678, 3.25e6, 17.0001])
    slof = pynumpress.encode_slof(intensities, pynumpress.optimal_slof_fixed_point(intensities))
    arrays = [syn.binary_array(syn.MZ, [100.0, 200.0, 300.0, 400.0]),
              syn.encoded_array(syn.INTENSITY, slof, SLOF, number=syn.FLOAT32)]
    source = _source(tmp_path, arrays, length=4, name="f32.mzML")
    convert(source, tmp_path / "f32.ozra")
    expected = pynumpress.decode_slof(np.frombuffer(bytes(slof), dtype=np.uint8)).astype(np.float32)
    with OzraFile(str(tmp_path / "f32.ozra")) as ozra_file:
        points = spectrum_view(ozra_file.get_measurement(0).get_qual_analysis(0).get_spectrum(0).get_spectrum_points())
    np.testing.assert_array_equal(points["intensity"], expected.astype(np.float64))


def _zlib_array(kind, data):
    text = base64.b64encode(zlib.compress(data, 9)).decode()
    return (f'<binaryDataArray encodedLength="{len(text)}">' + syn.cv_param(*syn.FLOAT64[:2])
            + syn.cv_param(*syn.ZLIB) + syn.cv_param(*kind) + f"<binary>{text}</binary></binaryDataArray>")


@pytest.mark.parametrize("case, message", [
    ("64 MiB of zeros for one value", "inflates to more than"),
    ("three values for one", "its m/z array holds 3 values, the element declares 1"),
    ("zlib stream cut short", "cut off"),
])
def test_arrays_are_bounded_by_the_length_their_element_declares(tmp_path, case, message):
    intensity = _zlib_array(syn.INTENSITY, np.ones(3 if case.startswith("three") else 1).tobytes())
    if case.startswith("64 MiB"):
        mz = _zlib_array(syn.MZ, bytes(64 << 20))
    elif case.startswith("three"):
        mz = _zlib_array(syn.MZ, np.ones(3).tobytes())
    else:
        text = base64.b64encode(zlib.compress(np.ones(1).tobytes())[:-6]).decode()
        mz = (f'<binaryDataArray encodedLength="{len(text)}">' + syn.cv_param(*syn.FLOAT64[:2])
              + syn.cv_param(*syn.ZLIB) + syn.cv_param(*syn.MZ) + f"<binary>{text}</binary></binaryDataArray>")
    source = _source(tmp_path, [mz, intensity])
    with pytest.raises(MzmlError, match=message):
        convert(source, tmp_path / "bad.ozra")


@pytest.mark.parametrize("spectrum, message", [
    (syn.spectrum(0, [100.0, float("nan")], [1.0, 2.0], scan_xml=syn.scan(1.0)), "m/z array holds nan at position 1"),
    (syn.spectrum(0, [100.0, 200.0], [float("inf"), 2.0], scan_xml=syn.scan(1.0)), "intensity array holds inf"),
    (syn.spectrum(0, [float("nan"), 300.0], [0.5, 0.7], params=syn.ABSORPTION, x_kind=syn.WAVELENGTH,
                  scan_xml=syn.scan(1.0)), "wavelength array holds nan"),
    (syn.spectrum(0, [100.0], [1.0], params=syn.MS2, scan_xml=syn.scan(1.0),
                  precursor_xml=syn.precursor(300.0, offsets=("NaN", "0.5"))),
     "isolation window lower offset 'NaN' is not a finite number"),
])
def test_non_finite_values_are_refused_naming_the_spectrum(tmp_path, spectrum, message):
    source = syn.write_mzml(tmp_path / "bad.mzML", [spectrum])
    with pytest.raises(MzmlError, match=f"spectrum 'scan=1': .*{message}"):
        convert(source, tmp_path / "bad.ozra")
    assert os.listdir(tmp_path) == ["bad.mzML"]


def _document_with(tmp_path, name, before_spectrum="", inside_binary=""):
    import gzip

    spectrum = syn.spectrum(0, [1.0], [1.0], scan_xml=syn.scan(1.0))
    text = "".join(syn.document([spectrum]))
    text = text.replace('<spectrumList count="0">', '<spectrumList count="0">' + before_spectrum)
    head, tail = text.split("<binary>", 1)
    path = tmp_path / name
    with gzip.open(path, "wt", compresslevel=1) as stream:
        stream.write(head + "<binary>")
        stream.write(inside_binary)
        stream.write(tail)
    return path


def test_a_text_larger_than_its_element_can_need_is_refused_before_it_is_held(tmp_path):
    source = _document_with(tmp_path, "blanks.mzML.gz", inside_binary=" " * (80 << 20))
    with pytest.raises(MzmlError, match="without an element boundary"):
        convert(source, tmp_path / "out.ozra")


def test_other_children_of_the_spectrum_list_are_released_as_they_are_read(tmp_path):
    import tracemalloc

    junk = '<junk note="' + "x" * 100 + '"/>'
    source = _document_with(tmp_path, "junk.mzML.gz", before_spectrum=junk * 300_000)
    tracemalloc.start()
    try:
        convert(source, tmp_path / "out.ozra")
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak < 40 << 20  # 300,000 junk elements kept would take several times this



def test_a_long_attribute_is_parsed_in_few_feeds(tmp_path, monkeypatch):
    """The system's expat scans a token that spans feeds again on every feed: a 16 MiB attribute in
    16 KiB feeds is scanned a thousand times over (a 40 MB one took 75 s)."""
    from xml.etree import ElementTree

    spectrum = syn.spectrum(0, [1.0], [1.0], scan_xml=syn.scan(1.0))
    long = spectrum.replace('id="scan=1"', 'id="scan=1" note="' + "a" * (16 << 20) + '"')
    source = syn.write_mzml(tmp_path / "long.mzML", [long])
    feeds = []
    original = ElementTree.XMLPullParser.feed
    monkeypatch.setattr(ElementTree.XMLPullParser, "feed", lambda self, data: (feeds.append(len(data)),
                                                                                  original(self, data))[1])
    convert(source, tmp_path / "long.ozra")
    assert len(feeds) <= 24
