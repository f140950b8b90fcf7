"""Replays the file fuzzer's kept findings through the normal build, in a child process:
each may end only in OzraFormatError, as the fuzzer requires."""

import pathlib
import subprocess
import sys

import pytest

FINDINGS = sorted((pathlib.Path(__file__).parent / "fuzz_findings" / "file_fuzzer").glob("*"))
FUZZ = pathlib.Path(__file__).parent.parent / "fuzz"

REPLAY = """
import sys
import storage_walk, walk_damaged
from ozra_data_access.exception import OzraFormatError
for path in sys.argv[1:]:
    for walk in (storage_walk.walk, walk_damaged.walk):
        try:
            walk(path)
        except OzraFormatError:
            pass
print("OK")
"""


@pytest.mark.skipif(not FINDINGS, reason="no file fuzzer findings kept")
def test_kept_findings_end_in_format_errors():
    here = pathlib.Path(__file__).parent
    path = [str(FUZZ), str(here), str(here / "damage"), *sys.path]
    run = subprocess.run([sys.executable, "-c", f"import sys; sys.path[:0] = {path!r}\n" + REPLAY,
                          *map(str, FINDINGS)], capture_output=True, text=True, timeout=600)
    assert run.returncode == 0 and run.stdout.strip() == "OK", run.stderr[-3000:]
