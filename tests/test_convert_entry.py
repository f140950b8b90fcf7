"""`convert`: numpress sources, refused targets, damaged sources, and the report."""

import os
import zlib

import numpy as np
import pytest

import mzml_synthetic as syn
from ozra_data_access.access import OzraFile
from ozra_data_access.convert import ConversionError, ConversionReport, MzmlError, convert
from ozra_data_access.exception import OzraException
from ozra_data_access.arrays import spectrum_view

MZ_VALUES = np.array([100.0, 100.00125, 250.5, 250.75, 999.999999])
INTENSITIES = np.array([0.0, 1.0, 12345.0, 3.5e6, 17.0])


def numpress_cases():
    pynumpress = pytest.importorskip("pynumpress")
    linear = pynumpress.encode_linear(MZ_VALUES, pynumpress.optimal_linear_fixed_point(MZ_VALUES))
    slof = pynumpress.encode_slof(INTENSITIES, pynumpress.optimal_slof_fixed_point(INTENSITIES))
    pic = pynumpress.encode_pic(INTENSITIES)
    return pynumpress, {
        "linear": (linear, ("MS:1002312", "MS-Numpress linear prediction compression")),
        "linear+zlib": (zlib.compress(bytes(linear)), ("MS:1002746", "MS-Numpress linear prediction compression "
                                                                      "followed by zlib compression")),
        "pic": (pic, ("MS:1002313", "MS-Numpress positive integer compression")),
        "pic+zlib": (zlib.compress(bytes(pic)), ("MS:1002747", "MS-Numpress positive integer compression "
                                                              "followed by zlib compression")),
        "slof": (slof, ("MS:1002314", "MS-Numpress short logged float compression")),
        "slof+zlib": (zlib.compress(bytes(slof)), ("MS:1002748", "MS-Numpress short logged float compression "
                                                                "followed by zlib compression")),
    }


@pytest.mark.parametrize("mz_case, intensity_case", [
    ("linear", "pic"), ("linear", "slof"), ("linear+zlib", "pic+zlib"), ("linear+zlib", "slof+zlib")])
def test_numpress_arrays_read_back_as_the_package_and_pyteomics_decode_them(tmp_path, mz_case, intensity_case):
    pynumpress, cases = numpress_cases()
    mzml = pytest.importorskip("pyteomics.mzml")
    (mz_data, mz_term), (intensity_data, intensity_term) = cases[mz_case], cases[intensity_case]
    arrays = [syn.encoded_array(syn.MZ, mz_data, mz_term), syn.encoded_array(syn.INTENSITY, intensity_data,
                                                                             intensity_term)]
    source = syn.write_mzml(tmp_path / "numpress.mzML", [syn.spectrum(0, MZ_VALUES, INTENSITIES, arrays=arrays,
                                                                      scan_xml=syn.scan(1.0))])
    convert(source, tmp_path / "numpress.ozra")

    expected_mz = pynumpress.decode_linear(np.frombuffer(
        zlib.decompress(mz_data) if "zlib" in mz_case else bytes(mz_data), dtype=np.uint8))
    decode_intensity = pynumpress.decode_pic if intensity_case.startswith("pic") else pynumpress.decode_slof
    expected_intensity = decode_intensity(np.frombuffer(
        zlib.decompress(intensity_data) if "zlib" in intensity_case else bytes(intensity_data), dtype=np.uint8))
    with OzraFile(str(tmp_path / "numpress.ozra")) as ozra_file:
        points = spectrum_view(ozra_file.get_measurement(0).get_qual_analysis(0).get_spectrum(0).get_spectrum_points())
    np.testing.assert_array_equal(points["x"], expected_mz)
    np.testing.assert_array_equal(points["intensity"], expected_intensity)
    with mzml.read(str(source)) as reader:
        (spectrum,) = list(reader)
    np.testing.assert_array_equal(points["x"], spectrum["m/z array"])
    np.testing.assert_array_equal(points["intensity"], spectrum["intensity array"])


def test_damaged_numpress_data_is_refused_naming_the_array(tmp_path):
    numpress_cases()
    arrays = [syn.encoded_array(syn.MZ, b"abc", ("MS:1002312", "MS-Numpress linear prediction compression")),
              syn.binary_array(syn.INTENSITY, [1.0])]
    source = syn.write_mzml(tmp_path / "bad.mzML", [syn.spectrum(0, [1.0], [1.0], arrays=arrays)])
    with pytest.raises(MzmlError, match="spectrum 'scan=1', m/z array: the MS-Numpress linear data does not decode"):
        convert(source, tmp_path / "bad.ozra")
    assert os.listdir(tmp_path) == ["bad.mzML"]


@pytest.fixture
def small_run(tmp_path):
    spectra = [syn.spectrum(i, [100.0 + i, 200.0], [1.0, 2.0], scan_xml=syn.scan(0.1 * i)) for i in range(50)]
    return syn.write_mzml(tmp_path / "run.mzML.gz", spectra)


def test_a_target_that_exists_or_is_the_source_is_refused(small_run, tmp_path):
    target = tmp_path / "run.ozra"
    target.write_bytes(b"keep me")
    with pytest.raises(ConversionError, match="run.ozra: the target exists"):
        convert(small_run, target)
    assert target.read_bytes() == b"keep me"
    with pytest.raises(ConversionError, match="the target is the source itself"):
        convert(small_run, small_run, force=True)
    report = convert(small_run, target, force=True)
    assert isinstance(report, ConversionReport) and report.analyses == ["MS analysis 0: 50 spectra, 1 condition"]
    assert str(report).splitlines()[1] == "  MS analysis 0: 50 spectra, 1 condition"


@pytest.mark.parametrize("keep", [0.3, 0.9])
def test_a_truncated_gzip_source_raises_the_converters_error_and_leaves_nothing(small_run, tmp_path, keep):
    data = small_run.read_bytes()
    cut = tmp_path / "cut.mzML.gz"
    cut.write_bytes(data[: int(len(data) * keep)])
    with pytest.raises(ConversionError, match="cut.mzML.gz: the gzip-compressed file is truncated") as raised:
        convert(cut, tmp_path / "cut.ozra")
    assert isinstance(raised.value, OzraException)
    assert sorted(os.listdir(tmp_path)) == ["cut.mzML.gz", "run.mzML.gz"]


def test_progress_counts_up_to_the_announced_total(tmp_path):
    spectra = [syn.spectrum(i, [100.0], [1.0], scan_xml=syn.scan(0.01 * i)) for i in range(2500)]
    text = "".join(syn.document(spectra)).replace('<spectrumList count="0">', '<spectrumList count="2500">')
    source = tmp_path / "long.mzML"
    source.write_text(text)
    calls = []
    convert(source, tmp_path / "long.ozra", progress=lambda done, total: calls.append((done, total)))
    assert calls == [(1000, 2500), (2000, 2500), (2500, 2500)]


def test_a_missing_source_is_named(tmp_path):
    with pytest.raises(ConversionError, match="nowhere.mzML: no such file or folder"):
        convert(tmp_path / "nowhere.mzML", tmp_path / "x.ozra")
