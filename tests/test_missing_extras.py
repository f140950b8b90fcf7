"""Without an optional extra, the message says which extra to install and what to do instead."""

import subprocess
import sys

import mzml_synthetic as syn


def _run_without(module, code):
    """Runs `code` in a fresh interpreter in which `module` cannot be imported."""
    program = f"import sys; sys.modules[{module!r}] = None\n{code}"
    return subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, timeout=120)


def test_the_batch_layer_without_pandas_names_its_extra():
    result = _run_without("pandas", "import ozra_data_access.batch")
    assert "ozra_data_access.batch needs the [batch] extra" in result.stderr
    assert "pip install 'ozra_data_access[batch]'" in result.stderr


def test_profile_conversion_without_scipy_names_the_command_line_option(tmp_path):
    source = syn.write_mzml(tmp_path / "profile.mzML", [syn.spectrum(
        0, [100.0, 100.01, 100.02], [1.0, 5.0, 1.0], scan_xml=syn.scan(1.0),
        params=[p for p in syn.MS1 if p[0] != "MS:1000127"] + [("MS:1000128", "profile spectrum")])])
    result = _run_without("scipy", "from ozra_data_access.cli import main; "
                                   f"sys.exit(main(['convert', {str(source)!r}, {str(tmp_path / 'out.ozra')!r}]))")
    assert result.returncode == 1
    assert "or convert with --profile-only (profile_only=True in Python)" in result.stderr


def test_export_without_psims_or_pyarrow_names_the_export_extra(tmp_path):
    from ozra_data_access.samples import write_sample

    source = write_sample(tmp_path / "run.ozra", scans=12, dad_spectra=4)
    for module, target in (("psims", "run.mzML"), ("pyarrow", "run.parquet")):
        result = _run_without(module, "from ozra_data_access.cli import main; "
                                       f"sys.exit(main(['export', {str(source)!r}, {str(tmp_path / target)!r}]))")
        assert result.returncode == 1 and "pip install 'ozra_data_access[export]'" in result.stderr, result.stderr
        assert not (tmp_path / target).exists()
