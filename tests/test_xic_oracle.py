"""get_multiple_xic against a plain transcription of the chromatogram rule.

Random spectra (duplicate m/z values, empty spectra, missing retention times, several
conditions) and random requests (windows with float or int bounds, reversed windows,
optional retention-time ranges, conditions as shared objects, as distinct equal objects
and ones no spectrum has); every float must match to the last bit. Once over files
written by the writer, read through the real reader, counting its reads; once over the
stand-in reader, with points as a buffer and as plain records.
"""

import sys
import tempfile

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from ozra_data_access import access, qual
from ozra_data_access._internal._description import InternalSpectrumDescription
from ozra_data_access._internal._description import TripleQScanTypes, VendorSpecificAdditionalConditionTypes
from ozra_data_access.access import OzraFile
from ozra_data_access.common import PolarityTypes, ValueRange
from ozra_data_access.writer import (AcquisitionConditionData, AcquisitionCoreConditionData, FunctionData,
                                     MeasurementData, SpectrumData, TripleQScanConditionData,
                                     VendorSpecificConditionData, write_file)
from qual_stand_ins import StoredSpectrum, buffer_points, make_analysis, record_points, request_class

MZ = [100.0, 100.25, 100.5, 101.0, 101.0, 102.75, 150.0]
bound = st.one_of(st.sampled_from(MZ), st.floats(99.0, 151.0), st.integers(99, 151))
rt_bound = st.one_of(st.floats(0.0, 10.0), st.integers(0, 10))  # ValueRange refuses NaN bounds
peaks = st.lists(st.tuples(st.sampled_from(MZ) | st.floats(99.0, 151.0),
                           st.floats(0.0, 1e6) | st.sampled_from([1.0, 3.5])), max_size=12).map(sorted)
request_spec = st.tuples(st.integers(0, 6), bound, bound, st.none() | st.tuples(rt_bound, rt_bound))


def rule(analysis, requests, points_at):
    """The rule written out in Python; returns the point values and the positions read."""
    spectra = analysis._QualAnalysis__spectrum_index_list
    conditions = set()
    low = high = None
    limited = True
    for r in requests:
        conditions.add(r.acquisition_condition)
        if r.retention_time_range == None:  # noqa: E711 (the rule's own test)
            limited = False
            continue
        if low is None or low > r.retention_time_range.min:
            low = r.retention_time_range.min
        if high is None or high < r.retention_time_range.max:
            high = r.retention_time_range.max
    pre_filter = ValueRange(low, high) if limited else None
    results, read = [[] for _ in requests], []
    for position, spectrum_index in enumerate(spectra):
        d = spectrum_index._SpectrumIndex__spectrum_description
        rt = d._InternalSpectrumDescription__retention_time
        condition = d._InternalSpectrumDescription__acquisition_condition
        if rt == None or condition not in conditions:  # noqa: E711
            continue
        if pre_filter is not None and not pre_filter.contains_value(rt):
            continue
        read.append(position)
        points = points_at(spectrum_index._SpectrumIndex__position)
        for j, r in enumerate(requests):
            if r.acquisition_condition != condition:
                continue
            if r.retention_time_range != None and not r.retention_time_range.contains_value(rt):  # noqa: E711
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
    return results, read


def native(analysis, requests):
    return [[(p.spectrum_index, p.retention_time, p.intensity.hex(), p.x.hex()) for p in chromatogram]
            for chromatogram in analysis.get_multiple_xic(requests)]


class ConditionSubclass(qual.AcquisitionCondition):
    """Compares as its base class does, but is not of the module's own class."""


def requests_for(analysis, specs, nowhere):
    """Condition k < 3: the analysis's k-th unique condition itself; 3, 4: a new object
    equal to a spectrum's condition; 5: a condition no spectrum has; 6: an equal object
    of a subclass."""
    unique = analysis.unique_acquisition_conditions
    spectra = analysis._QualAnalysis__spectrum_index_list

    def condition(k):
        if k < 3 and unique:
            return unique[k % len(unique)]
        if k != 5 and spectra:
            description = spectra[k % len(spectra)]._SpectrumIndex__spectrum_description
            return (ConditionSubclass if k == 6 else qual.AcquisitionCondition)(description)
        return nowhere

    return [request_class()(condition(k), ValueRange(low, high), None if rt is None else ValueRange(*rt))
            for k, low, high, rt in specs]


class CountingReader(access.OzraFileReader):
    """Counts the spectrum reads that reach the file."""

    reads = 0

    def _OzraFileReader__read_spectrum(self):
        CountingReader.reads += 1
        return super()._OzraFileReader__read_spectrum()


STORED_CONDITIONS = [
    AcquisitionConditionData(AcquisitionCoreConditionData(ms_level=1)),
    AcquisitionConditionData(AcquisitionCoreConditionData(
        ms_level=2, collision_energy=20.0, polarity=PolarityTypes.NEGATIVE,
        vendor_specific_additional_condition=VendorSpecificConditionData(
            VendorSpecificAdditionalConditionTypes.WATERS_MASS_LYNX, original_id=2, cone_voltage=30.0))),
    AcquisitionConditionData(AcquisitionCoreConditionData(
        ms_level=2, triple_q_scan_condition=TripleQScanConditionData(
            TripleQScanTypes.PRODUCT, target_mz=150.0, q3_range=ValueRange(50.0, 150.0))),
        precursor_value=150.0),
]

