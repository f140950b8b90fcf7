"""The native shortcuts give exactly what the rules give.

The nearest-spectrum search bisects retention times that never decrease, and numpy
scalars (float64, integers) take the paths of plain floats: each is checked against
the rule written out in Python, or against the same call with plain floats.
"""

import math
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from ozra_data_access.access import OzraFile
from ozra_data_access.common import ValueRange
from ozra_data_access.qual import ChromatogramFilterOption
from ozra_data_access.samples import write_sample
from qual_stand_ins import StoredSpectrum, make_analysis
from test_ms_analysis_oracle import nearest

# Few distinct values make ties; huge ones make differences that round alike.
tie_prone = st.sampled_from([0.0, -0.0, 1.0, 2.0, 3.5, 1e20, -1e20, math.inf, -math.inf, sys.float_info.max])
times = st.floats(allow_nan=False) | tie_prone
plain_targets = st.floats() | tie_prone | st.integers(-(2**60), 2**60)
numpy_targets = plain_targets.map(np.float64) | st.integers(-(2**62), 2**62).map(np.int64) | \
    st.floats(width=32).map(np.float32)


@settings(max_examples=500, deadline=None)
@given(
    st.lists(times, max_size=12).map(sorted)  # bisected
    | st.lists(times, min_size=2, max_size=12)  # usually unsorted: scanned
    | st.lists(st.none() | st.just(math.nan) | times, max_size=8).map(lambda t: sorted(t, key=lambda v: (v is None, v))),
    plain_targets | numpy_targets,
)
def test_nearest_spectrum_equals_the_linear_rule(retention_times, target):
    with pytest.MonkeyPatch.context() as monkeypatch:
        analysis, _ = make_analysis(monkeypatch, [StoredSpectrum(retention_time=rt) for rt in retention_times])
    with np.errstate(all="ignore"):
        expected = nearest(retention_times, target)
    with np.errstate(all="ignore"):  # numpy.float32 targets are searched with numpy's arithmetic
        if expected == -1:
            with pytest.raises(Exception, match="^Index out of range$"):
                analysis.find_nearest_spectrum(target)
        else:
            assert analysis.find_nearest_spectrum(target).index == expected


@pytest.fixture(scope="module")
def ms(tmp_path_factory):
    path = write_sample(tmp_path_factory.mktemp("fast") / "sample.ozra", scans=80, dad_spectra=10, seed=5)
    with OzraFile(str(path)) as f:
        yield f.get_measurement(0).get_qual_analysis(0)


def fields(points):
    return [(type(v), v) for p in points for v in (p.spectrum_index, p.retention_time, p.intensity, p.x)]


@pytest.mark.parametrize("number", [np.float64, np.int64, np.uint16, int], ids=lambda t: t.__name__)
def test_xic_with_numpy_bounds_equals_plain_floats(ms, number):
    condition = ms.unique_acquisition_conditions[0]

    def request(low, high, rt=None):
        retention = None if rt is None else ValueRange(*rt)
        return ChromatogramFilterOption(condition, ValueRange(low, high), retention)

    windows = [(300, 302), (301, 301), (150, 900), (1, 2)]
    rt_ranges = [None, (2, 9), (3, 3)]
    plain = [request(float(lo), float(hi), rt and tuple(map(float, rt))) for lo, hi in windows for rt in rt_ranges]
    typed = [request(number(lo), number(hi), rt and tuple(map(number, rt))) for lo, hi in windows for rt in rt_ranges]
    assert [fields(x) for x in ms.get_multiple_xic(typed)] == [fields(x) for x in ms.get_multiple_xic(plain)]


@pytest.mark.parametrize("target", [np.float64(4.2), np.int64(4), np.float64(-1e300), 7, True])
def test_nearest_spectrum_of_a_file_with_numpy_targets(ms, target):
    rts = [ms.get_spectrum(i).retention_time for i in range(ms.get_spectra_count())]
    assert ms.find_nearest_spectrum(target).index == nearest(rts, target)
