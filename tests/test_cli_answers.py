"""The command line refuses what would look like an answer and is not one."""

import pytest

from ozra_data_access.cli import main
from ozra_data_access.samples import write_sample
from ozra_data_access.arrays import spectrum_view


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


@pytest.fixture(scope="module")
def chromatograms_only(tmp_path_factory):
    import mzml_synthetic as syn
    from ozra_data_access.convert import convert

    folder = tmp_path_factory.mktemp("chromatograms")
    source = syn.write_mzml(folder / "tic.mzML", [], chromatograms=[syn.chromatogram(
        0, "TIC", [0.1, 0.2, 0.3], [5.0, 7.0, 6.0], [("MS:1000235", "total ion current chromatogram")])])
    convert(source, folder / "tic.ozra")
    return str(folder / "tic.ozra")


@pytest.mark.parametrize("case, status, message", [
    ("csv into a missing folder", 1, "ozra tic: /nonexistent-folder/x.csv: No such file or directory"),
    ("traces of a file without", 1, "measurement 0 holds no traces (no quantitative or analog analysis)"),
    ("tic of stored chromatograms", 1, "has no MS analysis, only traces (stored chromatograms): see `ozra trace "),
    ("empty file", 1, "at byte offset 0 (an empty file)"),
    ("cut-short file", 1, "(truncated: 2,000 bytes, its header refers to byte "),
    ("xic without m/z", 2, "ozra xic: error: xic needs --mz M (one or more) or --targets FILE (see ozra xic --help)"),
    ("existing target", 1, "the target exists (use --force"),
])
def test_messages_point_the_right_way(sample, chromatograms_only, tmp_path, capsys, case, status, message):
    from ozra_data_access.samples import write_sample as write

    no_traces = str(tmp_path / "no_traces.ozra")
    write(no_traces, scans=10, points_per_spectrum=10, dad_spectra=0, traces=False)
    (tmp_path / "empty.ozra").write_bytes(b"")
    (tmp_path / "cut.ozra").write_bytes(open(sample, "rb").read()[:2000])
    args = {
        "csv into a missing folder": ["tic", sample, "--csv", "/nonexistent-folder/x.csv"],
        "traces of a file without": ["trace", no_traces],
        "tic of stored chromatograms": ["tic", chromatograms_only],
        "empty file": ["info", str(tmp_path / "empty.ozra")],
        "cut-short file": ["info", str(tmp_path / "cut.ozra")],
        "xic without m/z": ["xic", sample, "--ppm", "5"],
        "existing target": ["convert", str(tmp_path / "empty.ozra"), sample],
    }[case]
    assert main(args) == status
    assert message in capsys.readouterr().err


def test_xic_reads_the_batch_target_table_with_each_rows_window(sample, tmp_path, capsys):
    import csv

    import numpy as np

    from ozra_data_access.access import OzraFile
    from ozra_data_access.common import ValueRange
    from ozra_data_access.qual import ChromatogramFilterOption

    with OzraFile(sample) as ozra_file:
        ms = ozra_file.get_measurement(0).get_qual_analysis(0)
        spectrum = ms.get_spectrum(18)  # an MS1+ spectrum, of the condition ozra xic takes by default
        points = spectrum_view(spectrum.get_spectrum_points())
        mz = float(points["x"][np.argmax(points["intensity"])])
        rt = (spectrum.retention_time - 3.0, spectrum.retention_time + 3.0)
        condition = ms.unique_acquisition_conditions[0]
        expected = ms.get_xic(ChromatogramFilterOption(condition, ValueRange(mz - mz * 1e-3, mz + mz * 1e-3),
                                                       ValueRange(*rt)))
    targets = tmp_path / "targets.csv"
    targets.write_text(f"id,mz,ppm,rt_min,rt_max\nPhe,{mz!r},1000,{rt[0]!r},{rt[1]!r}\n")
    out = tmp_path / "xic.csv"
    assert main(["xic", sample, "--targets", str(targets), "--csv", str(out)]) == 0
    with open(out, newline="") as stream:
        rows = list(csv.DictReader(stream))
    assert 0 < len(rows) == len(expected) < ms.get_spectra_count()
    assert [row["target"] for row in rows] == ["Phe"] * len(rows)
    assert [float(row["intensity"]) for row in rows] == [point.intensity for point in expected]


@pytest.mark.parametrize("command", [["xic", "{sample}", "--da", "0.1", "--targets", "{targets}"],
                                     ["batch", "xic", "--targets", "{targets}", "--out", "{out}", "{sample}"]])
def test_both_extractions_refuse_an_unknown_target_column(sample, tmp_path, capsys, command):
    if command[0] == "batch":
        pytest.importorskip("distributed")
    targets = tmp_path / "targets.csv"
    targets.write_text("id,mz,tolerance\nx,300.0,5\n")
    names = {"sample": sample, "targets": targets, "out": tmp_path / "out.parquet"}
    assert main([arg.format(**names) for arg in command]) == 1
    assert "unknown column(s) 'tolerance'; accepted: id, mz, ppm, da" in capsys.readouterr().err


@pytest.mark.parametrize("args, status, message", [
    (["tic"], 0, "2 polarities at MS level 1; showing POSITIVE; --polarity negative or --polarity any"),
    (["spectrum", "--rt", "999"], 0, "the spectrum nearest 999.0 min: spectrum 39 at "),
    (["tic", "--rt", "100:200"], 1, "no spectrum of the chosen conditions lies in 100-200 min (the analysis's "
                                    "spectra lie in "),
    (["info", "--measurement", "3"], 1, "no measurement 3: the file has 1"),
])
def test_the_command_says_what_it_chose_or_that_nothing_fits(sample, capsys, args, status, message):
    assert main([args[0], sample, *args[1:]]) == status
    assert message in capsys.readouterr().err


def test_any_polarity_merges_the_conditions_of_the_lowest_level(sample, capsys):
    main(["tic", sample, "--csv", "-"])
    positive = capsys.readouterr().out.splitlines()[1:]
    main(["tic", sample, "--polarity", "negative", "--ms-level", "1", "--csv", "-"])
    negative = capsys.readouterr().out.splitlines()[1:]
    main(["tic", sample, "--polarity", "any", "--csv", "-"])
    both = capsys.readouterr().out.splitlines()[1:]
    assert len(both) == len(positive) + len(negative) > len(positive) > 0


@pytest.mark.parametrize("command, stored, rebuilt", [("tic", 100.0, 1.0 + 7.0 + 3.0), ("bpc", 2.0, 7.0)])
def test_from_points_rebuilds_what_the_source_stored_otherwise(tmp_path, capsys, command, stored, rebuilt):
    import mzml_synthetic as syn
    from ozra_data_access.convert import convert

    stored_terms = [("MS:1000285", "total ion current", "100.0"), ("MS:1000504", "base peak m/z", "100.0"),
                    ("MS:1000505", "base peak intensity", "2.0")]
    spectrum = syn.spectrum(0, [100.0, 200.0, 300.0], [1.0, 7.0, 3.0], params=syn.MS1 + stored_terms,
                            scan_xml=syn.scan(1.0))
    convert(syn.write_mzml(tmp_path / "stored.mzML", [spectrum]), tmp_path / "stored.ozra")
    rows = {}
    for option in ([], ["--from-points"]):
        assert main([command, str(tmp_path / "stored.ozra"), "--csv", "-", *option]) == 0
        rows[bool(option)] = capsys.readouterr().out.splitlines()[1].split(",")
    assert float(rows[False][2]) == stored and float(rows[True][2]) == rebuilt
    if command == "bpc":
        assert float(rows[True][3]) == 200.0
