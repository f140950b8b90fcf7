"""Vendor runs (Agilent .D, Waters .raw) converted and read back, checked against rainbow-api.

The runs are read in place from the shared data folder (vendor/, LGPL-3.0, licence texts
there); blue.raw.tar.xz is unpacked into a temporary folder.
"""

import tarfile

import numpy as np
import pytest

from shared_data import VENDOR
from ozra_data_access.access import OzraFile
from ozra_data_access.common import PolarityTypes, ValueRange
from ozra_data_access.convert import ConversionError, convert
from ozra_data_access.arrays import spectrum_view

rainbow = pytest.importorskip("rainbow")
pytestmark = pytest.mark.skipif(not VENDOR.is_dir(), reason="the shared vendor runs are not on this machine")

RUNS = ["red.D", "orange.D", "blue.raw"]


@pytest.fixture(scope="module")
def run_path(tmp_path_factory):
    unpacked = tmp_path_factory.mktemp("vendor")
    with tarfile.open(VENDOR / "blue.raw.tar.xz") as archive:
        # The safe "data" filter exists from Python 3.11.4 on (Debian 12's python3 is 3.11.2).
        archive.extractall(unpacked, **({"filter": "data"} if hasattr(tarfile, "data_filter") else {}))

    def path(name):
        return unpacked / name if name == "blue.raw" else VENDOR / name

    return path


@pytest.fixture(scope="module")
def converted(run_path, tmp_path_factory):
    folder = tmp_path_factory.mktemp("converted")
    done = {}

    def convert_run(name):
        if name not in done:
            done[name] = convert(run_path(name), folder / (name + ".ozra"))
        return done[name]

    return convert_run


def binned_like_rainbow(points, ylabels, dtype):
    """The points summed into rainbow-api's bins of width 1 (columns named by their centres), each
    intensity cut to the matrix's type first as rainbow-api does (Waters stores fractional
    intensities, its matrix holds integers)."""
    row = np.zeros(len(ylabels), dtype=dtype)
    columns = np.searchsorted(ylabels, np.rint(points["x"]))
    np.add.at(row, columns, points["intensity"].astype(dtype))
    return row


@pytest.mark.parametrize("name", RUNS)
def test_every_spectrum_and_trace_equals_what_rainbow_reads(run_path, converted, name):
    report = converted(name)
    expected = rainbow.read(str(run_path(name)), bin_width=1.0, display_precision=0)
    with OzraFile(report.target) as ozra_file:
        measurement = ozra_file.get_measurement(0)
        traces = [t for i in range(measurement.get_analog_analysis_count())
                  for t in measurement.get_analog_analysis(i).traces]
        ms = [measurement.get_qual_analysis(i) for i in range(measurement.get_qual_analysis_count())]
        dad = [measurement.get_dad_analysis(i) for i in range(measurement.get_dad_analysis_count())]
        for datafile in expected.datafiles:
            times = np.asarray(datafile.xlabels, dtype=np.float64)
            if datafile.detector == "MS":
                analysis = ms.pop(0)
                assert analysis.get_spectra_count() == len(times)
                for scan, time in enumerate(times):
                    spectrum = analysis.get_spectrum(scan)
                    points = spectrum_view(spectrum.get_spectrum_points())
                    assert spectrum.retention_time == time
                    assert np.all(np.diff(points["x"]) >= 0)
                    np.testing.assert_array_equal(binned_like_rainbow(points, datafile.ylabels, datafile.data.dtype),
                                                  datafile.data[scan])
            elif datafile.data.shape[1] > 1:
                analysis = dad.pop(0)
                assert analysis.get_spectra_count() == len(times)
                for index in (0, len(times) // 2, len(times) - 1):
                    spectrum = analysis.get_spectrum(index)
                    points = spectrum_view(spectrum.get_spectrum_points())
                    assert spectrum.retention_time == times[index]
                    np.testing.assert_array_equal(points["x"], datafile.ylabels)
                    np.testing.assert_array_equal(points["intensity"], datafile.data[index])
            else:
                trace = next(t for t in traces if t.supplemental_properties["SourceFile"] == datafile.name)
                np.testing.assert_array_equal(trace.retention_times, times)
                np.testing.assert_array_equal(trace.intensities, datafile.data[:, 0])
                assert (trace.detector_type, trace.unit) == (datafile.detector, datafile.metadata.get("unit"))
        assert not ms and not dad


def test_every_dad_spectrum_of_a_run_is_stored_exactly(converted, run_path):
    expected = next(f for f in rainbow.read(str(run_path("red.D"))).datafiles if f.name == "DAD1.UV")
    with OzraFile(converted("red.D").target) as ozra_file:
        dad = ozra_file.get_measurement(0).get_dad_analysis(0)
        stored = np.array([spectrum_view(dad.get_spectrum(i).get_spectrum_points())["intensity"]
                           for i in range(dad.get_spectra_count())])
        assert dad.supplemental_properties["Unit"] == "mAU"
    np.testing.assert_array_equal(stored, expected.data)


@pytest.mark.parametrize("name, polarity, mass_range", [
    ("orange.D", PolarityTypes.POSITIVE, ValueRange(150.0, 1000.0)),  # from the method text
    ("blue.raw", PolarityTypes.POSITIVE, None),
])
def test_ms_scans_have_the_runs_polarity(converted, name, polarity, mass_range):
    with OzraFile(converted(name).target) as ozra_file:
        (condition,) = ozra_file.get_measurement(0).get_qual_analysis(0).unique_acquisition_conditions
    assert (condition.ms_level, condition.polarity, condition.mass_range) == (1, polarity, mass_range)


def test_the_report_lists_each_analysis(converted):
    assert converted("blue.raw").analyses == ["MS analysis 0: 725 spectra, 1 condition",
                                              "DAD analysis 0: 3,001 spectra", "analog analysis 0: 1 trace (CAD)"]


def test_a_folder_rainbow_cannot_read_is_refused(tmp_path):
    (tmp_path / "empty.D").mkdir()
    with pytest.raises(ConversionError, match="empty.D: "):
        convert(tmp_path / "empty.D", tmp_path / "empty.ozra")
    assert not (tmp_path / "empty.ozra").exists()


def test_runs_converted_in_threads_at_once_each_keep_their_points(run_path, tmp_path):
    from concurrent.futures import ThreadPoolExecutor

    names = ["orange.D", "blue.raw", "orange.D"]
    with ThreadPoolExecutor(3) as pool:
        reports = list(pool.map(lambda job: convert(run_path(job[1]), tmp_path / f"{job[0]}.ozra"), enumerate(names)))
    assert [r.analyses[0] for r in reports] == ["MS analysis 0: 469 spectra, 1 condition",
                                                "MS analysis 0: 725 spectra, 1 condition",
                                                "MS analysis 0: 469 spectra, 1 condition"]
