"""`export_files`: a cohort exported on Dask, one task per file, failures as error rows."""

import gzip
import os

import pytest

pytest.importorskip("dask")
pytest.importorskip("psims")
mzml = pytest.importorskip("pyteomics.mzml")

from ozra_data_access.access import OzraFile  # noqa: E402
from ozra_data_access.batch import export_files  # noqa: E402
from ozra_data_access.export import MzmlOptions  # noqa: E402
from ozra_data_access.samples import write_sample  # noqa: E402


@pytest.fixture(scope="module")
def cohort(tmp_path_factory):
    folder = tmp_path_factory.mktemp("cohort")
    return [str(write_sample(folder / f"run{seed}.ozra", seed=seed, scans=30, dad_spectra=10)) for seed in (1, 2)]


@pytest.mark.parametrize("format", ["mzML.gz", "parquet"])
def test_every_file_is_exported_and_a_failure_is_an_error_row(cohort, tmp_path, format):
    missing = str(tmp_path / "missing.ozra")
    result = export_files(cohort + [missing], tmp_path / "out", format=format, scheduler="sync",
                          options=MzmlOptions(precision=32))
    assert sorted(os.path.basename(t) for t in result.exports["target"]) == [f"run1.{format}", f"run2.{format}"]
    assert list(result.errors["file"]) == [missing]
    if format == "mzML.gz":
        with OzraFile(cohort[0]) as ozra:
            measurement = ozra.get_measurement(0)
            spectra = measurement.get_qual_analysis(0).get_spectra_count() + measurement.get_dad_analysis(0).get_spectra_count()
        with gzip.open(tmp_path / "out" / "run1.mzML.gz") as file, mzml.MzML(file) as reader:
            read = list(reader)
        assert len(read) == spectra and read[0]["m/z array"].dtype == "float32"
    again = export_files(cohort[:1], tmp_path / "out", format=format, scheduler="sync")
    assert again.exports.empty and list(again.errors["error"]) == ["TargetExistsError"]


def test_an_unknown_format_or_two_files_with_one_target_are_refused_before_anything_runs(cohort, tmp_path):
    with pytest.raises(ValueError, match="the export format is one of"):
        export_files(cohort, tmp_path / "a", format="csv")
    twin = tmp_path / "twin" / "run1.ozra"
    twin.parent.mkdir()
    twin.write_bytes(open(cohort[0], "rb").read())
    with pytest.raises(ValueError, match="would both be exported"):
        export_files([cohort[0], twin], tmp_path / "b")
    assert not (tmp_path / "b").exists()
