"""The type stubs as a caller's type checker sees them: mypy over the README's examples and over a
script that uses every public method (which also runs, so that it stays true to the library)."""

import pathlib
import re
import runpy

import pytest

import ozra_data_access
from ozra_data_access.samples import write_sample

mypy_api = pytest.importorskip("mypy.api")

ROOT = pathlib.Path(__file__).resolve().parents[1]
SCRIPT = ROOT / "tests" / "typing" / "every_public_method.py"
PACKAGE = pathlib.Path(ozra_data_access.__file__).parent
INSTALLED = PACKAGE.parent.name in ("site-packages", "dist-packages")


def mypy(tmp_path, monkeypatch, *files):
    """mypy's report on the files, reading the package as an installed one (through py.typed) or from src."""
    if not INSTALLED:
        monkeypatch.setenv("MYPYPATH", str(PACKAGE.parent))
    # Errors inside the package are its own business, as for any installed library: only the callers are checked.
    out, err, status = mypy_api.run(["--follow-imports=silent", "--no-error-summary", "--cache-dir",
                                     str(tmp_path / "cache"), *map(str, files)])
    return out + err, status


def test_py_typed_is_shipped():
    assert (PACKAGE / "py.typed").is_file()


def test_the_readme_examples_and_every_public_method_type_check(tmp_path, monkeypatch):
    blocks = re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(), re.S)
    assert blocks
    readme = tmp_path / "readme_examples.py"
    readme.write_text("\n".join(blocks))
    wrong = tmp_path / "wrong_calls.py"
    wrong.write_text("from ozra_data_access.access import OzraFile\n"
                     "from ozra_data_access.common import ValueRange\n"
                     "OzraFile(3)\n"
                     "ValueRange(1.0, 2.0).contains_value('x')\n"
                     "OzraFile('a').get_measurement(0).get_dad_analysis(0).get_chromatogram((250.0, 260.0))\n")
    report, status = mypy(tmp_path, monkeypatch, readme, SCRIPT, wrong)
    errors = [line for line in report.splitlines() if ": error:" in line]
    assert status == 1 and all(line.startswith(str(wrong)) for line in errors), report
    assert sorted(int(line.split(":")[1]) for line in errors) == [3, 4, 5], report


def test_the_script_runs_on_a_file_of_every_kind(tmp_path):
    functions = runpy.run_path(str(SCRIPT))
    functions["use_values"]()
    functions["use_file"](str(write_sample(tmp_path / "sample.ozra", seed=4)))