file_spectrum = st.builds(
    lambda rt, points, level, energy, stored: (rt, points, level, energy, stored),
    st.none() | st.floats(0.0, 10.0) | st.integers(0, 10), peaks, st.integers(1, 3), st.none() | st.just(20.0),
    st.integers(0, 2))


def written_spectrum(rt, points, level, energy, stored, stored_list):
    x = np.array([p[0] for p in points], dtype=float)
    intensity = np.array([p[1] for p in points], dtype=float)
    if stored_list:
        return SpectrumData(retention_time=rt, x=x, intensity=intensity, acquisition_condition_index=stored)
    return SpectrumData(retention_time=rt, x=x, intensity=intensity, ms_level=level, collision_energy=energy)


def file_matches_the_rule(spectra, specs, stored_list, encoding, width):
    function = FunctionData.qual_ms([written_spectrum(*s, stored_list) for s in spectra],
                                    acquisition_conditions=STORED_CONDITIONS if stored_list else None)
    nowhere = qual.AcquisitionCondition(InternalSpectrumDescription(ms_level=4))
    with tempfile.TemporaryDirectory() as directory, pytest.MonkeyPatch.context() as monkeypatch:
        path = write_file(f"{directory}/oracle.ozra", [MeasurementData(functions=[function])],
                          point_encoding=encoding, intensity_width=width)
        monkeypatch.setattr(access, "OzraFileReader", CountingReader)
        with OzraFile(str(path)) as ozra_file:
            analysis = ozra_file.get_measurement(0).get_qual_analysis(0)
            requests = requests_for(analysis, specs, nowhere)
            CountingReader.reads = 0
            result = native(analysis, requests)
            reads = CountingReader.reads
            reader = analysis._QualAnalysis__reader

            def points_at(position):
                reader._OzraFileReader__set_buffer(position)
                points = reader._OzraFileReader__read_spectrum()
                return [(points[k].x, points[k].intensity) for k in range(len(points))]

            expected, read = rule(analysis, requests, points_at)
    assert result == expected
    assert reads == len(read)


file_options = dict(stored_list=st.booleans(), encoding=st.sampled_from(["raw", "zstd", "zstd-shuffle"]),
                    width=st.sampled_from([4, 8]))


@settings(max_examples=150, deadline=None)
@given(spectra=st.lists(file_spectrum, max_size=10), specs=st.lists(request_spec, min_size=1, max_size=8),
       **file_options)
def test_files_match_the_rule(spectra, specs, stored_list, encoding, width):
    file_matches_the_rule(spectra, specs, stored_list, encoding, width)


@pytest.mark.parametrize("seed", range(4))
def test_files_match_the_rule_for_targeted_requests(seed):
    """Hundreds of requests with narrow retention-time ranges spread over the run, as
    targeted work asks: enough for several blocks of the range index."""
    rng = np.random.default_rng(seed)
    uniform = lambda high, n: rng.uniform(0, high, n).tolist()  # noqa: E731 (floats, not numpy's)
    spectra = [(rt if k % 5 else int(rt), sorted(zip(rng.choice(MZ, 6).tolist(), uniform(1e3, 6))),
                int(rng.integers(1, 3)), None, int(rng.integers(0, 3)))
               for k, rt in enumerate(uniform(10, 40))]
    ranges = [(start, start + 0.3) for start in uniform(10, 300)]
    for k in range(0, 300, 7):  # ranges starting, or ending, at a retention time
        rt = spectra[k % 40][0]
        ranges[k], ranges[k + 1] = (rt, rt + 0.3), (rt - 0.3, rt)
    specs = [(int(rng.integers(0, 7)), 100.0 + low, 100.5 + low, None if k % 10 == 0 else rt_range)
             for k, (low, rt_range) in enumerate(zip(uniform(3, 300), ranges))]
    file_matches_the_rule(spectra, specs, bool(seed % 2), "raw", 8)


stand_in_spectrum = st.builds(StoredSpectrum, retention_time=st.one_of(st.none(), st.floats(0.0, 10.0)),
                              points=peaks, ms_level=st.integers(1, 3))


@pytest.mark.parametrize("points", [buffer_points, record_points], ids=["buffer", "records"])
@settings(max_examples=150, deadline=None)
@given(spectra=st.lists(stand_in_spectrum, max_size=10), specs=st.lists(request_spec, min_size=1, max_size=8))
def test_stand_in_points_match_the_rule(points, spectra, specs):
    with pytest.MonkeyPatch.context() as monkeypatch:
        analysis, reader = make_analysis(monkeypatch, spectra, points)
        requests = requests_for(analysis, specs, qual.AcquisitionCondition(InternalSpectrumDescription(ms_level=4)))
        result = native(analysis, requests)
        reads = list(reader.reads)
        expected, read = rule(analysis, requests,
                              lambda position: [tuple(p) for p in reader.spectra[reader.spectrum_at(position)].points])
        assert result == expected
        assert reads == read
