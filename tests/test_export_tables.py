"""Arrow tables of analyses (to_arrow) and the Parquet export, against the reader's own values."""

import numpy
import pytest

from ozra_data_access.access import OzraFile
from ozra_data_access.arrays import spectrum_arrays
from ozra_data_access.export import TargetExistsError, export
from ozra_data_access.export import tables

pyarrow = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")
duckdb = pytest.importorskip("duckdb")

from shared_data import DATA  # noqa: E402

pytestmark = pytest.mark.skipif(not DATA.is_dir(), reason="the shared runs are not on this machine")

#: MS with profile points and precursors, MS + DAD, DAD + analog channels, quantitative traces,
#: a vendor run with profile and centroid per scan.
RUNS = ["small.mzML", "uv_test_mini.mzML.gz", "red.D", "wk_chrom.mzML.gz", "copper.D"]


def analyses(ozra):
    for m in range(ozra.get_measurement_count()):
        measurement = ozra.get_measurement(m)
        for kind, count, get in (("qual", measurement.get_qual_analysis_count, measurement.get_qual_analysis),
                                 ("dad", measurement.get_dad_analysis_count, measurement.get_dad_analysis),
                                 ("quan", measurement.get_quan_analysis_count, measurement.get_quan_analysis),
                                 ("analog", measurement.get_analog_analysis_count, measurement.get_analog_analysis)):
            for a in range(count()):
                yield m, kind, a, get(a)


def expected_ms_rows(analysis):
    """(spectrum index, profile, x, intensity, retention time, condition index) of every point, from the reader."""
    conditions = analysis.unique_acquisition_conditions
    for i in range(analysis.get_spectra_count()):
        spectrum = analysis.get_spectrum(i)
        condition = conditions.index(spectrum.acquisition_condition)
        blocks = [(False, spectrum.get_spectrum_points())]
        try:
            blocks.append((True, spectrum.get_profile_spectrum_points()))
        except Exception as error:  # the reader's way of saying a spectrum has no profile
            assert "No profile spectrum" in str(error)
        for profile, points in blocks:
            x, intensity = spectrum_arrays(points)
            yield i, profile, x, intensity, spectrum.retention_time, condition


def check_ms_table(table, analysis):
    """Every point of `table` (grouped by spectrum and profile) equals the reader's, bit for bit."""
    columns = {name: table.column(name).to_numpy(zero_copy_only=False) for name in table.column_names}
    order = numpy.lexsort((columns["profile"], columns["spectrum_index"]))  # stable: point order kept
    rows = 0
    for i, profile, x, intensity, rt, condition in expected_ms_rows(analysis):
        chosen = order[rows:rows + len(x)]
        rows += len(x)
        assert numpy.array_equal(columns["x"][chosen].view(numpy.uint64), x.view(numpy.uint64))
        assert numpy.array_equal(columns["intensity"][chosen].view(numpy.uint64), intensity.view(numpy.uint64))
        assert set(columns["spectrum_index"][chosen]) <= {i} and set(columns["profile"][chosen]) <= {profile}
        assert set(columns["condition_index"][chosen]) <= {condition}
        assert all(t == rt for t in columns["retention_time"][chosen])
    assert rows == table.num_rows


@pytest.mark.parametrize("name", RUNS)
def test_to_arrow_holds_every_stored_value(converted_runs, name):
    with OzraFile(converted_runs(name)) as ozra:
        for _, kind, _, analysis in analyses(ozra):
            table = analysis.to_arrow()
            if kind == "qual":
                assert table.schema == tables.MS_POINTS_SCHEMA
                check_ms_table(table, analysis)
            elif kind == "dad":
                expected = [spectrum_arrays(analysis.get_spectrum(i).get_spectrum_points())
                            for i in range(analysis.get_spectra_count())]
                assert numpy.array_equal(table.column("wavelength").to_numpy(), numpy.concatenate([w for w, _ in expected]))
                assert numpy.array_equal(table.column("intensity").to_numpy(), numpy.concatenate([v for _, v in expected]))
            else:
                traces = analysis.traces
                assert numpy.array_equal(table.column("retention_time").to_numpy(),
                                         numpy.concatenate([t.retention_times for t in traces]))
                assert numpy.array_equal(table.column("intensity").to_numpy(),
                                         numpy.concatenate([t.intensities for t in traces]))
                assert table.column("label").to_pylist() == [t.label for t in traces for _ in t.retention_times]
                assert table.column("unit").to_pylist() == [t.unit for t in traces for _ in t.retention_times]


