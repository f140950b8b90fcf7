"""Pickling: values by value (every protocol, and through a multiprocessing pool); OzraFile as its path."""

import math
import multiprocessing
import pickle

import pytest

from conftest import spectrum
from test_conditions_from_files import SCANS, VENDORS, stored_condition
from ozra_data_access.access import OzraFile
from ozra_data_access.common import SpectrumBasedChromatogramPoint, ValueRange
from ozra_data_access.qual import ChromatogramFilterOption
from ozra_data_access.samples import write_sample
from ozra_data_access.writer import FunctionData

PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    return str(write_sample(tmp_path_factory.mktemp("pickling") / "sample.ozra", seed=3))


def round_trip(value, protocol=pickle.DEFAULT_PROTOCOL):
    return pickle.loads(pickle.dumps(value, protocol=protocol))


@pytest.mark.parametrize("protocol", PROTOCOLS)
@pytest.mark.parametrize("value", [ValueRange(1, 2.5), ValueRange(-math.inf, 1e308), ValueRange(0.1, 0.1 + 2**-50),
                                   SpectrumBasedChromatogramPoint(7, 1.25, 3.5, None),
                                   SpectrumBasedChromatogramPoint(0, 0.0, -1, 250.0)])
def test_values_come_back_equal_with_their_types_and_bits(value, protocol):
    copy = round_trip(value, protocol)
    assert type(copy) is type(value) and copy == value and hash(copy) == hash(value) and repr(copy) == repr(value)


def test_stored_conditions_of_every_vendor_and_scan_come_back_equal(write_ozra):
    pairs = [(v, s) for v, _ in VENDORS for s, _ in SCANS]
    spectra = [spectrum(float(i), acquisition_condition_index=i) for i in range(len(pairs))]
    path = write_ozra(FunctionData.qual_ms(spectra, acquisition_conditions=[stored_condition(*p) for p in pairs]))
    with OzraFile(path) as f:
        conditions = f.get_measurement(0).get_qual_analysis(0).unique_acquisition_conditions
    for protocol in PROTOCOLS:
        copies = round_trip(conditions, protocol)
        assert copies == conditions
        assert [c.__hash__() for c in copies] == [c.__hash__() for c in conditions]
        assert [str(c) for c in copies] == [str(c) for c in conditions]
        assert [type(a) for c in copies for a in c.additional_conditions] == \
               [type(a) for c in conditions for a in c.additional_conditions]


def test_chromatograms_and_requests_made_from_copies_equal_the_originals(sample):
    with OzraFile(sample) as f:
        measurement = f.get_measurement(0)
        ms = measurement.get_qual_analysis(0)
        condition = ms.unique_acquisition_conditions[0]
        requests = [ChromatogramFilterOption(condition, ValueRange(400.0, 600.0)),
                    ChromatogramFilterOption(condition, ValueRange(400.0, 600.0), ValueRange(2.0, 4.0))]
        copied = round_trip(requests)
        for request, copy in zip(requests, copied):
            assert (copy.acquisition_condition, copy.extract_mz_range, copy.retention_time_range) == \
                   (request.acquisition_condition, request.extract_mz_range, request.retention_time_range)
        assert ms.get_multiple_xic(copied) == ms.get_multiple_xic(requests)
        for points in (ms.get_tic(condition), ms.get_bpc(round_trip(condition)),
                       measurement.get_dad_analysis(0).get_max_plot(ValueRange(190.0, 600.0), 2.0)):
            assert round_trip(points) == points


def test_a_condition_refuses_a_state_of_the_wrong_shape(sample):
    with OzraFile(sample) as f:
        condition = f.get_measurement(0).get_qual_analysis(0).unique_acquisition_conditions[0]
    for target, state in ((condition, (1, 2)), (condition.additional_conditions[0], [1])):
        with pytest.raises(TypeError, match="takes a tuple of"):
            target.__setstate__(state)


def test_a_file_pickles_as_its_path_and_opens_again(sample):
    f = OzraFile(sample)
    f.close()
    again = round_trip(f)
    assert again.file_path == sample and again.get_measurement_count() == 1
    measurement = again.get_measurement(0)
    read_from = (measurement, measurement.get_qual_analysis(0), measurement.get_qual_analysis(0).get_spectrum(0),
                 measurement.get_dad_analysis(0), measurement.get_dad_analysis(0).get_spectrum(0),
                 measurement.get_quan_analysis(0), measurement.get_quan_analysis(0).get_trace(0))
    for value in read_from:
        with pytest.raises(TypeError, match="pickle"):
            pickle.dumps(value)
    again.close()


def xic_in_a_worker(job):
    """Runs in a pool's worker: every argument arrived pickled."""
    ozra_file, condition, window = job
    with ozra_file:
        ms = ozra_file.get_measurement(0).get_qual_analysis(0)
        return ms.get_xic(ChromatogramFilterOption(condition, window))


def test_work_through_a_multiprocessing_pool(sample):
    with OzraFile(sample) as f:
        ms = f.get_measurement(0).get_qual_analysis(0)
        jobs = [(f, condition, ValueRange(mz, mz + 5.0))
                for condition in ms.unique_acquisition_conditions[:2] for mz in (300.0, 450.0)]
        expected = [ms.get_xic(ChromatogramFilterOption(c, w)) for _, c, w in jobs]
        with multiprocessing.get_context("spawn").Pool(2) as pool:
            results = pool.map(xic_in_a_worker, jobs)
    assert results == expected and any(point.intensity for points in results for point in points)
