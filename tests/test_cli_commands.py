"""The `ozra` subcommands through the real entry point, on converted real measurements.

Each command runs as `python -m ozra_data_access` in a child process; its CSV must give back the
library's own values to the last bit, and every bad input one line on stderr with the right status.
"""

import argparse
import csv
import io
import lzma
import os
import pathlib
import subprocess
import sys

import pytest

import ozra_data_access
from shared_data import DATA, MZML_FILES
from ozra_data_access.access import OzraFile
from ozra_data_access.cli import build_parser
from ozra_data_access.common import ValueRange
from ozra_data_access.convert import convert_mzml
from ozra_data_access.qual import ChromatogramFilterOption
from ozra_data_access.writer.model import POINT_ENCODINGS

# The child imports the very package this test imports: the built tree under src/ in development,
# the installed one otherwise.
PACKAGE_ROOT = pathlib.Path(ozra_data_access.__file__).resolve().parents[1]
SOURCES = {"dda": "171103_PMA_TK_QC_04-4to5min.mzML", "switching": "ginkgotoxin-ms-switching_out.mzML",
           "uv": "uv_test_mini.mzML.gz", "small": "small.mzML", "srm": "wk_chrom.mzML.gz"}

pytestmark = pytest.mark.skipif(not MZML_FILES, reason="the shared mzML files are not on this machine")


def ozra(*args, cwd=None, env=None):
    """Runs the command; returns the finished process with text stdout and stderr."""
    environment = {**os.environ, "PYTHONPATH": str(PACKAGE_ROOT), **(env or {})}
    return subprocess.run([sys.executable, "-m", "ozra_data_access", *map(str, args)],
                          capture_output=True, text=True, cwd=cwd, env=environment, timeout=120)


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("converted")
    return {key: convert_mzml(DATA / name, folder / f"{key}.ozra") for key, name in SOURCES.items()}


def csv_rows(text):
    return list(csv.reader(io.StringIO(text)))


def point_rows(points):
    """The rows the CSV must hold for chromatogram points, as the exact text Python gives the values."""
    return [[str(p.spectrum_index), repr(p.retention_time), repr(p.intensity), repr(p.x)] for p in points]


def library_chromatogram(path, command):
    with OzraFile(str(path)) as f:
        ms = f.get_measurement(0).get_qual_analysis(0)
        conditions = ms.unique_acquisition_conditions
        if command == "tic-positive":
            chosen = [c for c in conditions if c.ms_level == 1 and c.polarity.name == "POSITIVE"]
            return ms.get_tic(chosen[0])
        if command == "bpc-ms2":
            points = [p for c in conditions if c.ms_level == 2 for p in ms.get_bpc(c, ValueRange(4.2, 4.6))]
            return sorted(points, key=lambda p: p.spectrum_index)
        first_ms1 = next(c for c in conditions if c.ms_level == 1)
        if command == "tic":
            return ms.get_tic(first_ms1)
        if command == "xic":
            return ms.get_xic(ChromatogramFilterOption(first_ms1, ValueRange(138.0662 - 0.005, 138.0662 + 0.005)))
        dad = f.get_measurement(0).get_dad_analysis(0)
        if command == "dad":
            return dad.get_chromatogram(ValueRange(250.0, 260.0))
        return dad.get_max_plot(ValueRange(200.0, 600.0), 2.0)


@pytest.mark.parametrize("key, args, command", [
    ("dda", ["tic"], "tic"),
    ("switching", ["tic", "--polarity", "+"], "tic-positive"),
    ("dda", ["bpc", "--ms-level", "2", "--rt", "4.2:4.6"], "bpc-ms2"),
    ("dda", ["xic", "--mz", "138.0662", "--da", "0.005"], "xic"),
    ("uv", ["dad", "--wavelength", "250:260"], "dad"),
    ("uv", ["dad", "--max-plot", "200:600", "--tolerance", "2"], "max-plot"),
])
def test_chromatogram_csv_equals_the_library(files, key, args, command):
    done = ozra(args[0], files[key], *args[1:], "--csv", "-")
    assert done.returncode == 0, done.stderr
    rows = csv_rows(done.stdout)
    expected = point_rows(library_chromatogram(files[key], command))
    assert expected
    if command == "xic":
        assert all(row[:2] == ["138.0662", "138.0662"] for row in rows[1:])
        rows = [row[2:] for row in [rows[0]] + rows[1:]]
    assert rows == [["spectrum_index", "retention_time", "intensity", "x"]] + expected


