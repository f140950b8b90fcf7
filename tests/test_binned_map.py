"""get_binned_map of MS and DAD analyses against the same grid computed with numpy from each spectrum's points."""

import numpy as np
import pytest

from ozra_data_access.access import OzraFile
from ozra_data_access.arrays import spectrum_arrays
from ozra_data_access.common import ValueRange
from ozra_data_access.samples import write_sample


@pytest.fixture(scope="module")
def measurement(tmp_path_factory):
    path = write_sample(tmp_path_factory.mktemp("binned") / "run.ozra", scans=90, points_per_spectrum=60,
                        dad_spectra=40, wavelengths=50, compounds=6, traces=False)
    with OzraFile(path) as ozra_file:
        yield ozra_file.get_measurement(0)


def expected_grid(spectra, time_edges, x_edges, aggregate):
    """Each point placed by searchsorted on the returned edges (the last bin closed at both ends)."""
    grid = np.full((len(time_edges) - 1, len(x_edges) - 1), np.nan if aggregate == "max" else 0.0)
    for spectrum in spectra:
        rt = spectrum.retention_time
        if not time_edges[0] <= rt <= time_edges[-1]:
            continue
        row = min(np.searchsorted(time_edges, rt, side="right") - 1, len(time_edges) - 2)
        x, intensity = spectrum_arrays(spectrum.get_spectrum_points())
        inside = (x >= x_edges[0]) & (x <= x_edges[-1])
        columns = np.minimum(np.searchsorted(x_edges, x[inside], side="right") - 1, len(x_edges) - 2)
        if aggregate == "sum":
            np.add.at(grid[row], columns, intensity[inside])
        else:
            filled = np.where(np.isnan(grid[row]), -np.inf, grid[row])
            np.maximum.at(filled, columns, intensity[inside])
            grid[row] = np.where(np.isinf(filled) & (filled < 0), np.nan, filled)
    return grid


def ms_spectra(analysis, condition):
    spectra = (analysis.get_spectrum(i) for i in range(analysis.get_spectra_count()))
    return [s for s in spectra if s.acquisition_condition == condition]


@pytest.mark.parametrize("aggregate", ["max", "sum"])
@pytest.mark.parametrize("windows", [{}, {"retention_time_range": ValueRange(3.0, 12.5), "x_range": ValueRange(150.0, 420.0)}])
def test_ms_map_equals_numpy_binning(measurement, aggregate, windows):
    analysis = measurement.get_qual_analysis(0)
    condition = analysis.unique_acquisition_conditions[0]
    result = analysis.get_binned_map(condition, 17, 23, aggregate=aggregate, **windows)
    spectra = ms_spectra(analysis, condition)
    assert result.values.shape == (17, 23)
    if not windows:  # the default window is the selected points' own extent
        points = np.concatenate([spectrum_arrays(s.get_spectrum_points())[0] for s in spectra])
        assert (result.x_edges[0], result.x_edges[-1]) == (points.min(), points.max())
        assert (result.time_edges[0], result.time_edges[-1]) == (spectra[0].retention_time, spectra[-1].retention_time)
    expected = expected_grid(spectra, result.time_edges, result.x_edges, aggregate)
    np.testing.assert_allclose(result.values, expected, rtol=1e-12, equal_nan=True)
    assert result.spectrum_count.sum() == sum(result.time_edges[0] <= s.retention_time <= result.time_edges[-1]
                                              for s in spectra)


@pytest.mark.parametrize("aggregate", ["max", "sum"])
def test_dad_map_equals_numpy_binning(measurement, aggregate):
    analysis = measurement.get_dad_analysis(0)
    result = analysis.get_binned_map(11, 9, wavelength_range=ValueRange(250.0, 450.0), aggregate=aggregate)
    spectra = [analysis.get_spectrum(i) for i in range(analysis.get_spectra_count())]
    expected = expected_grid(spectra, result.time_edges, result.x_edges, aggregate)
    np.testing.assert_allclose(result.values, expected, rtol=1e-12, equal_nan=True)
    assert not np.isnan(result.values).any()


def test_every_condition_when_none_is_given(measurement):
    analysis = measurement.get_qual_analysis(0)
    whole = analysis.get_binned_map(None, 5, 5, x_range=ValueRange(0.0, 5000.0), aggregate="sum")
    parts = [analysis.get_binned_map(c, 5, 5, retention_time_range=ValueRange(*whole.time_edges[[0, -1]]),
                                     x_range=ValueRange(0.0, 5000.0), aggregate="sum")
             for c in analysis.unique_acquisition_conditions]
    np.testing.assert_allclose(whole.values, sum(p.values for p in parts), rtol=1e-12)
    assert whole.spectrum_count.sum() == analysis.get_spectra_count()


@pytest.mark.parametrize("arguments, message", [
    ({"time_bins": 0}, "time_bins must be at least 1"),
    ({"x_bins": -3}, "x_bins must be at least 1"),
    ({"retention_time_range": ValueRange(5.0, 2.0)}, "retention_time_range must have finite ends"),
    ({"x_range": ValueRange(100.0, float("inf"))}, "x_range must have finite ends"),
    ({"aggregate": "mean"}, "aggregate must be 'max' or 'sum'"),
    ({"time_bins": 100_000, "x_bins": 100_000}, "exceed the"),
])
def test_refused_requests_name_what_is_wrong(measurement, arguments, message):
    analysis = measurement.get_qual_analysis(0)
    call = {"time_bins": 4, "x_bins": 4, **arguments}
    with pytest.raises(ValueError, match=message):
        analysis.get_binned_map(analysis.unique_acquisition_conditions[0], **call)


@pytest.mark.parametrize("aggregate, expected", [("max", [np.nan, np.nan, 5.0]), ("sum", [0.0, 0.0, 7.0])])
def test_nan_and_minus_infinity_intensities_are_passed_over(write_ozra, aggregate, expected):
    from conftest import spectrum
    from ozra_data_access.writer import FunctionData

    points = [(100.0, float("nan")), (200.0, float("-inf")), (300.0, 5.0), (300.0, 2.0)]
    path = write_ozra(FunctionData.qual_ms([spectrum(1.0, points)]))
    with OzraFile(path) as ozra_file:
        analysis = ozra_file.get_measurement(0).get_qual_analysis(0)
        result = analysis.get_binned_map(None, 1, 3, x_range=ValueRange(50.0, 350.0), aggregate=aggregate)
    np.testing.assert_array_equal(result.values[0], expected)
    assert result.spectrum_count.tolist() == [1]
