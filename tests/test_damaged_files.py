"""Damaged files: truncated anywhere or with flipped bits, they raise OzraFormatError and nothing else."""

import os
import subprocess
import sys

import pytest

from ozra_data_access.samples import write_sample

SCRIPT = os.path.join(os.path.dirname(__file__), "damage", "walk_damaged.py")


@pytest.mark.parametrize("encoding", ["zstd", "raw"])
def test_damaged_copies_fail_cleanly(tmp_path, encoding):
    source = write_sample(
        tmp_path / "sample.ozra", scans=24, points_per_spectrum=12, dad_spectra=6, wavelengths=16,
        compounds=4, seed=3, point_encoding=encoding,
    )
    # A child process, so that a crash shows as an exit status with the output so far.
    run = subprocess.run(
        [sys.executable, SCRIPT, str(source), str(tmp_path), "11"], capture_output=True, text=True, timeout=900
    )
    assert run.returncode == 0, f"exit {run.returncode}\n{run.stdout[-4000:]}\n{run.stderr[-4000:]}"
    summary = run.stdout.strip().splitlines()[-1]
    assert " 0 other errors" in summary
    peak_growth_kib = int(summary.rsplit("growth ", 1)[1].split()[0])
    assert peak_growth_kib < 64 * 1024, summary