def test_spectrum_by_time_and_by_index_and_the_csv_file_reads_back(files, tmp_path):
    with OzraFile(str(files["small"])) as f:
        ms = f.get_measurement(0).get_qual_analysis(0)
        spectrum = ms.find_nearest_spectrum(0.5)
        expected = [[repr(p.x), repr(p.intensity)] for p in spectrum.get_spectrum_points()]
    by_time = ozra("spectrum", files["small"], "--rt", "0.5", "--csv", tmp_path / "s.csv")
    by_index = ozra("spectrum", files["small"], "--index", spectrum.index, "--csv", "-")
    assert by_time.returncode == by_index.returncode == 0
    assert "wrote" in by_time.stderr and by_time.stdout == ""
    assert csv_rows((tmp_path / "s.csv").read_text()) == csv_rows(by_index.stdout) == [["mz", "intensity"]] + expected
    assert [(float(x), float(y)) for x, y in expected] == [(p.x, p.intensity) for p in spectrum.get_spectrum_points()]


def test_xic_of_many_targets_from_a_csv_file(files, tmp_path):
    targets = tmp_path / "targets.csv"
    targets.write_text("name,mz,rt_start,rt_end\nfirst,138.0662,4.2,4.4\nsecond,195.0877,,\n")
    done = ozra("xic", files["dda"], "--targets", targets, "--ppm", "10", "--csv", "-")
    assert done.returncode == 0, done.stderr
    rows = csv_rows(done.stdout)[1:]
    with OzraFile(str(files["dda"])) as f:
        ms = f.get_measurement(0).get_qual_analysis(0)
        ms1 = next(c for c in ms.unique_acquisition_conditions if c.ms_level == 1)
        requests = [ChromatogramFilterOption(ms1, ValueRange(mz - mz * 10 / 1e6, mz + mz * 10 / 1e6), rt)
                    for mz, rt in ((138.0662, ValueRange(4.2, 4.4)), (195.0877, None))]
        first, second = ms.get_multiple_xic(requests)
    assert rows == ([["first", "138.0662", *row] for row in point_rows(first)]
                    + [["second", "195.0877", *row] for row in point_rows(second)])


def test_traces_listed_and_read_as_the_library_reads_them(files):
    listed = csv_rows(ozra("trace", files["srm"], "--csv", "-").stdout)
    done = ozra("trace", files["srm"], "--trace", "2", "--trace", "0", "--csv", "-")
    assert done.returncode == 0, done.stderr
    with OzraFile(str(files["srm"])) as f:
        quan = f.get_measurement(0).get_quan_analysis(0)
        assert [row[4] for row in listed[1:]] == [trace.label for trace in quan.traces]
        expected = [[str(i), quan.get_trace(i).label, repr(p.x), repr(p.intensity)]
                    for i in (2, 0) for p in quan.get_trace(i).get_points()]
    assert csv_rows(done.stdout)[1:] == expected


def test_convert_keeps_the_source_and_an_existing_target_unless_forced(tmp_path):
    source = tmp_path / "run.mzML.gz"
    source.write_bytes((DATA / SOURCES["uv"]).read_bytes())
    target = tmp_path / "run.ozra"
    target.write_bytes(b"keep me")
    for args in ([source, source], [source, target]):
        done = ozra("convert", *args)
        assert done.returncode == 1 and len(done.stderr.splitlines()) == 1, done.stderr
    assert source.read_bytes() == (DATA / SOURCES["uv"]).read_bytes() and target.read_bytes() == b"keep me"
    done = ozra("convert", source, target, "--force")
    assert done.returncode == 0 and done.stderr == ""  # no progress bar when stderr is not a terminal
    assert "MS analysis 0: 5 spectra" in done.stdout and "DAD analysis 0: 5 spectra" in done.stdout
    assert ozra("tic", target, "--csv", "-").stdout.count("\n") == 4


