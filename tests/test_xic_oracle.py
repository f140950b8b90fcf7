"""get_multiple_xic against a plain transcription of the chromatogram rule.

Random spectra (duplicate m/z values, empty spectra, missing retention times, three
conditions) and random requests (windows with float or int bounds, reversed windows,
optional retention-time ranges, conditions no spectrum has); every float must match
to the last bit, over a points buffer and over records alike.
"""

import sys

from hypothesis import given, settings
from hypothesis import strategies as st

import pytest

from ozra_data_access._internal._description import InternalSpectrumDescription
from ozra_data_access import qual
from ozra_data_access.common import ValueRange
from qual_stand_ins import StoredSpectrum, buffer_points, make_analysis, record_points, request_class

MZ = [100.0, 100.25, 100.5, 101.0, 101.0, 102.75, 150.0]
bound = st.one_of(st.sampled_from(MZ), st.floats(99.0, 151.0), st.integers(99, 151))
rt_bound = st.one_of(st.floats(0.0, 10.0), st.integers(0, 10))

spectrum = st.builds(
    StoredSpectrum,
    retention_time=st.one_of(st.none(), st.floats(0.0, 10.0)),
    points=st.lists(st.tuples(st.sampled_from(MZ), st.floats(0.0, 1e6) | st.sampled_from([1.0, 3.5])),
                    max_size=12).map(sorted),
    ms_level=st.integers(1, 3),
)
request_spec = st.tuples(st.integers(1, 4), bound, bound, st.none() | st.tuples(rt_bound, rt_bound))


def oracle(analysis, requests):
    """The rule, written out in Python over the analysis's own spectrum list."""
    descriptions = [s._SpectrumIndex__spectrum_description for s in analysis._QualAnalysis__spectrum_index_list]
    reader = analysis._QualAnalysis__reader
    results = [[] for _ in requests]
    for d, spectrum_index in zip(descriptions, analysis._QualAnalysis__spectrum_index_list):
        rt = d._InternalSpectrumDescription__retention_time
        condition = d._InternalSpectrumDescription__acquisition_condition
        if rt is None or all(r.acquisition_condition != condition for r in requests):
            continue
        reader._OzraFileReader__set_buffer(spectrum_index._SpectrumIndex__position)
        points = reader.spectra[reader.spectrum_at(reader.position)].points
        for j, r in enumerate(requests):
            if r.acquisition_condition != condition:
                continue
            if r.retention_time_range is not None and not r.retention_time_range.contains_value(rt):
                continue
            base_peak, base_mz, total = -sys.float_info.max, 0.0, 0.0
            for x, intensity in points:
                if x < r.extract_mz_range.min:
                    continue
                if x > r.extract_mz_range.max:
                    break
                if base_peak < intensity:
                    base_peak, base_mz = float(intensity), float(x)
                total = total + intensity
            results[j].append((d._InternalSpectrumDescription__index, rt, total.hex(), base_mz.hex()))
    return results


@pytest.mark.parametrize("points", [buffer_points, record_points], ids=["buffer", "records"])
@settings(max_examples=300, deadline=None)
@given(spectra=st.lists(spectrum, max_size=10), specs=st.lists(request_spec, min_size=1, max_size=8))
def test_matches_the_rule(points, spectra, specs):
    with pytest.MonkeyPatch.context() as monkeypatch:
        analysis, reader = make_analysis(monkeypatch, spectra, points)
        conditions = {level: qual.AcquisitionCondition(InternalSpectrumDescription(ms_level=level))
                      for level in range(1, 5)}
        requests = [request_class()(conditions[level], ValueRange(low, high),
                                    None if rt is None else ValueRange(*rt))
                    for level, low, high, rt in specs]
        result = analysis.get_multiple_xic(requests)
        native = [[(p.spectrum_index, p.retention_time, p.intensity.hex(), p.x.hex()) for p in chromatogram]
                  for chromatogram in result]
        assert native == oracle(analysis, requests)
        assert len(reader.reads) == len(set(reader.reads))
