"""The mzML converter, checked against an independent reading of the same files by pyteomics.

The real files are read in place from the shared data folder beside the repository
(shared/data, or the folder OZRA_SHARED_DATA names); their origins (repository, commit, path and
licence) are listed in SOURCES.tsv there, and nothing of them is copied into this repository. Cases that no real file shows (unsorted points, refused
encodings, detector chromatograms) use small documents made by tests/mzml_synthetic.py.
"""

import functools
import gzip
import re
import warnings

import numpy as np
import pytest

import mzml_synthetic as syn
import ozra_decoding
from shared_data import DATA, MZML_FILES
from ozra_data_access._internal._enum import DetectorTypes
from ozra_data_access.access import OzraFile
from ozra_data_access.cli import main
from ozra_data_access.common import ValueRange
from ozra_data_access.convert import MzmlConversion, MzmlError, UnsortedPointsWarning, convert_mzml
from ozra_data_access.convert.peaks import pick_peaks
from ozra_data_access.arrays import spectrum_view

mzml = pytest.importorskip("pyteomics.mzml")

FILES = MZML_FILES
pytestmark = pytest.mark.skipif(not FILES, reason="the shared mzML files are not on this machine")


def _open(name):
    path = DATA / name
    return gzip.open(path) if name.endswith(".gz") else open(path, "rb")


def _minutes(value):
    return float(value) / 60 if value.unit_info == "second" else float(value)


def _cv(entry, accession):
    """The value of the cvParam `accession` (userParams of the same name do not count), or None."""
    return next((float(v) for k, v in entry.items() if getattr(k, "accession", None) == accession), None)


@functools.lru_cache(maxsize=None)
def reference(name):
    """What pyteomics reads: MS spectra, spectra of light and SRM chromatograms, as plain dicts."""
    ms, light, srm = [], [], []
    with _open(name) as source, mzml.read(source) as reader:
        for s in reader:
            rt = _minutes(s["scanList"]["scan"][0]["scan start time"])
            if "wavelength array" in s:
                light.append(dict(rt=rt, x=s["wavelength array"], intensity=s["intensity array"]))
                continue
            order = np.argsort(s["m/z array"], kind="stable")
            mz, intensity = s["m/z array"][order], s["intensity array"][order].astype(np.float64)
            peak = int(np.argmax(intensity)) if len(intensity) else None
            base = (_cv(s, "MS:1000505"), _cv(s, "MS:1000504"))
            ms.append(dict(
                rt=rt, mz=mz, intensity=intensity, tic=_cv(s, "MS:1000285"),
                base=base if None not in base else (intensity[peak], mz[peak]),
                filter=s["scanList"]["scan"][0].get("filter string"), profile="profile spectrum" in s,
            ))
    with _open(name) as source, mzml.read(source) as reader:
        for c in reader.iterfind("chromatogram"):
            if "selected reaction monitoring chromatogram" in c:
                target = c["precursor"][0]["isolationWindow"]["isolation window target m/z"]
                product = c["product"][0]["isolationWindow"]["isolation window target m/z"]
                srm.append(dict(id=c["id"], time=c["time array"], intensity=c["intensity array"],
                                precursor=target, product=product))
    return dict(ms=ms, light=light, srm=srm)


@pytest.fixture(scope="module")
def converted(tmp_path_factory):
    """The Ozra file of a shared file, converted once with the default (exact) intensity widths."""
    folder = tmp_path_factory.mktemp("converted")

    @functools.lru_cache(maxsize=None)
    def convert(name):
        return str(convert_mzml(DATA / name, folder / (name + ".ozra")))

    return convert


@pytest.fixture
def opened():
    """Opens Ozra files for the test and closes them after it."""
    files = []

    def open_file(path):
        files.append(OzraFile(str(path)))
        return files[-1].get_measurement(0)

    yield open_file
    for file in files:
        file.close()


SPECTRUM_FIELDS = (
    "index", "retention_time", "acquisition_condition_index", "precursor_index", "product_indices", "spectrum_type",
    "supplemental_properties", "current_total_ion", "base_peak_intensity", "base_peak_mz", "ms_level", "polarity",
    "collision_energy", "mass_range", "precursor_range", "precursor_value", "is_profile_spectrum_measured",
)


def stored_functions(path):
    """Each function's detector and its spectra as (description by field name, x, intensity), read byte by byte."""
    functions = ozra_decoding.read_file(path)["measurements"][0]["functions"]
    return [(
        (f["description"][1] or f["description"][2])[1][0],
        [(dict(zip(SPECTRUM_FIELDS, s["description"])), *s["points"][1:]) for s in f["spectra"]],
    ) for f in functions]


