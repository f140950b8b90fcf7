"""Vendor runs are stored as what they record, or refused with a reason: an MRM function beside the
instrument's other analog channels, an unread function type, a damaged time axis."""

import struct
import tarfile

import numpy as np
import pytest

from ozra_data_access.access import OzraFile
from ozra_data_access.arrays import spectrum_view
from ozra_data_access.convert import convert

from shared_data import VENDOR

rainbow = pytest.importorskip("rainbow")

SCANS = 40
TRANSITIONS = [(112.97, 68.95), (254.1, 91.05), (254.1, 155.2)]


def _monitoring_function(folder, number, values, times):
    """A function in the 2-byte format: one intensity per monitored channel and scan, its masses in
    _FUNCTNS.INF."""
    channels = values.shape[1]
    index = b"".join(struct.pack("<II4xf6x", scan * channels * 2, channels, time) for scan, time in enumerate(times))
    (folder / f"_FUNC{number:03d}.IDX").write_bytes(index)
    (folder / f"_FUNC{number:03d}.DAT").write_bytes((values.astype("<u2") << 3).tobytes())


def _record(type_code, precursors, products):
    record = bytearray(416)
    record[0] = type_code
    record[160:160 + 4 * len(precursors)] = np.asarray(precursors, "<f4").tobytes()
    record[288:288 + 4 * len(products)] = np.asarray(products, "<f4").tobytes()
    return bytes(record)


@pytest.fixture(scope="module")
def mrm_run(tmp_path_factory):
    """The shared Waters run with an MRM function (no polarity in _extern.inf, as such runs come), a
    function of an unread type and an analog pressure channel added."""
    folder = tmp_path_factory.mktemp("waters")
    with tarfile.open(VENDOR / "blue.raw.tar.xz") as archive:
        archive.extractall(folder, **({"filter": "data"} if hasattr(tarfile, "data_filter") else {}))
    run = folder / "blue.raw"
    rng = np.random.default_rng(5)
    times = np.linspace(0.5, 3.0, SCANS, dtype=np.float32)
    values = rng.integers(0, 8000, (SCANS, len(TRANSITIONS)))
    _monitoring_function(run, 3, values, times)
    _monitoring_function(run, 4, values[:, :1], times)
    with open(run / "_FUNCTNS.INF", "ab") as inf:
        inf.write(_record(9, [q1 for q1, _ in TRANSITIONS], [q3 for _, q3 in TRANSITIONS]))
        inf.write(_record(5, [300.0], [0.0]))
    with open(run / "_CHROMS.INF", "ab") as chroms:
        chroms.write(b" (3) System Pressure\x00$CC$,1.000000,3,0,0,psi".ljust(0x55, b"\x00"))
    pressure = np.column_stack([times, np.linspace(5000, 5100, SCANS)]).astype("<f4")
    (run / "_CHRO002.DAT").write_bytes(bytes(0x80) + pressure.tobytes())
    target = folder / "mrm.ozra"
    return run, convert(run, target), target, values, times


def test_an_unread_function_type_is_refused_and_analog_channels_are_kept(mrm_run):
    run, report, target, values, times = mrm_run
    assert ("_FUNC004.DAT", "function type 5 in _FUNCTNS.INF is not one this converter stores "
            "(MS scan, SIR, MRM, PDA)") in report.not_stored
    assert "_FUNC003.DAT collision energy" in dict(report.not_stored)
    with OzraFile(str(target)) as ozra_file:
        measurement = ozra_file.get_measurement(0)
        channels = {}
        for index in range(measurement.get_analog_analysis_count()):
            analysis = measurement.get_analog_analysis(index)
            for trace_index in range(analysis.get_trace_count()):
                trace = analysis.get_trace(trace_index)
                channels[trace.supplemental_properties["ChannelName"]] = (trace, spectrum_view(trace.get_points()))
    assert set(channels) == {"CAD", "System Pressure"}
    trace, points = channels["System Pressure"]
    assert trace.supplemental_properties["Unit"] == "psi"
    np.testing.assert_array_equal(points["intensity"], np.linspace(5000, 5100, SCANS).astype(np.float32))


def test_a_damaged_time_axis_is_refused_naming_its_file(tmp_path):
    from ozra_data_access.convert import ConversionError

    with tarfile.open(VENDOR / "blue.raw.tar.xz") as archive:
        archive.extractall(tmp_path, **({"filter": "data"} if hasattr(tarfile, "data_filter") else {}))
    channel = tmp_path / "blue.raw" / "_CHRO001.DAT"
    data = channel.read_bytes()
    channel.write_bytes(data[:0x80] + np.float32("nan").tobytes() + data[0x84:])  # the first (time, value) pair
    with pytest.raises(ConversionError, match="_CHRO001.DAT: its time axis holds nan at position 0"):
        convert(tmp_path / "blue.raw", tmp_path / "out.ozra")
