"""Reading on several threads: the reads release the interpreter lock, so threads overlap; results stay
those of one thread, also when threads share one file, and close() from another thread is clean."""

import threading

import numpy as np
import pytest

from ozra_data_access.access import OzraFile
from ozra_data_access.common import ValueRange
from ozra_data_access.qual import ChromatogramFilterOption
from ozra_data_access.samples import write_sample


@pytest.fixture(scope="module")
def two_runs(tmp_path_factory):
    folder = tmp_path_factory.mktemp("threads")
    paths = []
    for seed, encoding in ((1, "zstd"), (2, "raw")):
        path = str(folder / f"run{seed}.ozra")
        write_sample(path, scans=300, points_per_spectrum=300, dad_spectra=60, wavelengths=80, seed=seed,
                     point_encoding=encoding)
        paths.append(path)
    return paths


def everything(ozra_file):
    """What a walk reads of a file: every XIC of a few windows, every spectrum's points, DAD chromatograms."""
    measurement = ozra_file.get_measurement(0)
    ms = measurement.get_qual_analysis(0)
    requests = [ChromatogramFilterOption(condition, ValueRange(low, low + 5.0))
                for condition in ms.unique_acquisition_conditions for low in (150.0, 400.0, 720.0)]
    xics = [[(p.spectrum_index, p.retention_time, p.intensity, p.x) for p in xic]
            for xic in ms.get_multiple_xic(requests)]
    points = [np.asarray(ms.get_spectrum(i).get_spectrum_points()).tobytes() for i in range(ms.get_spectra_count())]
    dad = measurement.get_dad_analysis(0)
    chromatograms = [[(p.retention_time, p.intensity, p.x) for p in chromatogram] for chromatogram in
                     (dad.get_chromatogram(ValueRange(250.0, 260.0)), dad.get_max_plot(ValueRange(200.0, 400.0), 2.0))]
    return xics, points, chromatograms


def run_on_threads(jobs):
    """Runs each job on its own thread, all started together; returns their results in order."""
    results, errors = [None] * len(jobs), []
    start = threading.Barrier(len(jobs))

    def run(slot):
        try:
            start.wait()
            results[slot] = jobs[slot]()
        except BaseException as error:  # reported by the test
            errors.append(error)

    threads = [threading.Thread(target=run, args=(slot,)) for slot in range(len(jobs))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors, errors
    return results


@pytest.mark.parametrize("shared", [False, True], ids=["a file each", "one shared file"])
def test_threads_read_what_one_thread_reads(two_runs, shared):
    with OzraFile(two_runs[0]) as first, OzraFile(two_runs[1]) as second:
        expected = [everything(first), everything(second)]
    files = [OzraFile(path) for path in two_runs]
    try:
        if shared:
            jobs = [lambda: everything(files[0])] * 4
            expected = [expected[0]] * 4
        else:
            jobs = [lambda: everything(files[0]), lambda: everything(files[1])] * 2
            expected = expected * 2
        for _ in range(3):
            assert run_on_threads(jobs) == expected
    finally:
        for ozra_file in files:
            ozra_file.close()


@pytest.fixture(scope="module")
def long_run(tmp_path_factory):
    """A run whose XIC takes long enough for another thread to act during it."""
    path = str(tmp_path_factory.mktemp("long") / "long.ozra")
    write_sample(path, scans=3000, points_per_spectrum=2000, dad_spectra=0, profile=False, traces=False)
    return path


def test_close_from_another_thread_during_a_long_read_raises_in_the_reader(long_run):
    ozra_file = OzraFile(long_run)
    analysis = ozra_file.get_measurement(0).get_qual_analysis(0)
    requests = [ChromatogramFilterOption(condition, ValueRange(50.0, 1000.0))
                for condition in analysis.unique_acquisition_conditions]  # every spectrum of the run
    started = threading.Event()

    def close_soon():
        started.wait()
        ozra_file.close()

    closer = threading.Thread(target=close_soon)
    closer.start()
    started.set()
    # The closer runs only while the extraction has the interpreter lock released: if the lock were
    # held throughout, the extraction would finish before close() and return its points.
    with pytest.raises(ValueError, match="I/O operation on closed file"):
        analysis.get_multiple_xic(requests)
    closer.join()
    with pytest.raises(ValueError, match="I/O operation on closed file"):
        analysis.get_spectrum(0).get_spectrum_points()
    ozra_file.close()


def traces_read(ozra_file, rounds=20):
    """Every trace's points, with the trace lists read afresh each round (the index block too)."""
    measurement = ozra_file.get_measurement(0)
    seen = []
    for _ in range(rounds):
        for count, get in ((measurement.get_quan_analysis_count(), measurement.get_quan_analysis),
                           (measurement.get_analog_analysis_count(), measurement.get_analog_analysis)):
            for index in range(count):
                seen += [np.asarray(trace.get_points()).tobytes() for trace in get(index).traces]
    return seen


def test_trace_reads_are_not_interleaved_with_other_threads_reads(two_runs):
    import sys

    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # switch threads as often as the interpreter can
    try:
        with OzraFile(two_runs[0]) as alone:
            expected_traces, expected_walk = traces_read(alone), everything(alone)
        with OzraFile(two_runs[0]) as shared:
            jobs = [lambda: traces_read(shared), lambda: everything(shared)] * 2
            for _ in range(3):
                assert run_on_threads(jobs) == [expected_traces, expected_walk] * 2
    finally:
        sys.setswitchinterval(previous)
