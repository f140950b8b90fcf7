"""Conditions of files whose scan windows are each spectrum's own m/z extent (data-derived)."""

import numpy as np
import pytest

import mzml_synthetic as syn
from ozra_data_access.access import OzraFile
from ozra_data_access.common import PolarityTypes, ValueRange
from ozra_data_access.convert import convert
from ozra_data_access.qual import ChromatogramFilterOption

mzml = pytest.importorskip("pyteomics.mzml")

NEGATIVE_MS1 = [("MS:1000511", "ms level", "1"), ("MS:1000579", "MS1 spectrum"), ("MS:1000129", "negative scan"),
                ("MS:1000127", "centroid spectrum")]


def run_with_windows(path, window_of):
    """60 MS1 spectra alternating positive and negative; `window_of(i, mz)` gives each one's scan window."""
    rng = np.random.default_rng(5)
    spectra = []
    for i in range(60):
        mz = np.sort(rng.uniform(100, 900, 40)).round(4)
        intensity = rng.uniform(1, 1e5, 40).round(1)
        spectra.append(syn.spectrum(i, mz, intensity, syn.MS1 if i % 2 == 0 else NEGATIVE_MS1,
                                    syn.scan(0.02 * i, window=window_of(i, mz))))
    return syn.write_mzml(path, spectra)


def analysis_of(path):
    ozra_file = OzraFile(str(path))
    return ozra_file, ozra_file.get_measurement(0).get_qual_analysis(0)


def test_data_derived_windows_give_one_condition_per_polarity_and_exact_chromatograms(tmp_path):
    source = run_with_windows(tmp_path / "derived.mzML", lambda i, mz: (mz[0], mz[-1]))
    convert(source, tmp_path / "derived.ozra")
    with mzml.read(str(source)) as reader:
        expected = [(s["scanList"]["scan"][0]["scan start time"], "positive scan" in s, s["m/z array"],
                     s["intensity array"]) for s in reader]
    ozra_file, analysis = analysis_of(tmp_path / "derived.ozra")
    with ozra_file:
        conditions = analysis.unique_acquisition_conditions
        assert [(c.ms_level, c.polarity, c.mass_range) for c in conditions] == [
            (1, PolarityTypes.POSITIVE, None), (1, PolarityTypes.NEGATIVE, None)]
        window = ValueRange(400.0, 500.0)
        for condition, positive in zip(conditions, (True, False)):
            mine = [e for e in expected if e[1] == positive]
            tic = analysis.get_tic(condition)
            bpc = analysis.get_bpc(condition)
            xic = analysis.get_xic(ChromatogramFilterOption(condition, window))
            assert [p.retention_time for p in tic] == [float(e[0]) for e in mine]
            assert [p.intensity for p in tic] == pytest.approx([e[3].sum() for e in mine], rel=1e-12)
            assert [(p.intensity, p.x) for p in bpc] == [(e[3].max(), e[2][e[3].argmax()]) for e in mine]
            assert [p.intensity for p in xic] == pytest.approx(
                [e[3][(e[2] >= 400.0) & (e[2] <= 500.0)].sum() for e in mine], rel=1e-12)
        # Each spectrum keeps the window it was given.
        assert analysis.get_spectrum(3).acquisition_condition.mass_range is None


@pytest.mark.parametrize("window_of, expected", [
    (lambda i, mz: (100.0, 900.0), [ValueRange(100.0, 900.0)] * 2),
    # Two SIM segments repeated through the run: settings, one condition each.
    (lambda i, mz: (100.0, 500.0) if i % 4 < 2 else (500.0, 900.0),
     [ValueRange(100.0, 500.0), ValueRange(100.0, 500.0), ValueRange(500.0, 900.0), ValueRange(500.0, 900.0)]),
    # One spectrum of a group with a window of its own: the group's windows are not settings.
    (lambda i, mz: (100.0, 900.0) if i != 10 else (100.0, 901.0), [None, ValueRange(100.0, 900.0)]),
])
def test_repeated_windows_are_settings(tmp_path, window_of, expected):
    convert(run_with_windows(tmp_path / "run.mzML", window_of), tmp_path / "run.ozra")
    ozra_file, analysis = analysis_of(tmp_path / "run.ozra")
    with ozra_file:
        assert [c.mass_range for c in analysis.unique_acquisition_conditions] == expected
