"""QualAnalysis.get_xic_matrix against get_multiple_xic: every row holds exactly the
intensities, retention times and spectrum indices of the request's point list, on files
written by the writer and on stand-ins (points as a buffer and as plain records, which
take the interpreter's comparisons), with float, int and numpy bounds."""

import tempfile

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from ozra_data_access import qual
from ozra_data_access._internal._description import InternalSpectrumDescription
from ozra_data_access.access import OzraFile
from ozra_data_access.common import ValueRange
from ozra_data_access.writer import FunctionData, MeasurementData, write_file
from qual_stand_ins import make_analysis, record_points, buffer_points, request_class
from test_xic_oracle import (STORED_CONDITIONS, file_spectrum, request_spec, requests_for, stand_in_spectrum,
                             written_spectrum)

NOWHERE = InternalSpectrumDescription(ms_level=4)


def with_numpy_bounds(requests):
    return [request_class()(r.acquisition_condition, ValueRange(np.float64(r.extract_mz_range.min),
                                                                np.float64(r.extract_mz_range.max)),
                            r.retention_time_range) for r in requests]


def assert_matrix_equals_lists(analysis, requests):
    lists = analysis.get_multiple_xic(requests)
    matrix = analysis.get_xic_matrix(requests)
    assert matrix.intensity.shape == matrix.shape == (len(requests), len(matrix.retention_time))
    assert np.asarray(matrix) is matrix.intensity and np.array(matrix).tobytes() == matrix.intensity.tobytes()
    for row, points in zip(matrix.intensity, lists):
        used = ~np.isnan(row)
        assert matrix.spectrum_index[used].tolist() == [p.spectrum_index for p in points]
        assert matrix.retention_time[used].tobytes() == np.array([p.retention_time for p in points], float).tobytes()
        assert row[used].tobytes() == np.array([p.intensity for p in points], float).tobytes()


@settings(max_examples=100, deadline=None)
@given(spectra=st.lists(file_spectrum, max_size=10), specs=st.lists(request_spec, min_size=1, max_size=8),
       stored_list=st.booleans(), numpy_bounds=st.booleans())
def test_files(spectra, specs, stored_list, numpy_bounds):
    function = FunctionData.qual_ms([written_spectrum(*s, stored_list) for s in spectra],
                                    acquisition_conditions=STORED_CONDITIONS if stored_list else None)
    with tempfile.TemporaryDirectory() as directory:
        path = write_file(f"{directory}/matrix.ozra", [MeasurementData(functions=[function])], point_encoding="raw")
        with OzraFile(str(path)) as ozra_file:
            analysis = ozra_file.get_measurement(0).get_qual_analysis(0)
            requests = requests_for(analysis, specs, qual.AcquisitionCondition(NOWHERE))
            assert_matrix_equals_lists(analysis, with_numpy_bounds(requests) if numpy_bounds else requests)


@pytest.mark.parametrize("points", [buffer_points, record_points], ids=["buffer", "records"])
@settings(max_examples=100, deadline=None)
@given(spectra=st.lists(stand_in_spectrum, max_size=10), specs=st.lists(request_spec, min_size=1, max_size=8))
def test_stand_ins(points, spectra, specs):
    with pytest.MonkeyPatch.context() as monkeypatch:
        analysis, _ = make_analysis(monkeypatch, spectra, points)
        requests = requests_for(analysis, specs, qual.AcquisitionCondition(NOWHERE))
        assert_matrix_equals_lists(analysis, requests)


@pytest.mark.parametrize("options", [None, [], [None]], ids=["none", "empty", "null element"])
def test_refusals_are_those_of_the_point_lists(options):
    with pytest.MonkeyPatch.context() as monkeypatch:
        analysis, _ = make_analysis(monkeypatch, [])
    with pytest.raises(Exception) as listed:
        analysis.get_multiple_xic(options)
    with pytest.raises(type(listed.value), match=f"^{listed.value}$"):
        analysis.get_xic_matrix(options)
