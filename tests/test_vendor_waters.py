"""Waters functions are stored as the run's own function records say, never by the reader's detector name.

A function monitored ion by ion is added to a copy of the shared run blue.raw: its record in
_FUNCTNS.INF, an index and a data file in the two-byte format, and no polarity line (so the
reader calls it "UV"). Each of its channels must come back as a quantitative trace.
"""

import shutil
import struct
import tarfile

import numpy as np
import pytest

from shared_data import VENDOR
from ozra_data_access.access import OzraFile
from ozra_data_access.convert import ConversionError, convert
from ozra_data_access.arrays import spectrum_view

pytest.importorskip("rainbow")
pytestmark = pytest.mark.skipif(not VENDOR.is_dir(), reason="the shared vendor runs are not on this machine")

SET_MZ = [112.97, 250.5, 301.25]
PRODUCT_MZ = [68.0, 120.0, 155.5]
SCANS = 40


@pytest.fixture(scope="module")
def blue(tmp_path_factory):
    unpacked = tmp_path_factory.mktemp("blue")
    with tarfile.open(VENDOR / "blue.raw.tar.xz") as archive:
        archive.extractall(unpacked, **({"filter": "data"} if hasattr(tarfile, "data_filter") else {}))
    return unpacked / "blue.raw"


def with_monitored_function(blue, folder, type_code):
    """A copy of blue.raw with a third function of `type_code` monitoring three channels."""
    run = folder / "run.raw"
    shutil.copytree(blue, run)
    record = bytearray(416)
    record[0] = type_code
    struct.pack_into("<3f", record, 160, *SET_MZ)
    struct.pack_into("<3f", record, 288, *PRODUCT_MZ)
    with open(run / "_FUNCTNS.INF", "ab") as file:
        file.write(record)
    index = bytearray()
    for scan in range(SCANS):
        entry = bytearray(22)
        struct.pack_into("<II", entry, 0, scan * 2 * len(SET_MZ), len(SET_MZ))
        struct.pack_into("<f", entry, 12, 0.05 * scan)
        index += entry
    (run / "_FUNC003.IDX").write_bytes(bytes(index))
    # value = base * 4 ** exponent, base in the upper 13 bits: channel c of scan s holds (s + 1) * (c + 1) * 4.
    raw = [((scan + 1) * (channel + 1) << 3) | 1 for scan in range(SCANS) for channel in range(len(SET_MZ))]
    (run / "_FUNC003.DAT").write_bytes(np.asarray(raw, dtype="<u2").tobytes())
    return run


@pytest.mark.parametrize("type_code, level", [(9, 2), (1, 1)], ids=["MRM", "SIR"])
def test_monitored_channels_become_quantitative_traces_not_absorbance(blue, tmp_path, type_code, level):
    report = convert(with_monitored_function(blue, tmp_path, type_code), tmp_path / "run.ozra")
    with OzraFile(report.target) as ozra_file:
        measurement = ozra_file.get_measurement(0)
        assert measurement.get_dad_analysis_count() == 1  # the run's own PDA function only
        assert measurement.get_quan_analysis_count() == 1
        traces = measurement.get_quan_analysis(0).traces
        assert len(traces) == len(SET_MZ)
        assert [t.condition.ms_level for t in traces] == [level] * len(SET_MZ)
        for channel, trace in enumerate(traces):
            points = spectrum_view(trace.get_points())
            np.testing.assert_array_equal(points["x"], np.float32(0.05 * np.arange(SCANS)).astype(np.float64))
            np.testing.assert_array_equal(points["intensity"], (np.arange(SCANS) + 1) * (channel + 1) * 4.0)
    reasons = dict(report.not_stored)
    assert "_FUNC003.DAT polarity" in reasons
    assert ("_FUNC003.DAT collision energy" in reasons) == (type_code == 9)


def test_a_function_of_unknown_type_is_refused_not_stored_as_absorbance(blue, tmp_path):
    report = convert(with_monitored_function(blue, tmp_path, 7), tmp_path / "run.ozra")
    assert "function type 7" in dict(report.not_stored)["_FUNC003.DAT"]
    with OzraFile(report.target) as ozra_file:
        measurement = ozra_file.get_measurement(0)
        assert (measurement.get_dad_analysis_count(), measurement.get_quan_analysis_count()) == (1, 0)


def test_method_text_cut_at_an_odd_byte_is_a_conversion_error_naming_it(tmp_path):
    run = tmp_path / "orange.D"
    shutil.copytree(VENDOR / "orange.D", run)
    method = run / "ACQ.M" / "ACQ.TXT"
    data = method.read_bytes()
    assert data[:2] == b"\xff\xfe"
    method.write_bytes(data[:len(data) // 2 * 2 - 1])
    with pytest.raises(ConversionError, match="ACQ.TXT"):
        convert(run, tmp_path / "orange.ozra")


@pytest.mark.parametrize("cut", [["DAD1.UV"], ["DAD1.UV", "ADC1A.CH", "DAD1B.ch", "DAD1C.ch"]], ids=["one", "all"])
def test_a_data_file_that_cannot_be_read_is_listed_and_a_run_with_none_is_an_error(tmp_path, cut):
    run = tmp_path / "red.D"
    shutil.copytree(VENDOR / "red.D", run)
    for name in cut:
        (run / name).write_bytes((run / name).read_bytes()[:1])
    if len(cut) > 1:
        with pytest.raises(ConversionError, match="DAD1.UV"):
            convert(run, tmp_path / "red.ozra")
        return
    report = convert(run, tmp_path / "red.ozra")
    assert "DAD1.UV" in dict(report.not_stored)
    assert not any("DAD analysis" in line for line in report.analyses)
