"""Writes the frozen format files of tests/data/frozen/: one small file per point encoding and
intensity width, holding an MS function (centroid and profile points), a DAD function and a trace.

Run once when a new encoding, width or format version is added, and commit the new files; never
regenerate existing ones: tests/test_frozen_files.py reads them back against values written out
in the test, so a reader change that breaks files already written fails there."""

import os
import sys

from ozra_data_access._internal._enum import SpectrumTypes
from ozra_data_access.writer import FunctionData, MeasurementData, SpectrumData, write_file
from ozra_data_access.writer.blocks import FORMAT_VERSION
from ozra_data_access.writer.model import INTENSITY_WIDTHS, POINT_ENCODINGS

FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "frozen")


def measurement() -> MeasurementData:
    ms = FunctionData.qual_ms([
        SpectrumData(retention_time=0.5, x=[100.5, 200.25, 300.125], intensity=[1.5, 2.25, 1024.0],
                     profile_x=[100.25, 100.5, 100.75], profile_intensity=[0.5, 1.5, 0.75],
                     spectrum_type=SpectrumTypes.CENTROID),
        SpectrumData(retention_time=1.0, x=[150.0, 250.5], intensity=[8.0, 0.125]),
    ])
    dad = FunctionData.dad([SpectrumData(retention_time=0.25, intensity=[0.5, 0.25, 0.125], ms_level=None,
                                         polarity=None, spectrum_type=SpectrumTypes.PROFILE)],
                           wavelengths=[254.0, 255.0, 256.0])
    trace = FunctionData.analog([SpectrumData(retention_time=None, x=[0.0, 0.5, 1.0], intensity=[10.0, 12.5, 11.0],
                                              spectrum_type=SpectrumTypes.UNKNOWN, ms_level=None, polarity=None,
                                              supplemental_properties={"ChannelName": "pressure", "Unit": "bar"})])
    return MeasurementData(functions=[ms, dad, trace], sample_name="frozen")


def main() -> int:
    os.makedirs(FOLDER, exist_ok=True)
    version = ".".join(map(str, FORMAT_VERSION))
    for encoding in POINT_ENCODINGS:
        for width in INTENSITY_WIDTHS:
            path = os.path.join(FOLDER, f"v{version}-{encoding}-f{width * 8}.ozra")
            if os.path.exists(path):
                continue  # frozen: written once
            write_file(path, [measurement()], point_encoding=encoding, intensity_width=width,
                       converter_version=(0, 0, 0))
            print("wrote", path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
