"""Repeated full walks and error paths keep memory and object counts flat (in a child process)."""

import pathlib
import subprocess
import sys

from ozra_data_access.samples import write_sample

SCRIPT = pathlib.Path(__file__).parent / "damage" / "leak_walk.py"


def test_repeated_walks_and_errors_do_not_grow(tmp_path):
    source = tmp_path / "sample.ozra"
    write_sample(source, scans=30, points_per_spectrum=20, dad_spectra=10, compounds=3)
    run = subprocess.run([sys.executable, str(SCRIPT), str(source), str(tmp_path), "20"],
                         capture_output=True, text=True, timeout=600)
    assert run.returncode == 0, run.stderr[-3000:]
    malloc_bytes, traced_bytes, objects = map(int, run.stdout.split())
    # Twenty rounds each make thousands of objects and megabytes of buffers; a reference
    # leaked per spectrum, point list or error (even a float's) adds more than these margins.
    assert objects <= 0 and traced_bytes < 4096 and malloc_bytes < 256 * 1024, (malloc_bytes, traced_bytes, objects)
