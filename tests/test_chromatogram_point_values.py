"""Chromatogram points keep numbers as C values and give back the same type and value on every read."""

import gc
import math
import struct

import numpy as np
from hypothesis import given, settings
from hypothesis import strategies as st

from ozra_data_access.common import SpectrumBasedChromatogramPoint as Point

values = (st.floats() | st.integers(-(2**70), 2**70) | st.none() | st.booleans()
          | st.floats().map(np.float64) | st.integers(-5, 5).map(np.int64) | st.text(max_size=3))


def same(a, b):
    """Same type and value, floats bit for bit (NaN included)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return struct.pack("<d", a) == struct.pack("<d", b)
    return a == b


@settings(max_examples=300, deadline=None)
@given(st.tuples(values, values, values, values), st.tuples(values, values, values, values))
def test_values_read_back_and_compare_as_a_tuple_would(fields, other_fields):
    point = Point(*fields)
    for _ in range(2):  # every read makes the same number again
        read = (point.spectrum_index, point.retention_time, point.intensity, point.x)
        assert all(same(a, b) for a, b in zip(read, fields))
    other = Point(*other_fields)
    assert (point == other) == (fields == other_fields)
    assert (point != other) == (fields != other_fields)
    if not any(isinstance(v, float) and math.isnan(v) for v in fields):
        assert point == Point(*fields)
    try:
        expected = hash(fields)
    except TypeError:
        return
    assert hash(point) == expected
    assert repr(point) == "SpectrumBasedChromatogramPoint(spectrum_index={!r}, retention_time={!r}, " \
                          "intensity={!r}, x={!r})".format(*fields)


def test_only_points_keeping_objects_are_known_to_the_collector():
    assert not gc.is_tracked(Point(1, 2.0, 0, None))
    holder = []
    point = Point(1, 2.0, holder, None)
    assert gc.is_tracked(point)
    holder.append(point)  # a cycle through the point
    del point, holder
    gc.collect()
