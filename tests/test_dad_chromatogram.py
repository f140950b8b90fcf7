"""DADAnalysis.get_chromatogram and get_max_plot over stand-in spectra."""

from fractions import Fraction
from types import SimpleNamespace

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from dad_oracles import assert_close, max_plot_oracle, spectrum_and_window, window_mean_oracle
from dad_stand_ins import make_dad_analysis, values
from ozra_data_access.common import ValueRange

hypothesis_settings = settings(max_examples=300, deadline=None,
                               suppress_health_check=[HealthCheck.function_scoped_fixture])


# ---- get_chromatogram --------------------------------------------------------------

@hypothesis_settings
@given(case=spectrum_and_window())
def test_chromatogram_matches_the_interpolated_mean(monkeypatch, case):
    x, y, low, high = case
    analysis, _, _ = make_dad_analysis(monkeypatch, [(x, y)], [3.0])
    [(index, rt, intensity, wavelength)] = values(analysis.get_chromatogram(ValueRange(low, high)))
    expected_intensity, expected_wavelength = window_mean_oracle(x, y, low, high)
    assert (index, rt) == (0, 3.0)
    assert_close(intensity, expected_intensity, y)
    assert wavelength == expected_wavelength


@hypothesis_settings
@given(case=spectrum_and_window(), tolerance=st.sampled_from([0.0, 0.25, 0.5, 1.3, 40.0]))
def test_max_plot_matches_a_numpy_transcription(monkeypatch, case, tolerance):
    x, y, low, high = case
    analysis, _, _ = make_dad_analysis(monkeypatch, [(x, y)], [3.0])
    [(_, _, intensity, wavelength)] = values(analysis.get_max_plot(ValueRange(low, high), tolerance))
    expected_intensity, expected_wavelength = max_plot_oracle(x, y, low, high, tolerance)
    assert_close(intensity, expected_intensity, y)
    assert wavelength == expected_wavelength
    assert type(wavelength) is type(expected_wavelength) or expected_wavelength != -1


@hypothesis_settings
@given(case=spectrum_and_window(), tolerance=st.sampled_from([0.0, 0.5, 2.0]))
def test_point_records_give_what_the_points_buffer_gives(monkeypatch, case, tolerance):
    # A structured array has no per-point `x` attribute: it only works through the buffer.
    x, y, low, high = case
    results = []
    for as_buffer in (True, False):
        analysis, _, _ = make_dad_analysis(monkeypatch, [(x, y)], [3.0], as_buffer=as_buffer)
        window = ValueRange(low, high)
        results.append((values(analysis.get_chromatogram(window)),
                        values(analysis.get_max_plot(window, tolerance))))
    assert results[0] == results[1]


@pytest.mark.parametrize("x, y, window, expected", [
    # the window misses the spectrum, or there is nothing to cover
    ([1.0, 2.0], [3.0, 4.0], (0.0, 0.5), (0.0, -1.0)),
    ([1.0, 2.0], [3.0, 4.0], (2.5, 9.0), (0.0, -1.0)),
    ([], [], (0.0, 9.0), (0.0, -1.0)),
    # a one-point spectrum inside the window
    ([5.0], [7.0], (0.0, 9.0), (7.0, 5.0)),
    # a window starting exactly at the last point and reaching beyond it
    ([1.0, 2.0, 3.0], [1.0, 9.0, 4.0], (3.0, 8.0), (4.0, 3.0)),
    ([1.0, 2.0, 3.0, 3.0], [1.0, 9.0, 4.0, 6.0], (3.0, 8.0), (5.0, 3.0)),
    # every point at one wavelength, the window covering it
    ([2.0, 2.0, 2.0], [1.0, 2.0, 6.0], (1.0, 3.0), (3.0, 2.0)),
    ([2.0, 2.0], [1.0, 2.0], (2.0, 2.0), (1.5, 2.0)),
    # a window ending exactly at the first point
    ([1.0, 2.0, 3.0], [5.0, 9.0, 4.0], (0.0, 1.0), (5.0, 1.0)),
    ([1.0, 2.0, 3.0], [5.0, 9.0, 4.0], (1.0, 1.0), (5.0, 1.0)),
    # a window starting before the first point is averaged from the first point on
    ([1.0, 2.0, 3.0], [2.0, 4.0, 0.0], (-5.0, 2.0), (3.0, 2.0)),
    # inside one interval: rising, falling, flat
    ([1.0, 3.0], [0.0, 4.0], (1.5, 2.5), (2.0, 2.5)),
    ([1.0, 3.0], [4.0, 0.0], (1.5, 2.5), (2.0, 1.5)),
    ([1.0, 3.0], [2.0, 2.0], (1.5, 2.5), (2.0, 2.0)),
    # ending on the upper point of the interval it starts in
    ([1.0, 3.0, 5.0], [0.0, 4.0, 8.0], (2.0, 3.0), (3.0, 3.0)),
    # equal intensities: the lower wavelength wins
    ([1.0, 2.0, 3.0, 4.0], [0.0, 5.0, 5.0, 0.0], (0.0, 9.0), (10.0 / 3.0, 2.0)),
])
def test_chromatogram_edge_cases(monkeypatch, x, y, window, expected):
    analysis, _, _ = make_dad_analysis(monkeypatch, [(x, y)], [1.0])
    [(_, _, intensity, wavelength)] = values(analysis.get_chromatogram(ValueRange(*window)))
    assert (type(intensity), type(wavelength)) == (float, float)
    assert intensity == pytest.approx(expected[0], rel=1e-12)
    assert wavelength == expected[1]


