"""An OpenLab .dx archive, made here from the shared run red.D, converted and checked against rainbow-api.

The archive holds the run's absorbance spectra, one signal and one instrument telemetry trace,
named by GUIDs and described by the injection.acmd manifest as OpenLab writes them.
"""

import zipfile

import numpy as np
import pytest

from shared_data import VENDOR
from ozra_data_access.access import OzraFile
from ozra_data_access.convert import convert
from ozra_data_access.arrays import spectrum_view

rainbow = pytest.importorskip("rainbow")
pytestmark = pytest.mark.skipif(not VENDOR.is_dir(), reason="the shared vendor runs are not on this machine")

MEMBERS = [  # (file in red.D, GUID, extension, encoding, device, description, unit)
    ("DAD1.UV", "0a1b2c3d", ".UV", "Agilent.OpenLab.Rawdata/Spectra131", "DAD1", "DAD1, Spectrum", "mAU"),
    ("DAD1B.ch", "1b2c3d4e", ".CH", "Agilent.OpenLab.Rawdata/Signal179", "DAD1", "DAD1B, Sig=280,4 Ref=off", "mAU"),
    ("DAD1C.ch", "2c3d4e5f", ".IT", "Agilent.OpenLab.Rawdata/InstrumentTrace179", "Pump", "Pump pressure", "bar"),
]


def make_archive(path):
    signals = "".join(
        f"<Signal><TraceId>{guid}</TraceId><Encoding>{encoding}</Encoding><DeviceName>{device}</DeviceName>"
        f"<Description>{description}</Description><Units>{unit}</Units></Signal>"
        for _, guid, _, encoding, device, description, unit in MEMBERS)
    manifest = (f'<ACMD xmlns="urn:schemas-agilent-com:acmd20"><InjectionInfo><SampleName>red</SampleName>'
                f'</InjectionInfo><Signals>{signals}</Signals></ACMD>')
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr("injection.acmd", manifest)
        for name, guid, extension, *_ in MEMBERS:
            archive.write(VENDOR / "red.D" / name, f"Data/{guid}{extension}")
    return path


def convert_dx(source, target):
    """The archive converted as any source is: recognised by its content, read by the vendor converter."""
    return convert(source, target)


def test_absorbance_signals_and_telemetry_equal_what_rainbow_reads(tmp_path):
    source = make_archive(tmp_path / "red.dx")
    report = convert_dx(source, tmp_path / "red.ozra")
    expected = {f.name: f for f in rainbow.read(str(source), telemetry=True).datafiles}
    with OzraFile(report.target) as ozra_file:
        measurement = ozra_file.get_measurement(0)
        dad = measurement.get_dad_analysis(0)
        spectra = expected["DAD1.UV"]
        assert dad.get_spectra_count() == len(spectra.xlabels)
        for index in (0, len(spectra.xlabels) // 2, len(spectra.xlabels) - 1):
            spectrum = dad.get_spectrum(index)
            assert spectrum.retention_time == spectra.xlabels[index]
            np.testing.assert_array_equal(spectrum_view(spectrum.get_spectrum_points())["intensity"],
                                          spectra.data[index].astype(np.float64))
        traces = {t.label: t for i in range(measurement.get_analog_analysis_count())
                  for t in measurement.get_analog_analysis(i).traces}
    assert set(traces) == {"DAD1B, Sig=280,4 Ref=off", "Pump pressure"}
    assert report.not_stored == []


def test_trace_points_equal_what_rainbow_reads(tmp_path):
    source = make_archive(tmp_path / "red.dx")
    report = convert_dx(source, tmp_path / "red.ozra")
    directory = rainbow.read(str(source), telemetry=True)
    expected = {f.metadata["description"]: f for f in directory.datafiles + directory.analog}
    with OzraFile(report.target) as ozra_file:
        measurement = ozra_file.get_measurement(0)
        for i in range(measurement.get_analog_analysis_count()):
            for trace in measurement.get_analog_analysis(i).traces:
                points = spectrum_view(trace.get_points())
                datafile = expected[trace.label]
                np.testing.assert_array_equal(points["x"], np.asarray(datafile.xlabels, dtype=np.float64))
                np.testing.assert_array_equal(points["intensity"], datafile.data[:, 0].astype(np.float64))
                assert trace.unit == datafile.metadata["unit"]
