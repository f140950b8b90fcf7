"""DADAnalysis, DADSpectrum and their chromatograms over files written by the writer."""

import math

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from dad_oracles import assert_close, max_plot_oracle, spectrum_and_window, window_mean_oracle
from dad_stand_ins import values
from ozra_data_access.access import OzraFile
from ozra_data_access.common import ValueRange
from ozra_data_access.qual import DADSpectrum
from ozra_data_access.writer import FunctionData, SpectrumData

# How the points are stored: x from the function's wavelength array or with each spectrum,
# raw, zstd or zstd-shuffle, float32 or float64 intensities.
STORAGE = [pytest.param(with_array, encoding, width, id=f"{'array' if with_array else 'x'}-{encoding}-f{8 * width}")
           for with_array in (True, False) for encoding in ("raw", "zstd", "zstd-shuffle") for width in (4, 8)]


def dad_function(x, y, retention_times, with_array, **storage):
    """One DAD function whose spectra all have the points (x, y)."""
    points = dict(intensity=y) if with_array else dict(x=x, intensity=y)
    spectra = [SpectrumData(retention_time=rt, **points) for rt in retention_times]
    return FunctionData.dad(spectra, wavelengths=x if with_array else None, **storage)


def dad_analyses(path):
    f = OzraFile(path)
    m = f.get_measurement(0)
    return f, [m.get_dad_analysis(i) for i in range(m.get_dad_analysis_count())]


def wavelength_array(analysis):
    function_description = analysis._DADAnalysis__function_index._FunctionIndex__function_description
    return function_description._FunctionDescription__qual_description._QualDescription__wavelength_arr


@pytest.mark.parametrize("with_array, encoding, width", STORAGE)
@settings(max_examples=25, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(cases=st.lists(spectrum_and_window(), min_size=1, max_size=5),
       tolerance=st.sampled_from([0.0, 0.25, 1.3, 40.0]))
def test_chromatograms_of_written_spectra_match_the_oracles(write_ozra, with_array, encoding, width, cases,
                                                            tolerance):
    # One function per drawn spectrum; its second spectrum has no retention time and gives no point.
    functions = [dad_function(x, y, [2.5, None], with_array, point_encoding=encoding, intensity_width=width)
                 for x, y, _, _ in cases]
    f, analyses = dad_analyses(write_ozra(functions))
    with f:
        for analysis, (x, y, low, high) in zip(analyses, cases):
            stored = y.astype(np.float32 if width == 4 else np.float64).astype(float)
            window = ValueRange(low, high)

            [(index, rt, intensity, wavelength)] = values(analysis.get_chromatogram(window))
            expected_intensity, expected_wavelength = window_mean_oracle(x, stored, low, high)
            assert (index, rt) == (0, 2.5)
            assert (type(intensity), type(wavelength)) == (float, float)
            assert_close(intensity, expected_intensity, stored)
            assert wavelength == expected_wavelength

            [(index, rt, intensity, wavelength)] = values(analysis.get_max_plot(window, tolerance))
            expected_intensity, expected_wavelength = max_plot_oracle(x, stored, low, high, tolerance)
            assert (index, rt) == (0, 2.5)
            assert_close(intensity, expected_intensity, stored)
            assert wavelength == expected_wavelength
            if expected_wavelength == -1:
                assert (type(intensity), type(wavelength)) == (int, int)


@pytest.mark.parametrize("with_array", [True, False])
def test_spectrum_points_are_read_once_with_the_functions_wavelengths(write_ozra, with_array):
    x, y = [200.0, 210.0, 230.0], [0.5, 2.0, 1.0]
    f, [analysis] = dad_analyses(write_ozra(dad_function(x, y, [1.0, None], with_array)))
    with f:
        spectrum = analysis.get_spectrum(1)
        assert type(spectrum) is DADSpectrum and (spectrum.index, spectrum.retention_time) == (1, None)
        if with_array:
            assert spectrum._DADSpectrum__wavelength_arr is wavelength_array(analysis)
        else:
            assert wavelength_array(analysis) is None and spectrum._DADSpectrum__wavelength_arr is None
        assert spectrum._DADSpectrum__spectrum_points is None
        assert str(spectrum) == repr(spectrum) == "[1] 3 points"
        points = spectrum.get_spectrum_points()
        assert points is spectrum.get_spectrum_points() is spectrum._DADSpectrum__spectrum_points
        assert [(p.x, p.intensity) for p in points] == list(zip(x, y))
        assert analysis.get_spectrum(1)._DADSpectrum__spectrum_points is None


def test_after_close_only_held_data_answers(write_ozra):
    path = write_ozra(dad_function([200.0, 210.0], [1.0, 3.0], [1.0, None, 4.0], True,
                                   supplemental_properties={"lamp": "D2"}))
    f, [analysis] = dad_analyses(path)
    cached = analysis.get_spectrum(0)
    cached.get_spectrum_points()
    unread = analysis.get_spectrum(2)
    f.close()

    assert str(analysis) == "[0] 3 spectra" and analysis.supplemental_properties == {"lamp": "D2"}
    assert analysis.find_nearest_spectrum(3.0).index == 2 and unread.retention_time == 4.0
    assert [(p.x, p.intensity) for p in cached.get_spectrum_points()] == [(200.0, 1.0), (210.0, 3.0)]
    for read in (unread.get_spectrum_points, lambda: str(unread),
                 lambda: analysis.get_chromatogram(ValueRange(0.0, 1e3)),
                 lambda: analysis.get_max_plot(ValueRange(0.0, 1e3), 1.0)):
        with pytest.raises(ValueError, match="closed file"):
            read()
    assert unread._DADSpectrum__spectrum_points is None


@pytest.mark.parametrize("with_array", [True, False])
def test_empty_functions_and_spectra(write_ozra, with_array):
    empty_function = dad_function([], [], [], with_array)
    empty_spectrum = dad_function([], [], [1.5], with_array)
    f, [no_spectra, no_points] = dad_analyses(write_ozra([empty_function, empty_spectrum]))
    with f:
        window = ValueRange(0.0, 1e3)
        assert str(no_spectra) == "[0] 0 spectra"
        assert no_spectra.get_chromatogram(window) == [] and no_spectra.get_max_plot(window, 1.0) == []
        for search in (lambda: no_spectra.get_spectrum(0), lambda: no_spectra.find_nearest_spectrum(1.0)):
            with pytest.raises(Exception, match="^Index out of range$"):
                search()
        chromatogram, = values(no_points.get_chromatogram(window))
        max_plot, = values(no_points.get_max_plot(window, 1.0))
        assert [(v, type(v)) for v in chromatogram[2:] + max_plot[2:]] == [
            (0.0, float), (-1.0, float), (0, int), (-1, int)]
        assert str(no_points.get_spectrum(0)) == "[0] 0 points"


def test_nearest_spectrum_and_text_over_a_file(write_ozra):
    f, [analysis] = dad_analyses(write_ozra(dad_function([200.0], [1.0], [None, 1.0, 3.0, 3.0], True)))
    with f:
        assert str(analysis) == repr(analysis) == "[0] 4 spectra"
        assert [analysis.find_nearest_spectrum(rt).index for rt in (-5.0, 2.0, 2.9, 99)] == [1, 1, 2, 2]
        for target in (math.inf, math.nan):
            with pytest.raises(Exception, match="^Index out of range$"):
                analysis.find_nearest_spectrum(target)
