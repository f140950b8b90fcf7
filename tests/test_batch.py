"""The batch functions on Dask: results equal a plain serial loop over the public classes, bit for bit;
failed files become error rows while the other files complete; Parquet output is whole or absent."""

import os

import numpy as np
import pytest

pandas = pytest.importorskip("pandas")
distributed = pytest.importorskip("distributed")
pytest.importorskip("pyarrow")

import mzml_synthetic as syn  # noqa: E402
import ozra_decoding  # noqa: E402
from ozra_data_access.access import OzraFile  # noqa: E402
from ozra_data_access.batch import (  # noqa: E402
    TargetError,
    convert_files,
    extract_chromatograms,
    extract_dad_chromatograms,
    extract_xics,
    read_targets,
)
from ozra_data_access.batch.summary import peak_summary  # noqa: E402
from ozra_data_access.common import PolarityTypes, ValueRange  # noqa: E402
from ozra_data_access.qual import ChromatogramFilterOption  # noqa: E402
from ozra_data_access.samples import write_sample  # noqa: E402

TARGETS = pandas.DataFrame({
    "id": ["leu", "phe", "neg", "ms2", "late", "absent"],
    "mz": [132.1019, 166.0863, 450.0, 120.0808, 300.0, 999.5],
    "ppm": [50.0, 50.0, None, None, 30.0, 10.0],
    "da": [None, None, 0.5, 0.02, None, None],
    "rt_min": [None, 2.0, None, None, 10.0, None],
    "rt_max": [None, None, None, None, 15.0, None],
    "ms_level": [None, None, None, 2, None, 3],
    "polarity": [None, "positive", "-", None, None, None],
})