def ms_analysis(measurement):
    return measurement.get_qual_analysis(0) if measurement.get_qual_analysis_count() else None


@pytest.mark.parametrize("name", FILES)
def test_spectra_times_and_points_are_those_pyteomics_reads(converted, opened, name):
    expected = reference(name)["ms"]
    analysis = ms_analysis(opened(converted(name)))
    assert (analysis.get_spectra_count() if analysis else 0) == len(expected)
    for index, spectrum in enumerate(expected):
        stored = analysis.get_spectrum(index)
        points = spectrum_view(stored.get_spectrum_points())
        assert stored.retention_time == spectrum["rt"]
        centroid = (spectrum["mz"], spectrum["intensity"])
        if spectrum["profile"]:  # the profile kept as read, the centroids picked from it
            profile = spectrum_view(stored.get_profile_spectrum_points())
            np.testing.assert_array_equal(profile["x"], spectrum["mz"])
            np.testing.assert_array_equal(profile["intensity"], spectrum["intensity"])
            centroid = pick_peaks(spectrum["mz"], spectrum["intensity"], "")
        np.testing.assert_array_equal(points["x"], centroid[0])
        np.testing.assert_array_equal(points["intensity"], centroid[1])


@pytest.mark.parametrize("name", [n for n in FILES if n != "wk_chrom.mzML.gz"])
def test_tic_and_bpc_are_those_of_the_source(converted, opened, name):
    expected = reference(name)["ms"]
    analysis = ms_analysis(opened(converted(name)))
    tic, bpc = {}, {}
    for condition in analysis.unique_acquisition_conditions:
        tic.update((p.spectrum_index, (p.retention_time, p.intensity)) for p in analysis.get_tic(condition))
        bpc.update((p.spectrum_index, (p.intensity, p.x)) for p in analysis.get_bpc(condition))
    assert sorted(tic) == sorted(bpc) == list(range(len(expected)))
    for index, spectrum in enumerate(expected):
        rt, total = tic[index]
        assert rt == spectrum["rt"]
        if spectrum["tic"] is None:  # derived from the points: summed in another order than numpy's
            assert total == pytest.approx(spectrum["intensity"].sum(), rel=1e-12)
        else:
            assert total == spectrum["tic"]
        assert bpc[index] == spectrum["base"]


def test_absorption_spectra_form_a_dad_function_with_one_wavelength_array(converted, opened):
    expected = reference("uv_test_mini.mzML.gz")["light"]
    measurement = opened(converted("uv_test_mini.mzML.gz"))
    dad = measurement.get_dad_analysis(0)
    description = dad._DADAnalysis__function_index._FunctionIndex__function_description
    wavelengths = description._FunctionDescription__qual_description._QualDescription__wavelength_arr
    np.testing.assert_array_equal(wavelengths, expected[0]["x"])
    assert dad.get_spectra_count() == len(expected) == 5
    for index, spectrum in enumerate(expected):
        stored = dad.get_spectrum(index)
        points = spectrum_view(stored.get_spectrum_points())
        assert stored.retention_time == spectrum["rt"]
        np.testing.assert_array_equal(points["x"], spectrum["x"])
        np.testing.assert_array_equal(points["intensity"], spectrum["intensity"])


def test_srm_chromatograms_become_quantitative_traces(converted):
    expected = reference("wk_chrom.mzML.gz")["srm"]
    ((detector, traces),) = stored_functions(converted("wk_chrom.mzML.gz"))
    # The file has no spectra: its TIC and BPC come first, then the seven SRM traces.
    assert detector == DetectorTypes.MS and len(traces) - 2 == len(expected) == 7
    for (description, time, intensity), chromatogram in zip(traces[2:], expected):
        np.testing.assert_array_equal(time, chromatogram["time"])
        np.testing.assert_array_equal(intensity, chromatogram["intensity"])
        assert description["supplemental_properties"] == {
            "NativeId": chromatogram["id"], "ProductMz": chromatogram["product"], "Unit": "number of detector counts",
            "ChromatogramType": "selected reaction monitoring chromatogram"}
        assert (description["ms_level"], description["precursor_value"], description["collision_energy"]) == (
            2, chromatogram["precursor"], 89.0)


