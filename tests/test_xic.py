"""QualAnalysis.get_xic and get_multiple_xic over the stand-in storage layer.

Every behaviour test runs twice: over points offered as a buffer (the native
sweep) and over a list of records (the generic scan).
"""

from fractions import Fraction
from types import SimpleNamespace

import pytest

from ozra_data_access import qual
from ozra_data_access._internal._description import InternalSpectrumDescription
from ozra_data_access.common import ValueRange
from qual_stand_ins import StoredSpectrum, buffer_points, condition_of, make_analysis, record_points, request_class

PEAKS = [(99.9, 1.0), (100.0, 5.0), (100.5, 9.0), (100.5, 9.0), (100.7, 9.0), (101.0, 2.0), (101.1, 7.0)]


@pytest.fixture(params=[buffer_points, record_points], ids=["buffer", "records"])
def points(request):
    return request.param


def request(condition, low, high, retention_time_range=None):
    return request_class()(condition, ValueRange(low, high), retention_time_range)


def values(chromatogram):
    return [(p.spectrum_index, p.retention_time, p.intensity, p.x) for p in chromatogram]


def run(retention_times, points, level_of=lambda k: 1, peaks=PEAKS, monkeypatch=None):
    spectra = [StoredSpectrum(rt, peaks, ms_level=level_of(k)) for k, rt in enumerate(retention_times)]
    return make_analysis(monkeypatch, spectra, points)


@pytest.mark.parametrize(
    "arguments, message",
    [
        ("get_xic(None)", "chromatogram_filter_option is null"),
        ("get_multiple_xic(None)", "chromatogram_filter_options is null or empty"),
        ("get_multiple_xic([])", "chromatogram_filter_options is null or empty"),
        ("get_multiple_xic(())", "chromatogram_filter_options is null or empty"),
        ("get_multiple_xic([None])", "element of chromatogram_filter_options should not be null"),
        ("get_multiple_xic([good, None])", "element of chromatogram_filter_options should not be null"),
        ("get_xic(no_condition)", "acquisition_condition should not be null"),
        ("get_multiple_xic([good, no_condition, None])", "acquisition_condition should not be null"),
        ("get_multiple_xic([good, None, no_condition])", "element of chromatogram_filter_options should not be null"),
    ],
)
def test_messages_in_order_of_checking(monkeypatch, points, arguments, message):
    analysis, reader = run([1.0, 2.0], points, monkeypatch=monkeypatch)
    scope = {"good": request(condition_of(analysis, 0), 100.0, 101.0),
             "no_condition": request(None, 100.0, 101.0)}
    with pytest.raises(Exception) as raised:
        eval("analysis." + arguments, {"analysis": analysis, **scope})
    assert type(raised.value) is Exception
    assert raised.value.args == (message,)
    assert reader.reads == []


@pytest.mark.parametrize(
    "low, high, expected_sum, expected_mz",
    [
        (100.0, 101.0, 34.0, 100.5),  # both edges count; the first of the tied 9s wins
        (100.5, 100.5, 18.0, 100.5),  # a window of one duplicated m/z
        (100.6, 100.9, 9.0, 100.7),
        (101.0, 200, 9.0, 101.1),  # an int bound
        (Fraction(1001, 10), Fraction(1007, 10), 18.0, 100.5),  # exact: the float 100.7 lies above 1007/10
        (102.0, 103.0, 0.0, 0.0),  # empty window: a point all the same
        (50.0, 60.0, 0.0, 0.0),
        (101.0, 100.0, 0.0, 0.0),  # min above max
        (float("-inf"), float("inf"), 42.0, 100.5),
    ],
)
def test_window_sum_and_base_peak(monkeypatch, points, low, high, expected_sum, expected_mz):
    analysis, _ = run([1.0], points, monkeypatch=monkeypatch)
    [point] = analysis.get_xic(request(condition_of(analysis, 0), low, high))
    assert (point.spectrum_index, point.retention_time) == (0, 1.0)
    assert (point.intensity, point.x) == (expected_sum, expected_mz)
    assert type(point.intensity) is float and type(point.x) is float


def test_conditions_and_unmatched_request(monkeypatch, points):
    analysis, reader = run([1.0, 2.0, 3.0, 4.0], points, level_of=lambda k: 1 + k % 2, monkeypatch=monkeypatch)
    ms1, ms2 = condition_of(analysis, 0), condition_of(analysis, 1)
    nowhere = qual.AcquisitionCondition(InternalSpectrumDescription(ms_level=3))
    # An equal but distinct condition object selects the same spectra.
    ms2_again = qual.AcquisitionCondition(InternalSpectrumDescription(ms_level=2))
    result = analysis.get_multiple_xic(
        [request(ms1, 100.0, 101.0), request(nowhere, 100.0, 101.0), request(ms2_again, 101.1, 102.0)])
    assert [[p.spectrum_index for p in chromatogram] for chromatogram in result] == [[0, 2], [], [1, 3]]
    assert [p.intensity for p in result[2]] == [7.0, 7.0]
    assert reader.reads == [0, 1, 2, 3]
    assert values(analysis.get_xic(request(ms2, 101.1, 102.0))) == values(result[2])