@pytest.fixture(scope="module")
def runs(tmp_path_factory):
    """Four small sample runs (two with two measurements, one with raw points), a damaged copy, a missing path."""
    folder = tmp_path_factory.mktemp("runs")
    good = []
    for seed in range(4):
        path = str(folder / f"run{seed}.ozra")
        write_sample(path, scans=90, points_per_spectrum=120, dad_spectra=20, wavelengths=40, compounds=6,
                     seed=seed, measurements=1 + seed % 2, point_encoding="raw" if seed == 3 else "zstd")
        good.append(path)
    damaged = str(folder / "damaged.ozra")
    with open(good[0], "rb") as source, open(damaged, "wb") as target:
        target.write(source.read()[: os.path.getsize(good[0]) * 2 // 3])
    return {"good": good, "damaged": damaged, "missing": str(folder / "missing.ozra")}


@pytest.fixture(scope="module")
def client():
    """A real cluster: a scheduler and two worker processes of one thread each."""
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, distributed.Client(cluster) as connected:
        yield connected


def serial_xics(paths):
    """The long table of a plain loop: get_xic per target and selected condition."""
    rows = []
    for path in paths:
        with OzraFile(path) as ozra_file:
            for m in range(ozra_file.get_measurement_count()):
                measurement = ozra_file.get_measurement(m)
                for a in range(measurement.get_qual_analysis_count()):
                    analysis = measurement.get_qual_analysis(a)
                    for target in TARGETS.itertuples():
                        width = target.mz * target.ppm / 1e6 if target.ppm == target.ppm else target.da
                        low, high = target.rt_min, target.rt_max
                        rt = None if low != low and high != high else ValueRange(
                            -np.inf if low != low else low, np.inf if high != high else high)
                        polarity = {"positive": PolarityTypes.POSITIVE, "-": PolarityTypes.NEGATIVE}.get(
                            target.polarity)
                        level = 1 if target.ms_level != target.ms_level else target.ms_level
                        for condition in analysis.unique_acquisition_conditions:
                            if condition.ms_level != level or polarity not in (None, condition.polarity):
                                continue
                            request = ChromatogramFilterOption(
                                condition, ValueRange(target.mz - width, target.mz + width), rt)
                            for point in analysis.get_xic(request):
                                rows.append((path, m, a, target.id, str(condition), point.spectrum_index,
                                             point.retention_time, point.intensity, point.x))
    return rows


def rows_of(table):
    columns = ["file", "measurement", "analysis", "target", "condition", "spectrum_index", "retention_time",
               "intensity", "mz"]
    return [tuple(row) for row in table[columns].itertuples(index=False)]


def assert_same_bits(left, right):
    assert len(left) == len(right)
    for a, b in zip(left, right):
        assert a[:6] == b[:6]
        assert np.array(a[6:], np.float64).tobytes() == np.array(b[6:], np.float64).tobytes()


def test_xics_on_a_cluster_equal_a_serial_loop_and_failed_files_are_rows(runs, client):
    workers = client.run(os.getpid)
    assert len(workers) == 2 and os.getpid() not in workers.values()
    files = [runs["good"][0], runs["missing"], runs["good"][1], runs["damaged"], *runs["good"][2:]]

    result = extract_xics(files, TARGETS, client=client)

    expected = serial_xics(runs["good"])
    assert len(expected) > 500 and any(row[7] > 0 for row in expected)
    assert_same_bits(sorted(rows_of(result.chromatograms), key=str), sorted(expected, key=str))
    assert list(result.errors["file"]) == [runs["missing"], runs["damaged"]]
    assert list(result.errors["error"]) == ["FileNotFoundError", "OzraFormatError"]
    assert runs["missing"] in result.errors["message"][0]
    assert set(result.summary["file"]) == set(runs["good"])
    absent = result.summary[result.summary["target"] == "absent"]
    assert len(absent) == 4 and (absent["points"] == 0).all() and absent["condition"].isna().all()


def test_local_threads_and_target_chunks_give_the_cluster_s_tables(runs, client):
    on_cluster = extract_xics(runs["good"], TARGETS, client=client)
    for local in (extract_xics(runs["good"], TARGETS),
                  extract_xics(runs["good"], TARGETS, targets_per_task=4, scheduler="processes")):
        key = ["file", "measurement", "analysis", "target", "condition", "spectrum_index"]
        pandas.testing.assert_frame_equal(
            local.chromatograms.sort_values(key, ignore_index=True),
            on_cluster.chromatograms.sort_values(key, ignore_index=True), check_exact=True)
        pandas.testing.assert_frame_equal(
            local.summary.sort_values(["file", "target", "measurement", "analysis", "condition"], ignore_index=True),
            on_cluster.summary.sort_values(["file", "target", "measurement", "analysis", "condition"],
                                           ignore_index=True), check_exact=True)


def test_tic_bpc_and_dad_tables_hold_each_file_s_chromatograms(runs, client):
    files = [*runs["good"][:2], runs["missing"]]
    tic = extract_chromatograms(files, scheduler=client.scheduler.address)
    dad = extract_dad_chromatograms(files, [(250.0, 260.0), (300.0, 320.0)], client=client)
    assert list(tic.errors["file"]) == list(dad.errors["file"]) == [runs["missing"]]
    with OzraFile(runs["good"][1]) as ozra_file:
        measurement = ozra_file.get_measurement(1)
        analysis = measurement.get_qual_analysis(0)
        condition = analysis.unique_acquisition_conditions[3]
        bpc = analysis.get_bpc(condition)
        chromatogram = measurement.get_dad_analysis(0).get_chromatogram(ValueRange(300.0, 320.0))
    table = tic.chromatograms
    rows = table[(table["file"] == runs["good"][1]) & (table["measurement"] == 1) & (table["kind"] == "BPC")
                 & (table["condition"] == str(condition))]
    assert len(bpc) > 5 and list(rows["intensity"]) == [p.intensity for p in bpc] and list(rows["mz"]) == [p.x for p in bpc]
    table = dad.chromatograms
    rows = table[(table["file"] == runs["good"][1]) & (table["measurement"] == 1) & (table["wavelength_min"] == 300.0)]
    assert len(chromatogram) > 5 and list(rows["intensity"]) == [p.intensity for p in chromatogram]
    assert list(rows["wavelength"]) == [p.x for p in chromatogram]


def test_parquet_output_is_the_in_memory_table_and_is_never_left_half_written(runs, tmp_path):
    out = tmp_path / "results.parquet"
    files = [*runs["good"], runs["damaged"]]
    in_memory = extract_xics(files, TARGETS, scheduler="sync")
    written = extract_xics(files, TARGETS, scheduler="sync", out=out).written
    assert sorted(os.listdir(tmp_path)) == ["results.errors.parquet", "results.parquet", "results.summary.parquet"]
    pandas.testing.assert_frame_equal(pandas.read_parquet(written["dataset"]), in_memory.chromatograms,
                                      check_exact=True, check_dtype=False)
    pandas.testing.assert_frame_equal(pandas.read_parquet(written["summary"]), in_memory.summary,
                                      check_exact=True, check_dtype=False)
    assert list(pandas.read_parquet(written["errors"])["file"]) == [runs["damaged"]]

    with pytest.raises(FileExistsError, match="results.parquet exists"):
        extract_xics(files, TARGETS, scheduler="sync", out=out)
    with pytest.raises(TargetError):
        extract_xics(files, [{"id": "x", "mz": 100.0}], scheduler="sync", out=tmp_path / "other.parquet")
    assert sorted(os.listdir(tmp_path)) == ["results.errors.parquet", "results.parquet", "results.summary.parquet"]

    only_failures = extract_chromatograms([runs["missing"]], scheduler="sync", out=tmp_path / "tic.parquet")
    assert pandas.read_parquet(only_failures.written["dataset"]).empty
    assert len(pandas.read_parquet(only_failures.written["errors"])) == 1


def test_conversions_run_per_file_and_report_each_failure(tmp_path, client):
    sources = []
    for number in range(3):
        path = tmp_path / f"run{number}.mzML"
        syn.write_mzml(path, [syn.spectrum(i, [100.0 + number, 200.0], [1.0, 2.0 + i], scan_xml=syn.scan(0.1 * i))
                              for i in range(5)])
        sources.append(str(path))
    (tmp_path / "broken.mzML").write_text("<mzML>")
    sources.append(str(tmp_path / "broken.mzML"))

    result = convert_files(sources, tmp_path / "out", client=client)

    assert sorted(os.path.basename(path) for path in result.conversions["target"]) == [
        "run0.ozra", "run1.ozra", "run2.ozra"]
    assert list(result.errors["file"]) == [sources[3]]
    with OzraFile(str(tmp_path / "out" / "run1.ozra")) as ozra_file:
        spectrum = ozra_file.get_measurement(0).get_qual_analysis(0).get_spectrum(4)
        assert [(p.x, p.intensity) for p in spectrum.get_spectrum_points()] == [(101.0, 1.0), (200.0, 6.0)]
    again = convert_files(sources[:1], tmp_path / "out", scheduler="sync")
    assert again.conversions.empty and list(again.errors["error"]) == ["ConversionError"]


def test_conversions_take_the_point_encoding(tmp_path):
    source = tmp_path / "run.mzML"
    syn.write_mzml(source, [syn.spectrum(0, [100.0, 200.0], [1.0, 2.0], scan_xml=syn.scan(0.1))])
    with pytest.raises(ValueError, match="point encoding is 'raw', 'zstd' or 'zstd-shuffle', not 'zlib'"):
        convert_files([source], tmp_path / "refused", point_encoding="zlib", scheduler="sync")
    assert not (tmp_path / "refused").exists()
    convert_files([source], tmp_path / "out", point_encoding="zstd-shuffle", scheduler="sync")
    (function,) = ozra_decoding.read_file(tmp_path / "out" / "run.ozra")["measurements"][0]["functions"]
    assert [s["points"][0]["encoding"] for s in function["spectra"]] == [2]


@pytest.mark.parametrize("row, message", [
    ({"id": "a", "mz": 100.0}, "exactly one of 'ppm' and 'da'"),
    ({"id": "a", "mz": 100.0, "ppm": 5, "da": 0.1}, "exactly one of 'ppm' and 'da'"),
    ({"id": "a", "mz": "heavy", "ppm": 5}, "'mz' must be a number"),
    ({"id": "a", "mz": -1.0, "da": 0.1}, "'mz' must be a positive number"),
    ({"id": "", "mz": 100.0, "da": 0.1}, "'id' is empty"),
    ({"id": "a", "mz": 100.0, "da": 0.1, "rt_min": 5, "rt_max": 4}, "rt_min 5.0 is above rt_max 4.0"),
    ({"id": "a", "mz": 100.0, "da": 0.1, "ms_level": 1.5}, "'ms_level' must be a whole number"),
    ({"id": "a", "mz": 100.0, "da": 0.1, "polarity": "up"}, "'polarity' must be positive or negative"),
    ({"id": "a", "mz": 100.0, "da": 0.1, "charge": 2}, "unknown column"),
])
def test_unusable_target_rows_are_named(row, message):
    with pytest.raises(TargetError, match=f"target row 2: .*{message}"):
        read_targets([{"id": "first", "mz": 50.0, "da": 0.1}, row])


def test_target_csv_is_read_with_its_optional_columns(tmp_path):
    path = tmp_path / "targets.csv"
    path.write_text("id,mz,ppm,da,rt_min,polarity,ms_level\n"
                    "007,200.0,10,,1.5,negative,\n"
                    "b,300.0,,0.25,,,2\n")
    first, second = read_targets(path)
    assert first.id == "007" and (first.mz_min, first.mz_max) == (200.0 - 200.0 * 10 / 1e6, 200.0 + 200.0 * 10 / 1e6)
    assert (first.rt_min, first.rt_max, first.polarity, first.ms_level) == (1.5, None, PolarityTypes.NEGATIVE, None)
    assert (second.mz_min, second.mz_max, second.ms_level, second.polarity) == (299.75, 300.25, 2, None)
    with pytest.raises(TargetError, match="repeats row 1"):
        read_targets([{"id": "a", "mz": 1.0, "da": 0.1}, {"id": "a", "mz": 2.0, "da": 0.1}])


@pytest.mark.parametrize("times, intensities, expected", [
    ([], [], (0, np.nan, np.nan, 0.0)),
    ([1.0], [5.0], (1, 1.0, 5.0, 0.0)),
    ([1.0, 2.0, 4.0], [0.0, 4.0, 4.0], (3, 2.0, 4.0, 2.0 + 8.0)),
    ([1.0, 2.0, 3.0], [0.0, 0.0, 0.0], (3, np.nan, np.nan, 0.0)),  # no signal: no apex
])
def test_peak_summary_takes_the_first_apex_and_the_trapezoid_area(times, intensities, expected):
    summary = peak_summary(np.array(times), np.array(intensities))
    got = (summary["points"], summary["apex_retention_time"], summary["apex_intensity"], summary["area"])
    np.testing.assert_array_equal(np.array(got, dtype=float), np.array(expected, dtype=float))


def test_the_batch_command_writes_the_tables_and_names_failed_files(runs, tmp_path, capsys):
    from ozra_data_access.cli import main

    targets = tmp_path / "targets.csv"
    TARGETS.to_csv(targets, index=False)
    out = tmp_path / "results.parquet"
    files = [runs["good"][1], runs["missing"], runs["good"][2]]

    status = main(["batch", "xic", "--targets", str(targets), "--out", str(out), "--quiet", *files])

    captured = capsys.readouterr()
    assert status == 1
    assert captured.err.splitlines() == [f"ozra batch xic: {runs['missing']}: FileNotFoundError: "
                                         f"[Errno 2] No such file or directory: '{runs['missing']}'"]
    assert "(2 of 3 files)" in captured.out
    expected = extract_xics(files, TARGETS, scheduler="sync")
    pandas.testing.assert_frame_equal(pandas.read_parquet(out), expected.chromatograms, check_exact=True,
                                      check_dtype=False)
    assert list(pandas.read_parquet(tmp_path / "results.errors.parquet")["file"]) == [runs["missing"]]

    targets.write_text("id,mz\nx,100.0\n")
    assert main(["batch", "xic", "--targets", str(targets), "--out", str(tmp_path / "again.parquet"),
                 runs["good"][0]]) == 1
    assert "targets.csv: target row 1: give exactly one of 'ppm' and 'da'" in capsys.readouterr().err
    assert not (tmp_path / "again.parquet").exists()
