"""The mzML export of every shared run: valid against the mzML 1.1 schema, read by pyteomics to the
values stored, and converted back into an Ozra file equal in every value mzML holds."""

import dataclasses
import gzip
import os
import warnings

import numpy
import pytest

from export_runs import ALL_RUNS
from ozra_data_access.access import OzraFile
from ozra_data_access.arrays import spectrum_arrays
from ozra_data_access.convert import convert
from ozra_data_access.export import ExportError, MzmlOptions, export
from ozra_data_access.export.descriptions import has_profile, spectrum_description, trace_description
from shared_data import DATA

mzml = pytest.importorskip("pyteomics.mzml")
pytest.importorskip("psims")
etree = pytest.importorskip("lxml.etree")

pytestmark = pytest.mark.skipif(not DATA.is_dir(), reason="the shared runs are not on this machine")


@pytest.fixture(scope="module")
def schema():
    """The indexed mzML 1.1 schema, as pyopenms ships it."""
    pyopenms = pytest.importorskip("pyopenms")
    folder = os.path.join(os.path.dirname(pyopenms.__file__), "share", "OpenMS", "SCHEMAS")
    return etree.XMLSchema(etree.parse(os.path.join(folder, "mzML_idx_1_10.xsd")))


def exported(source, target, **options):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # psims leaves its vocabulary files to the collector
        export(source, target, options=MzmlOptions(**options))
    return target


# --- what the reader holds, and what pyteomics reads ---------------------------------------------------


def stored_items(path):
    """Per MS spectrum, DAD spectrum and trace (in file order, analyses of a kind one after another):
    its stored description and points."""
    items = {"ms": [], "dad": [], "quan": [], "analog": []}
    with OzraFile(path) as ozra:
        run = ozra.get_measurement(0)
        for a in range(run.get_qual_analysis_count()):
            analysis = run.get_qual_analysis(a)
            for i in range(analysis.get_spectra_count()):
                spectrum = analysis.get_spectrum(i)
                profile = spectrum_arrays(spectrum.get_profile_spectrum_points()) if has_profile(spectrum) else None
                items["ms"].append((spectrum_description(spectrum), spectrum_arrays(spectrum.get_spectrum_points()),
                                    profile))
        for a in range(run.get_dad_analysis_count()):
            analysis = run.get_dad_analysis(a)
            for i in range(analysis.get_spectra_count()):
                spectrum = analysis.get_spectrum(i)
                items["dad"].append((spectrum_description(spectrum), spectrum_arrays(spectrum.get_spectrum_points()),
                                     None))
        for kind, count, get in (("quan", run.get_quan_analysis_count(), run.get_quan_analysis),
                                 ("analog", run.get_analog_analysis_count(), run.get_analog_analysis)):
            for a in range(count):
                for trace in get(a).traces:
                    items[kind].append((trace_description(trace), spectrum_arrays(trace.get_points()),
                                        (trace.label, trace.unit)))
        measurement = {name: getattr(run, name) for name in MEASUREMENT_FIELDS}
        for kind, count, get in (("qual", run.get_qual_analysis_count, run.get_qual_analysis),
                                 ("dad", run.get_dad_analysis_count, run.get_dad_analysis),
                                 ("analog", run.get_analog_analysis_count, run.get_analog_analysis)):
            measurement[kind] = [get(a).supplemental_properties for a in range(count())]
    return items, measurement


def pyteomics_arrays(path):
    """(x, intensity, other representation or None) of every spectrum, then of every chromatogram."""
    opened = gzip.open(path) if str(path).endswith(".gz") else open(path, "rb")
    with opened as file, mzml.MzML(file) as reader, warnings.catch_warnings():
        warnings.simplefilter("ignore")  # pyteomics warns that a compressed stream is read without its index
        spectra = []
        for spectrum in reader:
            x = spectrum.get("m/z array", spectrum.get("wavelength array"))
            other = next(((spectrum[f"{kind} m/z array"], spectrum[f"{kind} intensity array"])
                          for kind in ("centroid", "profile") if f"{kind} m/z array" in spectrum), None)
            spectra.append((x, spectrum["intensity array"], other))
        chromatograms = [(c["time array"], c["intensity array"], None) for c in reader.iterfind("chromatogram")]
    return spectra, chromatograms


def ours_in_file_order(items):
    """Our arrays in the order of the file: MS spectra with their own representation first, then DAD
    spectra, quantitative and analog traces."""
    spectra = []
    for stored, centroid, profile in items["ms"]:
        if profile is not None and stored.spectrum_type.name == "PROFILE":
            spectra.append((*profile, centroid))
        else:
            spectra.append((*centroid, profile))
    spectra += [(*points, None) for _, points, _ in items["dad"]]
    return spectra, [(*points, None) for _, points, _ in items["quan"] + items["analog"]]


def check_arrays(read, ours, precision, numpress):
    assert len(read) == len(ours)
    for (x, y, other), (our_x, our_y, our_other) in zip(read, ours):
        pairs = [(x, our_x, "linear"), (y, our_y, "slof")]
        assert (other is None) == (our_other is None)
        if other is not None:
            pairs += [(other[0], our_other[0], "linear"), (other[1], our_other[1], "slof")]
        for values, expected, kind in pairs:
            values = numpy.asarray(values, numpy.float64)
            if numpress:
                check_numpress(values, expected, kind)
            elif precision == 32:
                assert numpy.array_equal(values, expected.astype(numpy.float32).astype(numpy.float64))
            else:
                assert numpy.array_equal(values.view(numpy.uint64), expected.view(numpy.uint64))


