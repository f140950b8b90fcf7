"""Files written by earlier versions of the writer (tests/data/frozen/, never regenerated: see
scripts/make_frozen_files.py) read back to the values they were written with."""

import pathlib

import numpy as np
import pytest

from ozra_data_access.access import OzraFile
from ozra_data_access.common import ValueRange
from ozra_data_access.arrays import spectrum_view

FROZEN = pathlib.Path(__file__).resolve().parent / "data" / "frozen"
FILES = sorted(path.name for path in FROZEN.glob("*.ozra"))


def test_every_encoding_and_width_is_frozen():
    assert FILES == [f"v1.0.0-{encoding}-f{bits}.ozra" for encoding in ("raw", "zstd", "zstd-shuffle")
                     for bits in (32, 64)]


def _pairs(points):
    return [(point.x, point.intensity) for point in points]


@pytest.mark.parametrize("name", FILES)
def test_a_frozen_file_reads_back_what_was_written(name):
    with OzraFile(str(FROZEN / name)) as ozra_file:
        assert ozra_file.get_file_format_version() == "1.0.0" and ozra_file.get_measurement_count() == 1
        measurement = ozra_file.get_measurement(0)
        assert measurement.sample_name == "frozen"
        ms = measurement.get_qual_analysis(0)
        first, second = ms.get_spectrum(0), ms.get_spectrum(1)
        assert (first.retention_time, second.retention_time) == (0.5, 1.0)
        assert _pairs(first.get_spectrum_points()) == [(100.5, 1.5), (200.25, 2.25), (300.125, 1024.0)]
        assert _pairs(first.get_profile_spectrum_points()) == [(100.25, 0.5), (100.5, 1.5), (100.75, 0.75)]
        assert _pairs(second.get_spectrum_points()) == [(150.0, 8.0), (250.5, 0.125)]
        tic = [point for condition in ms.unique_acquisition_conditions for point in ms.get_tic(condition)]
        assert sorted((p.retention_time, p.intensity) for p in tic) == [(0.5, 1027.75), (1.0, 8.125)]
        dad = measurement.get_dad_analysis(0)
        assert _pairs(dad.get_spectrum(0).get_spectrum_points()) == [(254.0, 0.5), (255.0, 0.25), (256.0, 0.125)]
        assert [p.intensity for p in dad.get_chromatogram(ValueRange(254.0, 255.0))] == [0.375]
        trace = measurement.get_analog_analysis(0).get_trace(0)
        assert (trace.label, trace.unit) == ("pressure", "bar")
        points = spectrum_view(trace.get_points())
        assert points["x"].tolist() == [0.0, 0.5, 1.0] and points["intensity"].tolist() == [10.0, 12.5, 11.0]