# ---- get_max_plot -------------------------------------------------------------------

@pytest.mark.parametrize("x, y, window, tolerance, expected", [
    # equal maxima: the lower wavelength, averaged alone with tolerance 0
    ([1.0, 2.0, 3.0], [7.0, 7.0, 1.0], (1.0, 3.0), 0.0, (7.0, 1.0)),
    # higher points in the margins join the average but are never the maximum
    ([1.0, 2.0, 3.0, 4.0, 5.0], [100.0, 5.0, 1.0, 1.0, 100.0], (2.0, 4.0), 1.0, (106.0 / 3.0, 2.0)),
    # points only in the margins: integers 0 and -1
    ([1.0, 5.0], [3.0, 4.0], (2.0, 4.0), 1.0, (0, -1)),
    ([], [], (2.0, 4.0), 1.0, (0, -1)),
    # a negative tolerance leaves nothing to average: integer 0 at the maximum
    ([1.0, 2.0, 3.0], [1.0, 2.0, 1.0], (1.0, 3.0), -0.5, (0, 2.0)),
])
def test_max_plot_edge_cases(monkeypatch, x, y, window, tolerance, expected):
    analysis, _, _ = make_dad_analysis(monkeypatch, [(x, y)], [1.0])
    [(_, _, intensity, wavelength)] = values(analysis.get_max_plot(ValueRange(*window), tolerance))
    assert (intensity, wavelength) == pytest.approx(expected)
    assert (type(intensity), type(wavelength)) == tuple(type(v) for v in expected)


@pytest.mark.parametrize("as_buffer", [True, False])
def test_max_plot_reads_through_one_widened_extraction_record(monkeypatch, as_buffer):
    spectra = [([1.0, 2.0, 3.0], [1.0, 2.0, 3.0])] * 3
    analysis, reader, made = make_dad_analysis(monkeypatch, spectra, [1.0, None, 2.0], as_buffer=as_buffer)
    first = analysis.get_max_plot(ValueRange(1.5, 2.5), 0.25)
    second = analysis.get_max_plot(ValueRange(1.5, 2.5), 0.25)
    assert len(made) == 2
    assert made[0]._XicInfo__range == ValueRange(1.25, 2.75)
    assert first is made[0]._XicInfo__xic and second is made[1]._XicInfo__xic
    assert values(first) == [(0, 1.0, 2.0, 2.0), (2, 2.0, 2.0, 2.0)]
    reads = [call for call in reader.calls if call[0] != "confirm"][-4:]
    assert reads == [("set_buffer", 1000), ("read_dad_spectrum_for_multiple_xic", [200.0, 201.0]),
                     ("set_buffer", 1032), ("read_dad_spectrum_for_multiple_xic", [200.0, 201.0])]


def test_range_bounds_are_compared_as_numbers(monkeypatch):
    # float(1/3) lies below the fraction 1/3, so only an exact comparison skips that point.
    third = 1.0 / 3.0
    analysis, _, _ = make_dad_analysis(monkeypatch, [([third, 0.5], [9.0, 1.0])], [1.0])
    as_fraction = SimpleNamespace(min=Fraction(1, 3), max=1)
    as_float = SimpleNamespace(min=third, max=1)
    assert values(analysis.get_max_plot(as_fraction, 0.0)) == [(0, 1.0, 1.0, 0.5)]
    assert values(analysis.get_max_plot(as_float, 0.0)) == [(0, 1.0, 9.0, third)]
    assert values(analysis.get_max_plot(ValueRange(third, 1), 0.0)) == [(0, 1.0, 9.0, third)]


# ---- both methods -----------------------------------------------------------------

@pytest.mark.parametrize("wavelength_arr, plain_reads", [
    (None, {"read_spectrum", "read_spectrum_for_multiple_xic"}),
    ([190.0, 191.0], {"read_dad_spectrum", "read_dad_spectrum_for_multiple_xic"}),
])
def test_spectra_without_retention_time_are_left_out(monkeypatch, wavelength_arr, plain_reads):
    spectra = [([1.0, 2.0], [1.0, 3.0])] * 4
    analysis, reader, _ = make_dad_analysis(monkeypatch, spectra, [None, 1.5, None, 2.5],
                                            wavelength_arr=wavelength_arr)
    window = ValueRange(0.0, 9.0)
    assert values(analysis.get_chromatogram(window)) == [(1, 1.5, 2.0, 2.0), (3, 2.5, 2.0, 2.0)]
    assert values(analysis.get_max_plot(window, 0.0)) == [(1, 1.5, 3.0, 2.0), (3, 2.5, 3.0, 2.0)]
    reads = [call for call in reader.calls if call[0].startswith("read")]
    assert {call[0] for call in reads} == plain_reads and len(reads) == 4
    assert all(call[1] is wavelength_arr for call in reads if len(call) > 1)


def test_an_analysis_without_timed_spectra_gives_empty_lists(monkeypatch):
    analysis, _, _ = make_dad_analysis(monkeypatch, [([1.0], [1.0])], [None])
    no_bounds = object()
    assert analysis.get_chromatogram(no_bounds) == []
    with pytest.raises(AttributeError):
        analysis.get_max_plot(no_bounds, 0.0)
    with pytest.raises(TypeError):
        analysis.get_max_plot(ValueRange(1.0, 2.0), "wide")
