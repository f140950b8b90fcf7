"""The nearest-spectrum search and the distinct conditions against plain transcriptions.

The search runs over a table of retention times when every record is the storage
layer's own and every retention time a float, and with the interpreter's arithmetic
otherwise; both must pick exactly what the loop written out in Python picks, errors
included (NaN, infinities, integers too large for a float).
"""

import math
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from ozra_data_access.common import PolarityTypes
from qual_stand_ins import StoredSpectrum, condition_of, make_analysis

special = st.sampled_from([math.nan, math.inf, -math.inf, -0.0, sys.float_info.max])
float_times = st.none() | st.floats() | special
any_times = float_times | st.integers(-(10**20), 10**20)
targets = st.floats() | special | st.integers(-(10**20), 10**20) | st.sampled_from([10**400, True])


def nearest(retention_times, target):
    min_diff = sys.float_info.max
    target_index = -1
    for i, rt in enumerate(retention_times):
        if rt != None:  # noqa: E711 (the rule's own test)
            diff = abs(rt - target)
            if diff < min_diff:
                min_diff = diff
                target_index = i
    return target_index


@settings(max_examples=400, deadline=None)
@given(st.lists(float_times, max_size=8) | st.lists(any_times, max_size=8), targets)
def test_find_nearest_spectrum(retention_times, target):
    with pytest.MonkeyPatch.context() as monkeypatch:
        analysis, _ = make_analysis(monkeypatch, [StoredSpectrum(retention_time=rt) for rt in retention_times])
    try:
        expected = nearest(retention_times, target)
    except Exception as error:
        with pytest.raises(type(error)):
            analysis.find_nearest_spectrum(target)
        return
    if expected == -1:
        with pytest.raises(Exception, match="^Index out of range$"):
            analysis.find_nearest_spectrum(target)
    else:
        assert analysis.find_nearest_spectrum(target).index == expected


def sort_key(condition):
    """Level, then no polarity before a polarity, then energy (None first)."""
    polarity = (0,) if condition.polarity is None else (1, condition.polarity.value)
    return (condition.ms_level, polarity, (condition.collision_energy is not None, condition.collision_energy))


stored_spectrum = st.builds(
    StoredSpectrum,
    ms_level=st.integers(1, 3),
    polarity=st.sampled_from([None, *PolarityTypes]),
    collision_energy=st.none() | st.sampled_from([10.0, 20.0, 0.0, -0.0, math.nan]) | st.floats(),
)


@settings(max_examples=200, deadline=None)
@given(st.lists(stored_spectrum, max_size=12))
def test_unique_conditions_without_stored_list(stored):
    with pytest.MonkeyPatch.context() as monkeypatch:
        analysis, _ = make_analysis(monkeypatch, stored)
    own = [condition_of(analysis, i) for i in range(len(stored))]
    assert len({id(c) for c in own}) == len(own)
    first_of_equals = set()
    for condition in own:
        first_of_equals.add(condition)
    expected = sorted(first_of_equals, key=sort_key)
    assert [id(c) for c in analysis.unique_acquisition_conditions] == [id(c) for c in expected]