@pytest.mark.parametrize("name", RUNS)
def test_parquet_reads_back_equal_with_pyarrow_and_duckdb(converted_runs, tmp_path, name):
    source = converted_runs(name)
    target = tmp_path / "run.parquet"
    written = export(source, target, rows=5_000)
    with OzraFile(source) as ozra:
        for m, kind, a, analysis in analyses(ozra):
            if kind == "qual":
                path = target / "ms_points.parquet"
                stored = pq.read_table(path, filters=[("measurement", "=", m), ("analysis", "=", a)])
                check_ms_table(stored.drop_columns(["measurement", "analysis"]), analysis)
                counted = duckdb.sql(f"select count(*), sum(intensity) from '{path}' "
                                     f"where measurement = {m} and analysis = {a}").fetchall()[0]
                reference = analysis.to_arrow()
                assert counted[0] == reference.num_rows
                assert counted[1] == pytest.approx(float(numpy.sum(reference.column("intensity").to_numpy())))
                spectra = pq.read_table(target / "ms_spectra.parquet").to_pylist()
                by_index = {row["spectrum_index"]: row for row in spectra if row["analysis"] == a}
                for i in range(analysis.get_spectra_count()):
                    spectrum = analysis.get_spectrum(i)
                    condition = spectrum.acquisition_condition
                    row = by_index[i]
                    assert (row["retention_time"], row["ms_level"], row["collision_energy"]) == (
                        spectrum.retention_time, condition.ms_level, condition.collision_energy)
                    assert row["native_id"] == spectrum.supplemental_properties.get("NativeId")
            elif kind == "dad":
                rows = duckdb.sql(f"select spectrum_index, wavelength, intensity from '{target / 'dad_points.parquet'}' "
                                  f"where analysis = {a}").fetchall()
                reference = analysis.to_arrow().select(["spectrum_index", "wavelength", "intensity"]).to_pydict()
                assert sorted(rows) == sorted(zip(*reference.values()))
    assert set(written) <= {"ms_points", "ms_spectra", "dad_points", "traces"} and written


@pytest.mark.parametrize("name, file", [("small.mzML", "ms_points.parquet"), ("red.D", "dad_points.parquet")])
def test_parquet_row_groups_follow_retention_time(converted_runs, tmp_path, name, file):
    target = tmp_path / "run.parquet"
    export(converted_runs(name), target, rows=20_000)
    metadata = pq.ParquetFile(target / file).metadata
    column = metadata.schema.to_arrow_schema().get_field_index("retention_time")
    bounds = [(metadata.row_group(g).column(column).statistics.min, metadata.row_group(g).column(column).statistics.max)
              for g in range(metadata.num_row_groups)]
    assert len(bounds) > 2
    assert all(low <= high <= next_low for (low, high), (next_low, _) in zip(bounds, bounds[1:]))


def test_an_export_replaces_nothing_unless_forced_and_leaves_nothing_when_it_fails(converted_runs, tmp_path,
                                                                                   monkeypatch):
    source = converted_runs("uv_test_mini.mzML.gz")
    for target in (tmp_path / "run.parquet", tmp_path / "run.mzML"):
        target.mkdir() if target.suffix == ".parquet" else target.write_text("kept")
        with pytest.raises(TargetExistsError, match="use --force"):
            export(source, target)

    def broken(*args, **kwargs):
        raise RuntimeError("disk gone")

    monkeypatch.setattr(tables, "dad_point_batches", broken)
    with pytest.raises(RuntimeError, match="disk gone"):
        export(source, tmp_path / "run.parquet", force=True)
    assert (tmp_path / "run.parquet").is_dir() and not any((tmp_path / "run.parquet").iterdir())
    assert sorted(p.name for p in tmp_path.iterdir()) == ["run.mzML", "run.parquet"]


def test_parquet_holds_every_measurement_and_mzml_the_one_asked_for(tmp_path):
    from ozra_data_access.export import ExportError
    from ozra_data_access.samples import write_sample

    source = write_sample(tmp_path / "two.ozra", measurements=2, scans=40, dad_spectra=10, seed=4)
    export(source, tmp_path / "two.parquet")
    stored = pq.read_table(tmp_path / "two.parquet" / "ms_points.parquet", columns=["measurement", "spectrum_index"])
    with OzraFile(source) as ozra:
        expected = [ozra.get_measurement(m).get_qual_analysis(0).to_arrow().num_rows for m in (0, 1)]
        second = ozra.get_measurement(1)
        spectra = second.get_qual_analysis(0).get_spectra_count() + second.get_dad_analysis(0).get_spectra_count()
        traces = sum(len(get(a).traces) for count, get in (
            (second.get_quan_analysis_count(), second.get_quan_analysis),
            (second.get_analog_analysis_count(), second.get_analog_analysis)) for a in range(count))
    counts = stored.group_by("measurement").aggregate([("spectrum_index", "count")]).sort_by("measurement")
    assert counts.column("spectrum_index_count").to_pylist() == expected
    pytest.importorskip("psims")
    assert export(source, tmp_path / "second.mzML", measurement=1) == {"spectra": spectra, "chromatograms": traces}
    with pytest.raises(ExportError, match="no measurement 2 \\(the file has 2\\)"):
        export(source, tmp_path / "third.mzML", measurement=2)
    assert not (tmp_path / "third.mzML").exists()
