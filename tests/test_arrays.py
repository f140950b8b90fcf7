"""The numpy columns of chromatograms and spectrum points against the point lists."""

import math
import subprocess
import sys

import numpy as np
import pytest

from ozra_data_access.access import OzraFile
from ozra_data_access.arrays import chromatogram_arrays, spectrum_arrays, spectrum_view
from ozra_data_access.common import SpectrumBasedChromatogramPoint, ValueRange
from ozra_data_access.qual import ChromatogramFilterOption
from ozra_data_access.samples import write_sample


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    path = write_sample(tmp_path_factory.mktemp("arrays") / "sample.ozra", scans=120, dad_spectra=60, seed=3)
    with OzraFile(str(path)) as f:
        yield f.get_measurement(0)


def same_bits(column, values):
    """The column holds exactly these values, NaN where a value is None."""
    expected = np.array([math.nan if v is None else v for v in values], dtype=column.dtype)
    return column.tobytes() == expected.tobytes()


def assert_columns_equal(points):
    arrays = chromatogram_arrays(points)
    assert [a.dtype for a in arrays] == [np.float64, np.float64, np.float64, np.int64]
    assert all(len(a) == len(points) for a in arrays)
    assert same_bits(arrays.retention_time, [p.retention_time for p in points])
    assert same_bits(arrays.intensity, [p.intensity for p in points])
    assert same_bits(arrays.x, [p.x for p in points])
    assert arrays.spectrum_index.tolist() == [p.spectrum_index for p in points]


CHROMATOGRAMS = {
    "tic": lambda m: m.get_qual_analysis(0).get_tic(m.get_qual_analysis(0).unique_acquisition_conditions[0]),
    "bpc": lambda m: m.get_qual_analysis(0).get_bpc(m.get_qual_analysis(0).unique_acquisition_conditions[1]),
    "xic": lambda m: m.get_qual_analysis(0).get_xic(ChromatogramFilterOption(
        m.get_qual_analysis(0).unique_acquisition_conditions[0], ValueRange(300.0, 400.0))),
    "xic without matches": lambda m: m.get_qual_analysis(0).get_xic(ChromatogramFilterOption(
        m.get_qual_analysis(0).unique_acquisition_conditions[0], ValueRange(1.0, 2.0))),
    "dad chromatogram": lambda m: m.get_dad_analysis(0).get_chromatogram(ValueRange(250.0, 260.0)),
    "max plot": lambda m: m.get_dad_analysis(0).get_max_plot(ValueRange(250.0, 260.0), 0.5),
    "empty max-plot window": lambda m: m.get_dad_analysis(0).get_max_plot(ValueRange(1.0, 2.0), 0.5),
}


@pytest.mark.parametrize("make", CHROMATOGRAMS.values(), ids=CHROMATOGRAMS.keys())
def test_chromatogram_columns_equal_the_points(sample, make):
    points = make(sample)
    assert points
    assert_columns_equal(points)


@pytest.mark.parametrize("points", [
    [],
    [SpectrumBasedChromatogramPoint(7, 1.5, 0, None), SpectrumBasedChromatogramPoint(2**40, -0.0, -1, 5)],
    # Anything with the four attributes is read through them.
    [type("Point", (), {"spectrum_index": 3, "retention_time": 2.0, "intensity": 1e300, "x": math.inf})()],
    # Points with C numbers first, then one the list's direct walk cannot read.
    [SpectrumBasedChromatogramPoint(1, 0.5, 2.0, None), SpectrumBasedChromatogramPoint(2, 0.75, math.nan, 3.5)],
    [SpectrumBasedChromatogramPoint(1, 0.5, 2.0, None),
     type("Point", (), {"spectrum_index": 4, "retention_time": 1.0, "intensity": 8.0, "x": None})()],
    type("Points", (list,), {})([SpectrumBasedChromatogramPoint(5, 1.25, 3.0, 400.0)]),
], ids=["empty", "ints and None", "foreign records", "NaN after numbers", "foreign after native", "list subclass"])
def test_chromatogram_columns_of_other_points(points):
    assert_columns_equal(points)


@pytest.mark.parametrize("point, message", [
    (SpectrumBasedChromatogramPoint(0, None, 1.0, 1.0), "point 0: retention_time must be a real number, not NoneType"),
    (SpectrumBasedChromatogramPoint(0.5, 1.0, 1.0, 1.0), "point 0: spectrum_index must be an integer, not float"),
    (SpectrumBasedChromatogramPoint(0, 1.0, 1.0, "a"), "point 0: x must be a real number or None, not str"),
])
def test_chromatogram_columns_name_the_bad_value(point, message):
    with pytest.raises(TypeError, match=f"^{message}$"):
        chromatogram_arrays([point])


def test_spectrum_columns_equal_the_points(sample):
    ms = sample.get_qual_analysis(0)
    for index in (0, 7, ms.get_spectra_count() - 1):
        points = ms.get_spectrum(index).get_spectrum_points()
        x, intensity = spectrum_arrays(points)
        pairs = np.asarray(points)
        view = spectrum_view(points)
        assert pairs.shape == (len(points), 2) and np.shares_memory(pairs, view)
        assert view.tobytes() == pairs.tobytes()
        assert x.flags.c_contiguous and intensity.flags.c_contiguous
        assert x.tobytes() == view["x"].tobytes() == pairs[:, 0].tobytes()
        assert intensity.tobytes() == view["intensity"].tobytes() == pairs[:, 1].tobytes()
        # A plain sequence of records gives the same columns.
        records = [points[i] for i in range(len(points))]
        assert all(a.tobytes() == b.tobytes() for a, b in zip(spectrum_arrays(records), (x, intensity)))


def test_arrays_import_first():
    """The module loads the storage layer it reads, whatever was imported before."""
    code = "from ozra_data_access.arrays import chromatogram_arrays; print(len(chromatogram_arrays([]).x))"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert done.stdout == "0\n", done.stderr


def test_empty_max_plot_window_keeps_integers(sample):
    points = sample.get_dad_analysis(0).get_max_plot(ValueRange(1.0, 2.0), 0.5)
    assert points and {(type(p.intensity), p.intensity, type(p.x), p.x) for p in points} == {(int, 0, int, -1)}