def check_numpress(values, expected, kind):
    """MS-Numpress's stated bounds: linear prediction keeps each value within half a step of its
    fixed point; short logged float keeps log(value + 1) within half a step of its own. Arrays
    with values below zero, which MS-Numpress cannot hold, are written exactly."""
    import pynumpress

    if not len(expected) or numpy.min(expected) < 0:
        assert numpy.array_equal(values, expected)
        return
    if kind == "linear":
        step = 1.0 / pynumpress.optimal_linear_fixed_point(expected)
        assert numpy.max(numpy.abs(values - expected)) <= step
    else:
        step = 1.0 / pynumpress.optimal_slof_fixed_point(expected)
        assert numpy.max(numpy.abs(numpy.log1p(values) - numpy.log1p(expected))) <= step


# --- the tests -----------------------------------------------------------------------------------------


#: Every field of a measurement's description.
MEASUREMENT_FIELDS = ("sample_name", "sample_id", "acquisition_method_file_name", "dilution_factor",
                      "injection_volume", "original_file_path", "instrument_product_name", "measurement_user_name",
                      "plate_code", "well_code", "measurement_date_time", "instrument_manufacturer",
                      "source_file_definition", "supplemental_properties", "hash")


def check_round_trip(before, after):
    """Every value mzML holds is back, bit for bit. What it cannot hold (docs/export.md): a native
    id where the spectrum or trace had none (the export names it), a DAD spectrum's missing
    wavelength range (the converter takes the spectrum's), an analog trace's chromatogram kind
    (named by the export's chromatogram term), the split into several analyses of one kind."""
    (items_before, run_before), (items_after, run_after) = before, after
    for name, value in run_before.items():
        if name not in ("qual", "dad") or len(value) == 1:
            assert run_after[name] == value, name
    for kind in items_before:
        assert len(items_after[kind]) == len(items_before[kind]), kind
        for (stored, points, extra), (back, back_points, back_extra) in zip(items_before[kind], items_after[kind]):
            expected = dataclasses.asdict(stored)
            got = dataclasses.asdict(back)
            properties, back_properties = expected.pop("supplemental_properties"), got.pop("supplemental_properties")
            for key in ("NativeId", "ChromatogramType"):
                if key not in properties:
                    back_properties.pop(key, None)
            assert back_properties == properties
            expected.pop("condition_index"), got.pop("condition_index")
            if kind == "dad" and expected["mass_range"] is None:
                got["mass_range"] = None
            assert got == expected
            for ours, theirs in zip(points, back_points):
                assert numpy.array_equal(ours.view(numpy.uint64), theirs.view(numpy.uint64))
            if kind == "ms":
                assert (extra is None) == (back_extra is None)
                for ours, theirs in zip(extra or (), back_extra or ()):
                    assert numpy.array_equal(ours.view(numpy.uint64), theirs.view(numpy.uint64))
            else:
                assert back_extra == extra


@pytest.mark.parametrize("name", ALL_RUNS)
def test_a_run_goes_to_valid_mzml_and_comes_back_whole(converted_runs, tmp_path, schema, name):
    source = converted_runs(name)
    target = exported(source, tmp_path / "run.mzML")
    assert schema.validate(etree.parse(str(target))), schema.error_log.last_error
    before = stored_items(source)
    spectra, chromatograms = pyteomics_arrays(target)
    ours_spectra, ours_chromatograms = ours_in_file_order(before[0])
    check_arrays(spectra, ours_spectra, 64, False)
    check_arrays(chromatograms, ours_chromatograms, 64, False)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        convert(target, tmp_path / "back.ozra")
    check_round_trip(before, stored_items(tmp_path / "back.ozra"))


#: Profile and centroid MS with precursors, MS with DAD absorbances below zero, quantitative traces, a
#: vendor run with both representations per scan, one with an analog detector.
@pytest.mark.parametrize("name", ["small.mzML", "uv_test_mini.mzML.gz", "wk_chrom.mzML.gz", "copper.D",
                                  "orange.D"])
@pytest.mark.parametrize("options", [{"precision": 32, "compression": "none"}, {"numpress": True}],
                         ids=["32-bit", "numpress"])
def test_narrow_and_numpress_arrays_stay_within_their_error(converted_runs, tmp_path, schema, name, options):
    if options.get("numpress"):
        pytest.importorskip("pynumpress")
    target = exported(converted_runs(name), tmp_path / "run.mzML.gz", **options)
    with gzip.open(target) as file:
        assert schema.validate(etree.parse(file)), schema.error_log.last_error
    spectra, chromatograms = pyteomics_arrays(target)
    ours_spectra, ours_chromatograms = ours_in_file_order(stored_items(converted_runs(name))[0])
    check_arrays(spectra, ours_spectra, options.get("precision", 64), options.get("numpress", False))
    check_arrays(chromatograms, ours_chromatograms, options.get("precision", 64), options.get("numpress", False))


@pytest.mark.parametrize("options, message", [({"compression": "zstd"}, "compression is 'zlib' or 'none'"),
                                              ({"precision": 16}, "precision is 32 or 64")])
def test_unknown_options_are_refused(options, message):
    with pytest.raises(ExportError, match=message):
        MzmlOptions(**options)
