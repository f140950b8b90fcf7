"""chromatogram_frame: the chromatogram points as a pandas DataFrame, value for value."""

import sys

import numpy as np
import pytest

from ozra_data_access.access import OzraFile
from ozra_data_access.common import SpectrumBasedChromatogramPoint, ValueRange
from ozra_data_access.qual import ChromatogramFilterOption
from ozra_data_access.samples import write_sample

pandas = pytest.importorskip("pandas")
from ozra_data_access.frames import chromatogram_frame  # noqa: E402


@pytest.fixture(scope="module")
def results(tmp_path_factory):
    path = write_sample(tmp_path_factory.mktemp("frames") / "sample.ozra", seed=5)
    with OzraFile(str(path)) as f:
        measurement = f.get_measurement(0)
        ms = measurement.get_qual_analysis(0)
        condition = ms.unique_acquisition_conditions[0]
        dad = measurement.get_dad_analysis(0)
        return {"tic": ms.get_tic(condition), "bpc": ms.get_bpc(condition),
                "xic": ms.get_xic(ChromatogramFilterOption(condition, ValueRange(400.0, 401.0))),
                "dad": dad.get_chromatogram(ValueRange(250.0, 260.0)),
                "max plot": dad.get_max_plot(ValueRange(190.0, 600.0), 2.0),
                "no x": [SpectrumBasedChromatogramPoint(3, 0.5, 7, None)], "empty": []}


@pytest.mark.parametrize("kind", ["tic", "bpc", "xic", "dad", "max plot", "no x", "empty"])
def test_the_frame_holds_every_point_exactly(results, kind):
    points = results[kind]
    frame = chromatogram_frame(points)
    assert list(frame.columns) == ["retention_time", "intensity", "x", "spectrum_index"]
    assert [str(t) for t in frame.dtypes] == ["float64", "float64", "float64", "int64"]
    assert len(frame) == len(points)
    assert frame["retention_time"].tolist() == [p.retention_time for p in points]
    assert frame["intensity"].tolist() == [float(p.intensity) for p in points]
    assert frame["spectrum_index"].tolist() == [p.spectrum_index for p in points]
    x = frame["x"].to_numpy()
    assert [None if np.isnan(v) else v for v in x] == [p.x for p in points]


def test_without_pandas_the_error_names_the_extra(results, monkeypatch):
    monkeypatch.setitem(sys.modules, "pandas", None)
    with pytest.raises(ImportError, match=r"ozra_data_access\[frames\]"):
        chromatogram_frame(results["tic"])
