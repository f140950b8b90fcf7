"""The walk from a written file to every kind of analysis, with the real storage layer."""

import gc

import pytest

from conftest import spectrum
from ozra_data_access.access import Measurement, OzraFile
from ozra_data_access.exception import OzraException
from ozra_data_access.qual import DADAnalysis, QualAnalysis
from ozra_data_access.quan import AnalogAnalysis, QuanAnalysis
from ozra_data_access.writer import FunctionData, MeasurementData


@pytest.fixture
def four_kinds(write_ozra):
    functions = [
        FunctionData.qual_ms([spectrum(1.0)]),
        FunctionData.quan([spectrum(None, [(0.5, 2.0)])]),
        FunctionData.dad([spectrum(1.0, [(250.0, 0.1), (260.0, 0.3)])]),
        FunctionData.qual_ms([spectrum(2.0), spectrum(3.0)]),
        FunctionData.analog([spectrum(None, [(0.0, 1.0)])]),
    ]
    measurements = [
        MeasurementData(functions, sample_name="S1", sample_id="A7", dilution_factor=2,
                        measurement_date_time="2026-12-08T10:00:00", supplemental_properties={"k": [1, 2.5]}),
        MeasurementData([], sample_name="", sample_id=None),
    ]
    return write_ozra(measurements, converter_version=(2, 0, 13))


def test_versions_counts_and_text(four_kinds):
    with OzraFile(four_kinds) as f:
        assert f.get_file_format_version() == "1.0.0"
        assert f.get_converter_version() == "2.0.13"
        assert f.get_measurement_count() == 2
        m = f.get_measurement(0)
        assert str(m) == repr(m) == "[Sample Name] S1, [Sample ID] A7, [#Qual] 2, [#Quan] 1, [#DAD] 1, [#Analog] 1"
        assert str(f.get_measurement(1)) == "[#Qual] 0, [#Quan] 0, [#DAD] 0, [#Analog] 0"
        with pytest.raises(OzraException, match="^Index out of range$"):
            f.get_measurement(2)


def test_functions_sorted_into_four_kinds(four_kinds):
    with OzraFile(four_kinds) as f:
        m = f.get_measurement(0)
        second_ms = m.get_qual_analysis(1)
        assert isinstance(second_ms, QualAnalysis) and second_ms.get_spectra_count() == 2
        assert second_ms.index == 1
        assert isinstance(m.get_dad_analysis(0), DADAnalysis)
        assert isinstance(m.get_quan_analysis(0), QuanAnalysis)
        assert isinstance(m.get_analog_analysis(0), AnalogAnalysis)
        assert m.get_dad_analysis(0) is not m.get_dad_analysis(0)
        for getter in (m.get_qual_analysis, m.get_dad_analysis, m.get_quan_analysis, m.get_analog_analysis):
            with pytest.raises(Exception, match="^Index out of range$"):
                getter(5)


def test_description_fields_as_stored(four_kinds):
    with OzraFile(four_kinds) as f:
        m = f.get_measurement(0)
        assert m.dilution_factor == 2 and type(m.dilution_factor) is int
        assert m.measurement_date_time == "2026-12-08T10:00:00"
        assert m.supplemental_properties == {"k": [1, 2.5]}
        assert m.supplemental_properties is m.supplemental_properties
        assert m.plate_code is None


def test_destroyed_file_object_closes_the_stream(four_kinds):
    m = OzraFile(four_kinds).get_measurement(0)
    gc.collect()
    assert m.get_qual_analysis_count() == 2 and str(m).startswith("[Sample Name] S1")
    with pytest.raises(ValueError, match="I/O operation on closed file"):
        m.get_qual_analysis(0)
    assert isinstance(m, Measurement)