@pytest.mark.parametrize("target, options", [("run.mzML.gz", ["--numpress"]), ("run.parquet", [])])
def test_export_keeps_an_existing_target_unless_forced_and_names_what_it_wrote(files, tmp_path, target, options):
    pytest.importorskip("psims")
    pytest.importorskip("pynumpress")
    out = tmp_path / target
    done = ozra("export", files["uv"], out, *options)
    assert done.returncode == 0 and done.stderr == "", done.stderr
    assert ("10 spectra" if target.endswith(".gz") else "7,462 ms points, 5 ms spectra, 2,005 dad points") in done.stdout
    written = sorted(p.name for p in out.iterdir()) if out.is_dir() else out.read_bytes()
    refused = ozra("export", files["uv"], out)
    assert refused.returncode == 1 and "the target exists (use --force" in refused.stderr
    assert (sorted(p.name for p in out.iterdir()) if out.is_dir() else out.read_bytes()) == written
    assert ozra("export", files["uv"], out, "--force", *options).returncode == 0
    wrong = ozra("export", files["uv"], tmp_path / "run.csv")
    assert wrong.returncode == 1 and "must end with .mzML, .mzML.gz or .parquet" in wrong.stderr


def test_info_groups_precursor_conditions_and_counts_spectra(files):
    done = ozra("info", files["dda"])
    assert done.returncode == 0, done.stderr
    with OzraFile(str(files["dda"])) as f:
        ms = f.get_measurement(0).get_qual_analysis(0)
        ms2 = [c for c in ms.unique_acquisition_conditions if c.ms_level == 2]
        spectra = ms.get_spectra_count()
    assert f"{len(ms2)} precursor conditions" in done.stdout
    assert len(done.stdout.splitlines()) < 12
    table = csv_rows(ozra("info", files["dda"], "--csv", "-").stdout)
    kind, count = table[0].index("kind"), table[0].index("spectra")
    assert sum(int(row[count]) for row in table[1:] if row[kind] == "MS") == spectra
    listed = ozra("info", files["dda"], "--conditions", "--csv", "-")
    assert len(csv_rows(listed.stdout)) == 1 + len(ms.unique_acquisition_conditions)


@pytest.mark.parametrize("args", [["tic", "dda"], ["spectrum", "small", "--index", "3"],
                                  ["dad", "uv", "--wavelength", "250:260"]])
def test_a_plot_is_a_png(files, tmp_path, args):
    picture = tmp_path / "out.png"
    done = ozra(args[0], files[args[1]], *args[2:], "--plot", picture)
    assert done.returncode == 0, done.stderr
    assert picture.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert done.stdout == ""


@pytest.mark.parametrize("args, status, message", [
    (["info", "{tmp}/missing.ozra"], 1, "missing.ozra: No such file or directory"),
    (["info", "{tmp}"], 1, "Is a directory"),
    (["tic", "{text}"], 1, "expected the Ozra magic"),
    (["tic", "{truncated}"], 1, "truncated.ozra: expected"),
    (["convert", "{text}", "{tmp}/out.ozra"], 1, "text.txt: a plain text file is not a source that can be converted"),
    (["convert", "{small}", "{tmp}/out.ozra"], 1, "small.ozra: an Ozra file (already converted) is not a source"),
    (["convert", "{archive}", "{tmp}/out.ozra"], 1, "run.tar.xz: an xz-compressed archive (such as .tar.xz) is not"),
    (["spectrum", "{dda}", "--index", "100000"], 1, "no spectrum 100000"),
    (["tic", "{dda}", "--condition", "9999"], 1, "no condition 9999"),
    (["tic", "{dda}", "--ms-level", "5"], 1, "no acquisition condition with MS level 5"),
    (["dad", "{dda}", "--wavelength", "250:260"], 1, "has no DAD analysis"),
    (["dad", "{uv}", "--max-plot", "250:260"], 2, "error: --max-plot needs --tolerance T (see ozra dad --help)"),
    (["xic", "{dda}", "--targets", "{text}", "--da", "1"], 1, "must name the columns"),
    (["xic", "{dda}", "--mz", "138"], 2, "one of the arguments --ppm --da is required"),
    (["xic", "{dda}", "--mz", "x", "--da", "1"], 2, "expected a number, got 'x'"),
    (["dad", "{uv}", "--wavelength", "260:250"], 2, "beyond its end"),
    (["trace", "{srm}", "--trace", "99"], 1, "no trace 99"),
    (["tic"], 2, "required: FILE"),
    (["nonsense"], 2, "invalid choice"),
])
def test_bad_input_is_one_line_and_a_status(files, tmp_path, args, status, message):
    text = tmp_path / "text.txt"
    text.write_text("not an Ozra file\n")
    truncated = tmp_path / "truncated.ozra"
    truncated.write_bytes(files["small"].read_bytes()[:5000])
    archive = tmp_path / "run.tar.xz"
    archive.write_bytes(lzma.compress(b"run.raw/_FUNCTNS.INF"))
    names = {"tmp": tmp_path, "text": text, "truncated": truncated, "archive": archive, **files}
    done = ozra(*[arg.format(**names) for arg in args])
    assert done.returncode == status
    assert len(done.stderr.splitlines()) == 1 and message in done.stderr, done.stderr
    assert done.stdout == ""