@pytest.mark.parametrize(
    "ranges, expected, read",
    [
        ([(1, 2), (5, 6)], [[1, 2], [5, 6]], [1, 2, 3, 4, 5, 6]),
        ([None, (5, 6)], [[0, 1, 2, 3, 4, 5, 6, 7], [5, 6]], list(range(8))),
        ([(5, 6), None], [[5, 6], [0, 1, 2, 3, 4, 5, 6, 7]], list(range(8))),
        ([(2, 3), (6.0, 1.0)], [[2, 3], []], [2, 3]),  # a reversed range widens nothing
    ],
)
def test_retention_time_ranges_per_request(monkeypatch, points, ranges, expected, read):
    retention_times = [0.5, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0]
    analysis, reader = run(retention_times + [None], points, monkeypatch=monkeypatch)
    condition = condition_of(analysis, 0)
    range_objects = [None if r is None else ValueRange(*r) for r in ranges]
    requests = [request(condition, 100.0, 101.0, r) for r in range_objects]
    result = analysis.get_multiple_xic(requests)
    assert [[p.retention_time for p in chromatogram] for chromatogram in result] == \
        [[retention_times[k] for k in ks] for ks in expected]
    for req, range_object, bounds in zip(requests, range_objects, ranges):
        assert req.retention_time_range is range_object
        assert bounds is None or (range_object.min, range_object.max) == bounds
    assert reader.reads == read  # only spectra inside the pre-filter, each once


def test_same_request_twice_and_many_requests_read_each_spectrum_once(monkeypatch, points):
    analysis, reader = run([1.0, None, 2.0, 3.0], points, level_of=lambda k: 2 if k == 3 else 1,
                           monkeypatch=monkeypatch)
    same = request(condition_of(analysis, 0), 100.0, 101.0)
    windows = [request(condition_of(analysis, 0), 99.0 + k / 10, 99.5 + k / 10) for k in range(30)]
    result = analysis.get_multiple_xic([same, *windows, same])
    assert values(result[0]) == values(result[-1]) == values(analysis.get_xic(same))
    assert len(result[0]) == 2
    # No retention time, or a condition no request asks for: never read.
    assert reader.reads == [0, 2, 0, 2]


def test_window_bounds_read_only_when_a_peak_is_compared(monkeypatch, points):
    analysis, _ = run([1.0], points, monkeypatch=monkeypatch)
    broken = request_class()(condition_of(analysis, 0), None)
    nowhere = qual.AcquisitionCondition(InternalSpectrumDescription(ms_level=3))
    assert analysis.get_xic(request_class()(nowhere, None)) == []
    # Nor the window itself: a request without one, that no spectrum uses, is served.
    assert analysis.get_xic(SimpleNamespace(acquisition_condition=nowhere, retention_time_range=None)) == []
    with pytest.raises(AttributeError):
        analysis.get_xic(broken)
    empty, _ = make_analysis(monkeypatch, [StoredSpectrum(1.0, [])], points)
    assert values(empty.get_xic(request_class()(condition_of(empty, 0), None))) == [(0, 1.0, 0.0, 0.0)]


class LevelOnly(qual.AcquisitionCondition):
    """Equal by MS level alone; its `!=` stays the base class's, field by field."""

    def __eq__(self, other):
        return isinstance(other, qual.AcquisitionCondition) and self.ms_level == other.ms_level

    def __hash__(self):
        return hash(self.ms_level)


class EqualToAllButNone:
    """A field value equal to every value but None, hashing like 1."""

    def __eq__(self, other):
        return other is not None

    def __ne__(self, other):
        return other is None

    def __hash__(self):
        return 1


def level_only_conditions(monkeypatch):
    monkeypatch.setattr(qual, "AcquisitionCondition", LevelOnly)
    spectra = [StoredSpectrum(1.0, PEAKS, collision_energy=10.0)]
    return spectra, [LevelOnly(InternalSpectrumDescription(ms_level=1, collision_energy=energy))
                     for energy in (10.0, 20.0)]


def field_equal_to_all_conditions(monkeypatch):
    # 2**61 hashes like 1 and differs from it; the odd field makes the first condition equal to both.
    spectra = [StoredSpectrum(1.0, PEAKS, ms_level=2**61)]
    return spectra, [qual.AcquisitionCondition(InternalSpectrumDescription(ms_level=level))
                     for level in (EqualToAllButNone(), 1)]


@pytest.mark.parametrize(
    "make, order, expected",
    [
        (level_only_conditions, [0, 1], [[0], []]),
        (level_only_conditions, [1, 0], [[], [0]]),
        (field_equal_to_all_conditions, [0, 1], [[0], []]),
        (field_equal_to_all_conditions, [1, 0], [[], []]),  # the set keeps level 1, unequal to the spectrum's
    ],
)
def test_equal_conditions_that_differ_against_the_spectrum(monkeypatch, points, make, order, expected):
    spectra, conditions = make(monkeypatch)
    analysis, _ = make_analysis(monkeypatch, spectra, points)
    result = analysis.get_multiple_xic([request(conditions[k], 100.0, 101.0) for k in order])
    assert [[p.spectrum_index for p in chromatogram] for chromatogram in result] == expected


class RaisingRange:
    min, max = 0.0, 10.0

    def contains_value(self, value):
        raise ValueError("contains_value")


@pytest.mark.parametrize("raising_first, error", [("window", TypeError), ("range", ValueError)])
def test_errors_surface_in_request_order(monkeypatch, points, raising_first, error):
    analysis, _ = run([1.0], points, monkeypatch=monkeypatch)
    condition = condition_of(analysis, 0)
    bad_window = request_class()(condition, SimpleNamespace(min=object(), max=101.0))  # '<' raises TypeError
    bad_range = request_class()(condition, ValueRange(100.0, 101.0), RaisingRange())
    requests = [bad_window, bad_range] if raising_first == "window" else [bad_range, bad_window]
    with pytest.raises(error):
        analysis.get_multiple_xic(requests)
