"""mzXML conversion of a shared run, checked against pyteomics reading the same file."""

import numpy as np
import pytest

from shared_data import DATA
from ozra_data_access.access import OzraFile
from ozra_data_access.convert import convert
from ozra_data_access.arrays import spectrum_view

mzxml = pytest.importorskip("pyteomics.mzxml")
SOURCE = DATA / "DOM_b.mzXML"
pytestmark = pytest.mark.skipif(not SOURCE.is_file(), reason="the shared mzXML run is not on this machine")


def test_scans_are_stored_as_pyteomics_reads_them(tmp_path):
    report = convert(SOURCE, tmp_path / "dom.ozra")
    with mzxml.MzXML(str(SOURCE)) as reader:
        expected = list(reader)
    assert report.spectra == len(expected) == 521
    position = {scan["num"]: index for index, scan in enumerate(expected)}
    with OzraFile(str(tmp_path / "dom.ozra")) as ozra_file:
        analysis = ozra_file.get_measurement(0).get_qual_analysis(0)
        assert analysis.get_spectra_count() == len(expected)
        for index, scan in enumerate(expected):
            stored = analysis.get_spectrum(index)
            points = spectrum_view(stored.get_spectrum_points())
            assert stored.retention_time == scan["retentionTime"]
            np.testing.assert_array_equal(points["x"], scan["m/z array"])
            np.testing.assert_array_equal(points["intensity"], scan["intensity array"])
            condition = stored.acquisition_condition
            assert condition.ms_level == scan["msLevel"]
            assert stored.supplemental_properties["NativeId"] == scan["num"]
            if scan["msLevel"] == 2:
                (precursor,) = scan["precursorMz"]
                assert condition.precursor_value == precursor["precursorMz"]
                assert condition.collision_energy == scan["collisionEnergy"]
                half = precursor["windowWideness"] / 2
                assert (condition.precursor_range.min, condition.precursor_range.max) == (
                    precursor["precursorMz"] - half, precursor["precursorMz"] + half)
                assert stored.supplemental_properties.get("ChargeState") == precursor.get("precursorCharge")
                assert stored.precursor_index == position.get(precursor["precursorScanNum"])