def test_debug_shows_the_traceback(tmp_path):
    done = ozra("--debug", "info", tmp_path / "missing.ozra")
    assert done.returncode == 1 and "Traceback" in done.stderr and "FileNotFoundError" in done.stderr


def test_a_closed_pipe_ends_quietly(files):
    child = subprocess.Popen([sys.executable, "-m", "ozra_data_access", "spectrum", str(files["small"]), "--index", "0"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env={**os.environ, "PYTHONPATH": str(PACKAGE_ROOT)})
    child.stdout.readline()
    child.stdout.close()
    assert child.wait(timeout=60) == 141
    assert child.stderr.read() == b""


def test_demo_says_where_it_wrote_and_leaves_nothing(tmp_path):
    done = ozra("demo", env={"TMPDIR": str(tmp_path)})
    assert done.returncode == 0, done.stderr
    assert f"wrote {tmp_path}" in done.stdout and "removed" in done.stderr
    assert list(tmp_path.iterdir()) == []


def test_version_and_help_on_every_argument():
    assert ozra("--version").stdout.startswith("ozra ")

    def without_help(parser, prefix):
        for action in parser._actions:
            if not action.help:
                yield prefix, action.dest
            if isinstance(action, argparse._SubParsersAction):
                for name, child in action.choices.items():
                    yield from without_help(child, f"{prefix} {name}")

    assert list(without_help(build_parser(), "ozra")) == []


@pytest.mark.parametrize("command", [("convert",), ("batch", "convert")])
def test_converting_commands_offer_every_point_encoding_the_writer_knows(command):
    parser = build_parser()
    for name in command:
        parser = next(action for action in parser._actions
                      if isinstance(action, argparse._SubParsersAction)).choices[name]
    option = next(action for action in parser._actions if action.dest == "point_encoding")
    assert sorted(option.choices) == sorted(POINT_ENCODINGS)


def test_verify_reads_every_part_of_an_intact_file(files):
    done = ozra("verify", files["uv"])
    assert done.returncode == 0, done.stdout + done.stderr
    with OzraFile(str(files["uv"])) as f:
        m = f.get_measurement(0)
        spectra = m.get_qual_analysis(0).get_spectra_count() + m.get_dad_analysis(0).get_spectra_count()
    assert "no damage found" in done.stdout and f", {spectra} spectra," in done.stdout


@pytest.mark.parametrize("damage, where", [
    (lambda data: data[:5], "the file header"),
    (lambda data: data[:len(data) // 2], "the file header and jump table"),
    (lambda data: data[:-3], "the file header and jump table"),
    (lambda data: data[:30000] + bytes([data[30000] ^ 0x40]) + data[30001:], "measurement 0, MS analysis 0, spectrum 3"),
])
def test_verify_reports_the_first_damage_with_its_offset(files, tmp_path, damage, where):
    damaged = tmp_path / "damaged.ozra"
    damaged.write_bytes(damage(files["uv"].read_bytes()))
    done = ozra("verify", damaged)
    assert done.returncode == 1
    assert done.stdout.startswith(f"{damaged}: damaged in {where}") and "byte offset" in done.stdout, done.stdout