def test_thermo_conditions_carry_the_filter_string_their_spectra_share(converted, opened):
    expected = reference("small.mzML")["ms"]
    analysis = ms_analysis(opened(converted("small.mzML")))
    filters_of = {}
    for index, spectrum in enumerate(expected):
        stored = analysis.get_spectrum(index)
        assert stored.supplemental_properties["FilterString"] == spectrum["filter"]
        filters_of.setdefault(id(stored.acquisition_condition), set()).add(spectrum["filter"])
    for condition in analysis.unique_acquisition_conditions:
        (thermo,) = condition.additional_conditions
        filters = filters_of[id(condition)]
        assert thermo.scan_filter == (filters.pop() if len(filters) == 1 else None)
    # Its MS1 scans alternate between two analysers under one condition: no single filter string.
    assert [c.additional_conditions[0].scan_filter for c in analysis.unique_acquisition_conditions
            if c.ms_level == 1] == [None]
    waters = ms_analysis(opened(converted("ElutionPeakDetection_input1.mzML")))
    assert [c.additional_conditions for c in waters.unique_acquisition_conditions] == [[]]


def test_measurement_describes_the_run_and_its_raw_file(converted, opened):
    measurement = opened(converted("ginkgotoxin-ms-switching_out.mzML"))
    description = measurement._Measurement__measurement_index._MeasurementIndex__measurement_description
    fields = {name: getattr(description, "_MeasurementDescription__" + name) for name in (
        "sample_name", "original_file_path", "instrument_product_name", "instrument_manufacturer",
        "measurement_date_time", "hash")}
    assert fields == {
        "sample_name": "ginkgotoxin-ms-switching",
        "original_file_path": "file:////home/samuel/git/OpenMS/src/tests/topp/THIRDPARTY/ginkgotoxin-ms-switching.raw",
        "instrument_product_name": "Q Exactive",  # through its referenceableParamGroup
        "instrument_manufacturer": "Thermo Fisher Scientific",
        "measurement_date_time": "2019-02-14T18:30:53.9769878Z",
        "hash": "7ddf76e89ea33040c5acb50760a230cdfe55e969",
    }


@pytest.mark.parametrize("width, encoding", [(4, "zstd"), (8, "raw")])
def test_a_fixed_intensity_width_stores_every_intensity_with_it(tmp_path, opened, width, encoding):
    target = convert_mzml(DATA / "small.mzML", tmp_path / "small.ozra", point_encoding=encoding,
                          intensity_width=width)
    analysis = ms_analysis(opened(target))
    dtype = np.float32 if width == 4 else np.float64
    for index, spectrum in enumerate(reference("small.mzML")["ms"]):
        stored = analysis.get_spectrum(index)
        points = spectrum_view(stored.get_profile_spectrum_points() if spectrum["profile"] else
                               stored.get_spectrum_points())
        np.testing.assert_array_equal(points["intensity"], spectrum["intensity"].astype(dtype))


# --- documents no shared file shows -------------------------------------------------------------------


def synthetic_run(path):
    """MS1 and MS2 scans, absorption spectra over two wavelength grids, an SRM and an absorption chromatogram."""
    ms1_scan = syn.scan(12.0, syn.SECOND, window=(100, 500))
    ms2_precursor = syn.precursor(300.0, "scan=1", collision_energy=25.0, offsets=(0.5, 1.0), selected=300.1)
    spectra = [
        syn.spectrum(0, [300.0, 100.0, 200.0], [0.1, 1e300, 3.0], scan_xml=ms1_scan),
        syn.spectrum(1, [50.0, 60.0], [5.0, 7.0], syn.MS2, syn.scan(0.5), ms2_precursor, arrays=[
            syn.binary_array(syn.MZ, [50.0, 60.0], syn.FLOAT32, syn.NO_COMPRESSION),
            syn.binary_array(syn.INTENSITY, [5.0, 7.0], syn.FLOAT32, syn.NO_COMPRESSION)]),
        syn.spectrum(2, [200.0, 210.0], [0.5, 0.25], syn.ABSORPTION, syn.scan(0.6), x_kind=syn.WAVELENGTH),
        syn.spectrum(3, [200.0, 220.0, 240.0], [1.0, 2.0, 3.0], syn.ABSORPTION, syn.scan(0.7), x_kind=syn.WAVELENGTH),
    ]
    chromatograms = [
        syn.chromatogram(0, "SRM 1", [60.0, 0.0, 30.0], [3.0, 1.0, 2.0],
                         [("MS:1001473", "selected reaction monitoring chromatogram")],
                         syn.precursor(118.0), product_mz=101.0, time_unit=syn.SECOND),
        syn.chromatogram(1, "UV 254", [0.0, 1.0], [0.5, 0.75], [("MS:1000812", "absorption chromatogram")]),
        syn.chromatogram(2, "TIC", [0.2, 0.5], [8.0, 9.0], [("MS:1000235", "total ion current chromatogram")]),
    ]
    return syn.write_mzml(path, spectra, chromatograms)


