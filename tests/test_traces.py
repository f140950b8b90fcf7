"""Traces of quantitative and analog analyses, read back through the public classes.

Every chromatogram of every shared mzML file is either a trace equal to what pyteomics reads,
or named in the report as rebuilt from the spectra; files holding only chromatograms keep
every point.
"""

import gzip

import numpy as np
import pytest

import mzml_synthetic as syn
from shared_data import DATA, MZML_FILES
from ozra_data_access._internal._enum import TripleQScanTypes
from ozra_data_access.access import OzraFile
from ozra_data_access.common import ValueRange
from ozra_data_access.convert import convert
from ozra_data_access.arrays import spectrum_view

mzml = pytest.importorskip("pyteomics.mzml")


def all_traces(path):
    """Every trace of the file's first measurement: (analysis kind, trace, points as an array)."""
    with OzraFile(str(path)) as ozra_file:
        measurement = ozra_file.get_measurement(0)
        found = []
        for kind, count, get in (("quan", measurement.get_quan_analysis_count(), measurement.get_quan_analysis),
                                 ("analog", measurement.get_analog_analysis_count(),
                                  measurement.get_analog_analysis)):
            for index in range(count):
                analysis = get(index)
                assert analysis.get_trace_count() == len(analysis.traces)
                for trace in analysis.traces:
                    points = spectrum_view(trace.get_points())
                    np.testing.assert_array_equal(trace.retention_times, points["x"])
                    np.testing.assert_array_equal(trace.intensities, points["intensity"])
                    found.append((kind, trace, points))
        return found


@pytest.mark.skipif(not MZML_FILES, reason="the shared mzML files are not on this machine")
@pytest.mark.parametrize("name", MZML_FILES)
def test_every_chromatogram_is_a_trace_equal_to_pyteomics_or_rebuilt_from_spectra(tmp_path, name):
    report = convert(DATA / name, tmp_path / "out.ozra")
    stored = {trace.supplemental_properties["NativeId"]: (kind, trace, points)
              for kind, trace, points in all_traces(tmp_path / "out.ozra")}
    rebuilt = {what for what, reason in report.not_stored if reason.endswith("rebuilt from the spectra")}
    source = gzip.open(DATA / name) if name.endswith(".gz") else open(DATA / name, "rb")
    with source, mzml.read(source) as reader:
        chromatograms = list(reader.iterfind("chromatogram"))
    for chromatogram in chromatograms:
        if f"chromatogram {chromatogram['id']!r}" in rebuilt:
            assert chromatogram["id"] not in stored
            continue
        kind, trace, points = stored.pop(chromatogram["id"])
        np.testing.assert_array_equal(points["x"], chromatogram["time array"])  # all in minutes
        np.testing.assert_array_equal(points["intensity"], chromatogram["intensity array"])
        if "selected reaction monitoring chromatogram" in chromatogram:
            precursor = chromatogram["precursor"][0]["isolationWindow"]["isolation window target m/z"]
            product = chromatogram["product"][0]["isolationWindow"]["isolation window target m/z"]
            (triple_q,) = trace.condition.additional_conditions
            assert (kind, trace.condition.ms_level, trace.condition.precursor_value) == ("quan", 2, precursor)
            assert (triple_q.precursor_ion_mz, triple_q.q3_range) == (precursor, ValueRange(product, product))
            assert trace.label == str(trace.condition)
    assert not stored


def chromatogram_only_file(path, chromatogram_xml):
    return syn.write_mzml(path, [], [chromatogram_xml])


PRESSURE_ARRAY = ("MS:1000821", "pressure array")


@pytest.mark.parametrize("params, y_kind, unit, expected", [
    ([("MS:1000812", "absorption chromatogram")], syn.INTENSITY, ("UO:0000269", "absorbance unit"),
     ("analog", "absorption", "absorbance unit", "UV 254")),
    ([("MS:1003019", "pressure chromatogram")], PRESSURE_ARRAY, ("UO:0000110", "pascal"),
     ("analog", "pressure", "pascal", "UV 254")),
    ([("MS:1000235", "total ion current chromatogram")], syn.INTENSITY, None, ("quan", "MS", None, "UV 254")),
])
def test_a_file_of_chromatograms_only_keeps_every_point(tmp_path, params, y_kind, unit, expected):
    time = np.linspace(-0.05, 3.0, 301)  # a time axis may start before the injection
    values = np.sin(time) * 1e3
    xml = ('<chromatogram index="0" id="UV 254" defaultArrayLength="301">' + syn.cv_params(params)
           + '<binaryDataArrayList count="2">' + syn.binary_array(syn.TIME, time, unit=syn.MINUTE)
           + syn.binary_array(y_kind, values, unit=unit) + "</binaryDataArrayList></chromatogram>")
    source = chromatogram_only_file(tmp_path / "only.mzML", xml)
    report = convert(source, tmp_path / "only.ozra")
    assert report.not_stored == []
    ((kind, trace, points),) = all_traces(tmp_path / "only.ozra")
    np.testing.assert_array_equal(points["x"], time)
    np.testing.assert_array_equal(points["intensity"], values)
    assert (kind, trace.detector_type, trace.unit, trace.label) == expected


def test_srm_traces_sharing_a_reaction_share_one_stored_condition(tmp_path):
    srm = [("MS:1001473", "selected reaction monitoring chromatogram")]
    chromatograms = [syn.chromatogram(i, f"SRM {i}", [0.0, 1.0], [1.0, 2.0], srm,
                                      syn.precursor(300.0, collision_energy=20.0), product_mz=product)
                     for i, product in enumerate([150.0, 120.0, 150.0])]
    convert(syn.write_mzml(tmp_path / "srm.mzML", [], chromatograms), tmp_path / "srm.ozra")
    with OzraFile(str(tmp_path / "srm.ozra")) as ozra_file:
        quan = ozra_file.get_measurement(0).get_quan_analysis(0)
        conditions = quan.supplemental_properties["AcquisitionConditions"]
        traces = quan.traces
        assert len(conditions) == 2 and traces[0].condition == traces[2].condition != traces[1].condition
        triple_q = conditions[1]._InternalAcquisitionCondition__internal_acquisition_core_condition.\
            _InternalAcquisitionCoreCondition__triple_q_scan_condition
        assert triple_q._TripleQScanCondition__type == TripleQScanTypes.PRODUCT
        assert traces[1].condition.collision_energy == 20.0
        with pytest.raises(IndexError, match="trace index 3 is out of range: the analysis has 3 traces"):
            quan.get_trace(3)
        assert str(quan.get_trace(1)).startswith("[1] MS2, [Collision Energy] 20.0, [Precursor Value] 300.0; Product Ion Scan")
