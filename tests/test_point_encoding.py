"""The zstd-shuffle point encoding: the same points, bit for bit, as zstd, on the shared real files
and on drawn arrays, with the stored bytes as docs/format.md lays them out (tests/ozra_decoding.py)."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import ozra_bytes as ob
import ozra_decoding
from shared_data import DATA, MZML_FILES
from ozra_data_access.convert import convert_mzml
from ozra_data_access.writer import FunctionData, MeasurementData, SpectrumData, write_file


def read_points(path):
    """Every points buffer of the file (profiles and DAD spectra included), in file order, as bytes."""
    _, measurements = ob.walk(path)
    return [np.asarray(p).tobytes() for _, functions in measurements for _, _, points in functions for p in points]


def stored_encodings(path):
    """The encoding of every stored points block, read byte by byte."""
    return {points[0]["encoding"]
            for m in ozra_decoding.read_file(path)["measurements"] for f in m["functions"] for s in f["spectra"]
            for points in (s["points"], s["profile"]) if points}


@pytest.mark.skipif(not MZML_FILES, reason="the shared mzML files are not on this machine")
@pytest.mark.parametrize("name", MZML_FILES)
def test_real_files_read_back_as_their_zstd_conversion(tmp_path, name):
    zstd = convert_mzml(DATA / name, tmp_path / "zstd.ozra")
    shuffled = convert_mzml(DATA / name, tmp_path / "shuffled.ozra", point_encoding="zstd-shuffle")
    assert stored_encodings(zstd) == {1} and stored_encodings(shuffled) == {2}
    assert read_points(shuffled) == read_points(zstd)


# Sorted x values over the whole float64 line (signed zeros, infinities, subnormals, repeats),
# and any intensities, NaN included; enough points to cross the decoder's chunks.
x_values = hnp.arrays(np.float64, st.integers(0, 700), elements=st.floats(allow_nan=False)).map(np.sort)


@pytest.mark.filterwarnings("ignore:invalid value encountered")  # the writer's summary of inf + -inf
@pytest.mark.filterwarnings("ignore:overflow encountered")  # the writer's summary of drawn huge intensities
@settings(max_examples=40, deadline=None)
@given(x=x_values, data=st.data(), width=st.sampled_from([4, 8]), dad=st.booleans())
def test_drawn_points_read_back_bit_for_bit(tmp_path_factory, x, data, width, dad):
    dtype = np.float32 if width == 4 else np.float64
    intensity = data.draw(hnp.arrays(dtype, len(x), elements=st.floats(width=8 * width)))
    spectrum = SpectrumData(retention_time=1.0, x=None if dad else x, intensity=intensity)
    function = FunctionData.dad([spectrum], wavelengths=x) if dad else FunctionData.qual_ms([spectrum])
    path = write_file(tmp_path_factory.mktemp("drawn") / "drawn.ozra", [MeasurementData([function])],
                      point_encoding="zstd-shuffle", intensity_width=width)
    (points,) = read_points(path)
    expected = np.empty(len(x), [("x", "<f8"), ("intensity", "<f8")])
    expected["x"], expected["intensity"] = x, intensity
    assert points == expected.tobytes()
    (spectrum,) = ozra_decoding.read_file(path)["measurements"][0]["functions"][0]["spectra"]
    header, stored_x, stored_intensity = spectrum["points"]
    assert header == {"encoding": 2, "width": width}
    assert stored_intensity.tobytes() == intensity.tobytes()
    assert stored_x is None if dad else stored_x.tobytes() == x.tobytes()


def test_large_spectra_decode_with_the_interpreter_lock_released_alike(tmp_path):
    # 40,000 points: the decode runs without the interpreter lock, over many chunks.
    x = np.cumsum(np.random.default_rng(5).exponential(0.01, 40_000)) + 100.0
    intensity = np.random.default_rng(6).lognormal(8, 2, 40_000)
    files = [write_file(tmp_path / f"{encoding}.ozra", [MeasurementData([FunctionData.qual_ms(
                 [SpectrumData(retention_time=1.0, x=x, intensity=intensity)] * 2)])],
                 point_encoding=encoding, intensity_width=8) for encoding in ("zstd", "zstd-shuffle")]
    zstd, shuffled = map(read_points, files)
    assert shuffled == zstd and len(zstd[0]) == 16 * 40_000
