"""`force` replaces only what a batch wrote, and a replaced output is never missing."""

import os
import shutil

import pytest

pandas = pytest.importorskip("pandas")
pytest.importorskip("pyarrow")

from ozra_data_access.batch import extract_chromatograms  # noqa: E402
from ozra_data_access.batch import output as output_module  # noqa: E402
from ozra_data_access.samples import write_sample  # noqa: E402


@pytest.fixture
def run(tmp_path):
    path = tmp_path / "inputs" / "run.ozra"
    path.parent.mkdir()
    write_sample(str(path), scans=30, points_per_spectrum=40, dad_spectra=5, wavelengths=10, compounds=2, seed=1)
    return path


def _tic(run, out):
    return extract_chromatograms([str(run)], kinds=("TIC",), scheduler="sync", out=out, force=True)


def test_force_replaces_an_earlier_batch_output_and_keeps_its_table(run, tmp_path):
    out = tmp_path / "tic.parquet"
    first = pandas.read_parquet(_tic(run, out).written["dataset"])
    (out / "stale-part.parquet").write_bytes(b"left by the earlier batch")
    second = _tic(run, out)
    pandas.testing.assert_frame_equal(pandas.read_parquet(second.written["dataset"]), first)
    assert "stale-part.parquet" not in os.listdir(out)
    assert not [name for name in os.listdir(tmp_path) if name.endswith(".partial")]


@pytest.mark.parametrize("victim", ["user folder", "input file", "inputs' folder", "beside table"])
def test_force_never_replaces_what_a_batch_did_not_write(run, tmp_path, victim):
    if victim == "user folder":
        out = tmp_path / "thesis"
        (out / "chapter").mkdir(parents=True)
        (out / "chapter" / "draft.txt").write_text("years of work")
    elif victim == "input file":
        out = run
    elif victim == "inputs' folder":
        out = run.parent
    else:
        out = tmp_path / "tic.parquet"
        _tic(run, out)
        (tmp_path / "tic.errors.parquet").unlink()
        (tmp_path / "tic.errors.parquet").mkdir()  # a folder of the user's under a table's name
    before = sorted(str(path) for path in tmp_path.rglob("*"))
    with pytest.raises(FileExistsError, match="never replaced"):
        _tic(run, out)
    assert sorted(str(path) for path in tmp_path.rglob("*")) == before


def test_a_stop_during_replacement_leaves_the_old_dataset_in_place(run, tmp_path, monkeypatch):
    out = tmp_path / "tic.parquet"
    old = pandas.read_parquet(_tic(run, out).written["dataset"])

    def stop_after_the_tables(staged, final):
        if os.path.isdir(staged):
            raise KeyboardInterrupt
        os.replace(staged, final)

    monkeypatch.setattr(output_module, "_put_in_place", stop_after_the_tables)
    with pytest.raises(KeyboardInterrupt):
        _tic(run, out)
    pandas.testing.assert_frame_equal(pandas.read_parquet(out), old)
    assert not [name for name in os.listdir(tmp_path) if name.endswith(".partial")]


@pytest.mark.parametrize("system_exchange", [True, False])
def test_exchange_swaps_two_folders(tmp_path, monkeypatch, system_exchange):
    from ozra_data_access.batch import swap

    if not system_exchange:
        monkeypatch.setattr(swap, "_RENAMEAT2", None)
    (tmp_path / "a").mkdir()
    (tmp_path / "a" / "from_a").write_text("a")
    (tmp_path / "b").mkdir()
    (tmp_path / "b" / "from_b").write_text("b")
    swap.exchange(str(tmp_path / "a"), str(tmp_path / "b"))
    assert os.listdir(tmp_path / "a") == ["from_b"] and os.listdir(tmp_path / "b") == ["from_a"]
    shutil.rmtree(tmp_path / "a")
    assert sorted(os.listdir(tmp_path)) == ["b"]
