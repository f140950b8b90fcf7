"""ValueRange and SpectrumBasedChromatogramPoint, the value types callers receive."""

import gc
import math
from decimal import Decimal

import pytest

from ozra_data_access.common import SpectrumBasedChromatogramPoint, ValueRange


@pytest.mark.parametrize(
    "low, high, value, inside",
    [(1, 2.5, 1, True), (1, 2.5, 2.5, True), (1, 2.5, 0.999, False), (1.0, 1.0, 1, True), (0.0, 1.0, math.nan, False)],
)
def test_contains_value_is_closed_at_both_ends(low, high, value, inside):
    assert ValueRange(low, high).contains_value(value) is inside


def test_text_equality_and_hash():
    assert str(ValueRange(100.0, 1000)) == "100.0-1000"
    assert ValueRange(1, 2) == ValueRange(1.0, 2.0) and hash(ValueRange(1, 2)) == hash(ValueRange(1.0, 2.0))
    assert ValueRange(1, 2) != ValueRange(1, 3) and ValueRange(1, 2) != (1, 2)
    assert {ValueRange(1, 2): "a"}[ValueRange(1.0, 2.0)] == "a"


@pytest.mark.parametrize("bounds", [("1", 2), (1, None), (1j, 2)])
def test_bounds_must_be_real_numbers(bounds):
    with pytest.raises(TypeError, match="real numbers"):
        ValueRange(*bounds)


@pytest.mark.parametrize("bounds, named", [((math.nan, 301.1), "min"), ((300.0, math.nan), "max"),
                                           ((Decimal("NaN"), 301), "min"), ((math.nan, math.nan), "min")])
def test_a_nan_bound_is_refused_by_name(bounds, named):
    """NaN compares false with everything: as a window it would take in every point on one side."""
    with pytest.raises(ValueError, match=f"ValueRange {named} must not be NaN"):
        ValueRange(*bounds)


def test_a_reversed_range_is_kept_and_contains_nothing():
    assert not ValueRange(2.0, 1.0).contains_value(1.5)


def test_a_range_in_a_cycle_is_collected():
    freed = []

    class Bound(float):
        def __del__(self):
            freed.append(True)

    bound = Bound(1.0)
    bound.range = ValueRange(bound, 2.0)
    del bound
    gc.collect()
    assert freed == [True]


def test_chromatogram_point():
    point = SpectrumBasedChromatogramPoint(3, 1.5, 10.0, 445.1)
    assert (point.spectrum_index, point.retention_time, point.intensity, point.x) == (3, 1.5, 10.0, 445.1)
    assert point == SpectrumBasedChromatogramPoint(3, 1.5, 10, 445.1) and point != SpectrumBasedChromatogramPoint(3, 1.5, 10, 0)
    assert repr(point) == "SpectrumBasedChromatogramPoint(spectrum_index=3, retention_time=1.5, intensity=10.0, x=445.1)"
    with pytest.raises(AttributeError):
        point.intensity = 1.0
