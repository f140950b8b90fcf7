"""Agilent MassHunter runs converted and read back scan by scan, checked against rainbow-api.

Profile scans keep their own m/z axis in the profile slot, peak lists go into the centroid
slot; the GC-MS run yellow.D, which also has an AcqData folder, keeps its own MS files.
"""

import numpy as np
import pytest

from shared_data import VENDOR
from ozra_data_access.access import OzraFile
from ozra_data_access.convert import convert
from ozra_data_access.arrays import spectrum_view

rainbow = pytest.importorskip("rainbow")
pytestmark = pytest.mark.skipif(not VENDOR.is_dir(), reason="the shared vendor runs are not on this machine")


def scans_by_time(name, **flag):
    """rainbow-api's scans of one MassHunter file, by retention time."""
    if flag and not (VENDOR / name / "AcqData" / ("MSProfile.bin" if "hrms" in flag else "MSPeak.bin")).is_file():
        return {}
    if "hrms" in flag and name == "copper.D":
        pytest.importorskip("lzf")
    datafile = next(f for f in rainbow.read(str(VENDOR / name), **flag).datafiles if f.detector == "MS")
    if not hasattr(datafile, "scan"):  # one intensity per monitored mass in every scan
        return {float(t): (datafile.ylabels, row) for t, row in zip(datafile.xlabels, datafile.data)}
    return {float(t): datafile.scan(i) for i, t in enumerate(datafile.xlabels)}


@pytest.mark.parametrize("name", ["amber.D", "cyan.D", "copper.D", "silver.D"])
def test_every_scan_equals_what_rainbow_reads(tmp_path, name):
    report = convert(VENDOR / name, tmp_path / "run.ozra")
    profiles = scans_by_time(name, hrms=True)
    centroids = scans_by_time(name, centroid=True)
    if name == "silver.D":
        centroids, profiles = profiles, {}
    times = sorted(set(profiles) | set(centroids))
    with OzraFile(report.target) as ozra_file:
        analysis = ozra_file.get_measurement(0).get_qual_analysis(0)
        assert analysis.get_spectra_count() == len(times)
        for index, time in enumerate(times):
            spectrum = analysis.get_spectrum(index)
            assert spectrum.retention_time == time
            if time not in profiles:
                with pytest.raises(Exception, match="No profile spectrum"):
                    spectrum.get_profile_spectrum_points()
            if time not in centroids:
                assert len(spectrum.get_spectrum_points()) == 0
            for slot, expected in ((spectrum.get_spectrum_points, centroids.get(time)),
                                   (spectrum.get_profile_spectrum_points, profiles.get(time))):
                if expected is None:
                    continue
                points = spectrum_view(slot())
                np.testing.assert_array_equal(points["x"], np.asarray(expected[0], dtype=np.float64))
                np.testing.assert_array_equal(points["intensity"], np.asarray(expected[1], dtype=np.float64))
    assert "AcqData/MSScan.bin scan records" in dict(report.not_stored)


def test_gc_ms_run_with_an_acqdata_folder_keeps_its_own_ms_files(tmp_path):
    report = convert(VENDOR / "yellow.D", tmp_path / "yellow.ozra")
    expected = [len(f.xlabels) for f in rainbow.read(str(VENDOR / "yellow.D")).datafiles if f.detector == "MS"]
    with OzraFile(report.target) as ozra_file:
        measurement = ozra_file.get_measurement(0)
        counts = [measurement.get_qual_analysis(i).get_spectra_count()
                  for i in range(measurement.get_qual_analysis_count())]
    assert counts == expected and len(counts) == 2
    assert measurement.get_analog_analysis_count() == 1
