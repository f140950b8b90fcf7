"""The command line refuses what would look like an answer and is not one."""

import pytest

from ozra_data_access.cli import main
from ozra_data_access.samples import write_sample


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    path = tmp_path_factory.mktemp("answers") / "sample.ozra"
    write_sample(str(path), scans=40, points_per_spectrum=50, dad_spectra=12, wavelengths=30, seed=3)
    return str(path)


@pytest.mark.parametrize("window", [["--wavelength", "700:800"], ["--max-plot", "700:800", "--tolerance", "1"]])
def test_a_dad_window_without_wavelengths_is_refused_naming_the_range(sample, capsys, window):
    assert main(["dad", sample, *window]) == 1
    captured = capsys.readouterr()
    assert captured.out == ""
    assert f"{sample}: no wavelength of DAD analysis 0 lies in 700-800 nm (it covers " in captured.err
