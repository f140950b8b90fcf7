"""Vendor runs are stored as what they record, or refused with a reason: Waters MRM and SIR functions
as traces (never as diode-array spectra), unread function types and damaged data files named."""

import shutil
import struct
import tarfile

import numpy as np
import pytest

from ozra_data_access.access import OzraFile
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


def test_mrm_transitions_are_traces_with_their_reaction_and_no_diode_array_analysis(mrm_run):
    run, report, target, values, times = mrm_run
    with OzraFile(str(target)) as ozra_file:
        measurement = ozra_file.get_measurement(0)
        assert measurement.get_dad_analysis_count() == 1  # the run's real PDA function only
        assert measurement.get_dad_analysis(0).get_spectra_count() == 3001
        quan = measurement.get_quan_analysis(0)
        assert quan.get_trace_count() == len(TRANSITIONS)
        for column, (precursor, product) in enumerate(TRANSITIONS):
            trace = quan.get_trace(column)
            points = np.asarray(trace.get_points())
            np.testing.assert_array_equal(points["x"], times.astype(np.float64))
            np.testing.assert_array_equal(points["intensity"], values[:, column].astype(np.float64))
            condition = str(trace.condition)
            assert condition.startswith(f"MS2, [Precursor Value] {float(np.float32(precursor))}")
            assert "Product Ion Scan" in condition and str(float(np.float32(product))) in condition
    read = rainbow.read(str(run))
    rainbow_mrm = next(f for f in read.datafiles if f.name == "_FUNC003.DAT")
    assert rainbow_mrm.detector == "UV"  # what a reader's label alone would have stored as DAD
    np.testing.assert_array_equal(rainbow_mrm.data, values)


def test_an_unread_function_type_is_refused_and_analog_channels_are_kept(mrm_run):
    run, report, target, values, times = mrm_run
    assert ("_FUNC004.DAT", "its function type (code 5 in _FUNCTNS.INF) is not one this converter reads "
            "(MS scan, SIR, MRM, diode array)") in report.not_stored
    assert any("collision energies not stored" in note for note in report.notes)
    with OzraFile(str(target)) as ozra_file:
        measurement = ozra_file.get_measurement(0)
        channels = {}
        for index in range(measurement.get_analog_analysis_count()):
            analysis = measurement.get_analog_analysis(index)
            for trace_index in range(analysis.get_trace_count()):
                trace = analysis.get_trace(trace_index)
                channels[trace.supplemental_properties["ChannelName"]] = (trace, np.asarray(trace.get_points()))
    assert set(channels) == {"CAD", "System Pressure"}
    trace, points = channels["System Pressure"]
    assert trace.supplemental_properties["Unit"] == "psi"
    np.testing.assert_array_equal(points["intensity"], np.linspace(5000, 5100, SCANS).astype(np.float32))


@pytest.mark.parametrize("run, damage, expected", [
    ("red.D", "DAD1.UV", ("not stored", "DAD1.UV")),
    ("orange.D", "ACQ.M/ACQ.TXT", ("error", "ACQ.TXT: the method text is damaged")),
    ("blue.raw", "_CHRO001.DAT", ("error", "_CHRO001.DAT: its time axis holds nan at position 0")),
])
def test_a_damaged_agilent_file_is_named_never_dropped_in_silence(tmp_path, run, damage, expected):
    from ozra_data_access.convert import ConversionError

    copy = tmp_path / run
    if run.endswith(".raw"):
        with tarfile.open(VENDOR / f"{run}.tar.xz") as archive:
            archive.extractall(tmp_path, **({"filter": "data"} if hasattr(tarfile, "data_filter") else {}))
    else:
        shutil.copytree(VENDOR / run, copy)
    data = (copy / damage).read_bytes()
    if damage.endswith(".UV"):
        data = data[:1]
    elif damage.endswith(".TXT"):
        data = data[:len(data) // 2 | 1]
    else:  # the first time of the channel's (time, value) pairs
        data = data[:0x80] + np.float32("nan").tobytes() + data[0x84:]
    (copy / damage).write_bytes(data)
    if expected[0] == "error":
        with pytest.raises(ConversionError, match=expected[1]):
            convert(copy, tmp_path / "out.ozra")
    else:
        report = convert(copy, tmp_path / "out.ozra")
        assert [name for name, _ in report.not_stored] == [expected[1]]
