"""Thermo .raw conversion of a shared run, checked against opentfraw reading the same file."""

import numpy as np
import pytest

from shared_data import VENDOR
from ozra_data_access.access import OzraFile
from ozra_data_access.convert import convert
from ozra_data_access.arrays import spectrum_view

opentfraw = pytest.importorskip("opentfraw")
SOURCE = VENDOR / "thermo" / "small.RAW"
pytestmark = pytest.mark.skipif(not SOURCE.is_file(), reason="the shared Thermo run is not on this machine")


def test_scans_are_stored_as_opentfraw_reads_them_and_ion_trap_profiles_are_listed(tmp_path):
    report = convert(SOURCE, tmp_path / "small.ozra")
    raw = opentfraw.RawFile(str(SOURCE))
    scans = [raw.scan(number) for number in range(1, 49)]
    assert report.spectra == 48
    ((what, reason),) = report.not_stored
    withheld = [s["scan_number"] for s in scans if (s["scan_mode"], s["analyzer"]) == ("profile", "ITMS")]
    assert what == f"profile points of {len(withheld)} ion-trap scans (scan {', '.join(map(str, withheld))})"
    with OzraFile(str(tmp_path / "small.ozra")) as ozra_file:
        analysis = ozra_file.get_measurement(0).get_qual_analysis(0)
        assert analysis.get_spectra_count() == 48
        tic = {}
        for condition in analysis.unique_acquisition_conditions:
            tic.update((p.spectrum_index, (p.retention_time, p.intensity)) for p in analysis.get_tic(condition))
        assert sorted(tic) == list(range(48))
        for index, scan in enumerate(scans):
            stored = analysis.get_spectrum(index)
            assert stored.retention_time == scan["retention_time"]
            assert tic[index] == (scan["retention_time"], pytest.approx(scan["total_ion_current"], rel=1e-12))
            properties = stored.supplemental_properties
            assert properties["FilterString"] == scan["filter_string"]
            assert properties["NativeId"].endswith(f"scan={scan['scan_number']}")
            condition = stored.acquisition_condition
            assert (condition.ms_level, condition.collision_energy) == (scan["ms_level"], scan["collision_energy"])
            if scan["ms_level"] == 2:
                assert condition.precursor_value == scan["precursor_mz"]
            if scan["scan_number"] in withheld:
                assert len(spectrum_view(stored.get_spectrum_points())) == 0
            elif scan["scan_mode"] == "profile":
                profile = spectrum_view(stored.get_profile_spectrum_points())
                mz, intensity = raw.profile(scan["scan_number"])
                np.testing.assert_array_equal(profile["x"], mz)
                np.testing.assert_array_equal(profile["intensity"], intensity)
            else:
                points = spectrum_view(stored.get_spectrum_points())
                np.testing.assert_array_equal(points["x"], scan["mz"])
                np.testing.assert_array_equal(points["intensity"], scan["intensity"])


def test_the_command_prints_what_it_left_out(tmp_path, capsys):
    from ozra_data_access.cli import main

    assert main(["convert", str(SOURCE), str(tmp_path / "small.ozra")]) == 0
    printed = capsys.readouterr().out
    assert "MS analysis 0: 48 spectra" in printed and "not stored:\n  profile points of 7 ion-trap scans" in printed