def test_a_run_of_every_kind_converts_with_its_points_sorted_and_its_links_kept(tmp_path, opened):
    source = synthetic_run(tmp_path / "run.mzML.gz")
    with pytest.warns(UnsortedPointsWarning, match=r"2 spectra or chromatograms .* \('scan=1', 'SRM 1'\)"):
        convert_mzml(source, tmp_path / "run.ozra")
    measurement = opened(tmp_path / "run.ozra")
    ms = measurement.get_qual_analysis(0)
    ms1, ms2 = ms.get_spectrum(0), ms.get_spectrum(1)
    assert ms1.retention_time == 12.0 / 60 and ms2.retention_time == 0.5
    assert ms1.supplemental_properties == {"NativeId": "scan=1", "PointsSorted": True}
    assert spectrum_view(ms1.get_spectrum_points()).tolist() == [(100.0, 1e300), (200.0, 3.0), (300.0, 0.1)]
    assert ms1.acquisition_condition.mass_range == ValueRange(100.0, 500.0)
    assert ms2.precursor_index == 0 and ms1.precursor_index is None
    condition = ms2.acquisition_condition
    assert (condition.ms_level, condition.collision_energy, condition.precursor_value, condition.precursor_range) == (
        2, 25.0, 300.1, ValueRange(299.5, 301.0))
    dad = measurement.get_dad_analysis(0)
    assert [spectrum_view(dad.get_spectrum(i).get_spectrum_points())["x"].tolist() for i in (0, 1)] == [
        [200.0, 210.0], [200.0, 220.0, 240.0]]
    _, _, (quan, (srm,)), (analog, (uv,)) = stored_functions(tmp_path / "run.ozra")
    assert (quan, srm[1].tolist(), srm[2].tolist()) == (DetectorTypes.MS, [0.0, 0.5, 1.0], [1.0, 2.0, 3.0])
    assert analog == DetectorTypes.UV
    assert uv[0]["supplemental_properties"]["ChromatogramType"] == "absorption chromatogram"


@pytest.mark.parametrize("spectra, message", [
    ([syn.spectrum(0, [1.0], [1.0], arrays=[syn.binary_array(syn.MZ, [1.0], compression=(
        "MS:1003780", "zstd compression"))])],
     "spectrum 'scan=1', m/z array: compression MS:1003780 (zstd compression)"),
    ([syn.spectrum(0, [1.0], [1.0], arrays=[syn.binary_array(syn.INTENSITY, [1.0], compression=(
        "MS:1003785", "MS-Numpress short logged float compression followed by zstd compression"))])],
     "compression MS:1003785"),
    ([syn.spectrum(0, [1.0, 2.0], [1.0])], "spectrum 'scan=1': 2 m/z array values but 1 intensities"),
    ([syn.spectrum(0, [1.0], [1.0], scan_xml=syn.scan(1.0, unit=None))],
     "spectrum 'scan=1': scan start time has no unit"),
])
def test_unreadable_sources_are_refused_naming_the_reason(tmp_path, spectra, message):
    source = syn.write_mzml(tmp_path / "bad.mzML", spectra)
    with pytest.raises(MzmlError, match=re.escape(message)):
        convert_mzml(source, tmp_path / "bad.ozra")
    assert not (tmp_path / "bad.ozra").exists()


def test_the_command_converts_and_reports(tmp_path, capsys):
    source = synthetic_run(tmp_path / "run.mzML")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert main(["convert", str(source), str(tmp_path / "run.ozra"), "--intensity-width", "8"]) == 0
    out = capsys.readouterr().out
    for line in ("MS analysis 0: 2 spectra", "DAD analysis 0: 2 spectra", "quantitative analysis 0: 1 trace",
                 "analog analysis 0: 1 trace (UV 254)"):
        assert f"\n  {line}" in out
    assert "2 spectra or chromatograms had x values out of order and were stored sorted" in out
    assert "not stored:\n  chromatogram 'TIC': a total ion current chromatogram, rebuilt from the spectra" in out
    assert MzmlConversion(source).write(tmp_path / "again.ozra") == tmp_path / "again.ozra"
