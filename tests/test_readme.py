"""The README's Python blocks run, in order, as a user pastes them into one session."""

import pathlib
import re

import pytest

README = pathlib.Path(__file__).resolve().parents[1] / "README.md"


def test_every_python_block_of_the_readme_runs_in_order(tmp_path, monkeypatch, capsys):
    pytest.importorskip("pandas")
    pytest.importorskip("distributed")
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), re.S)
    assert len(blocks) >= 3
    monkeypatch.chdir(tmp_path)
    session: dict = {}
    for number, block in enumerate(blocks):
        exec(compile(block, f"README.md, Python block {number}", "exec"), session)
    assert session["xic"] and max(point.intensity for point in session["xic"]) > 0  # the window holds signal
    assert session["matrix"].shape[0] == 2
    assert len(session["result"].chromatograms) > 0 and session["result"].errors.empty
