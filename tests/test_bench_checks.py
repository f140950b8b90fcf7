"""The head-to-head benchmark's checks (benchmarks/peers): a reader's time counts only when its
result equals ours, so every check must pass on an equal result and fail on one that differs."""

import pathlib
import sys
import time

import numpy as np
import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "benchmarks" / "peers"))
import data  # noqa: E402
import measure  # noqa: E402
import readers  # noqa: E402
import run as peers_run  # noqa: E402
import tasks  # noqa: E402

SPECTRA, POINTS = 60, 2000  # enough points that 10 ppm windows hit some


@pytest.fixture(scope="module")
def generated(tmp_path_factory):
    folder = tmp_path_factory.mktemp("generated")
    paths = {encoding: folder / f"run-{encoding}.ozra" for encoding in ("raw", "zstd")}
    for encoding, path in paths.items():
        data.write_generated_ozra(path, SPECTRA, POINTS, encoding)
    facts = peers_run.run_facts(paths["raw"])
    run = data.Run("generated", None, paths, SPECTRA, SPECTRA * POINTS)
    return paths, {t.name: t for t in tasks.build_tasks(run, *facts[:4], np.random.default_rng(3), facts[4])}


class LastBitChanged(readers.Ozra):
    def points(self):
        for k, (mz, intensity) in enumerate(super().points()):
            if k == SPECTRA // 2:
                intensity = intensity.copy()
                intensity[POINTS // 2] = np.nextafter(intensity[POINTS // 2], np.inf)
            yield mz, intensity


class LastSpectrumMissing(readers.Ozra):
    def points(self):
        yield from list(super().points())[:-1]


class WindowSumsInNumpy(readers.Ozra):
    """Sums the windows from the spectra's arrays, as the peers do (readers.XicRows)."""

    def __init__(self, path, nudge=False):
        super().__init__(path, "numpy")
        self.nudge = nudge

    def xic(self, windows, rt_ranges=None):
        rows = readers.XicRows(windows, rt_ranges)
        f, analysis = self._open()
        with f:
            for point in analysis.get_tic(self._ms1(analysis)):
                view = readers.spectrum_view(analysis.get_spectrum(point.spectrum_index).get_spectrum_points())
                rows.add(point.retention_time, view["x"], view["intensity"])
        matrix = rows.matrix()
        if self.nudge:
            matrix[np.isfinite(matrix) & (matrix > 0)] *= 1 + 1e-6
        return matrix


@pytest.mark.parametrize("reader, error", [
    (lambda path: readers.Ozra(path, "same"), None),
    (lambda path: LastBitChanged(path, "changed"), AssertionError),
    (lambda path: LastSpectrumMissing(path, "short"), ValueError),
])
def test_point_streams_are_checked_pair_by_pair(generated, reader, error):
    paths, by_name = generated
    task, ours = by_name["read every spectrum's points"], readers.Ozra(paths["raw"], "ours")
    if error is None:
        seconds, _ = peers_run.checked_stream(task, ours, reader(paths["zstd"]))
        assert seconds > 0
    else:
        with pytest.raises(error):
            peers_run.checked_stream(task, ours, reader(paths["zstd"]))


@pytest.mark.parametrize("name", ["XIC, 100 windows", "XIC, 10,000 windows with RT ranges"])
@pytest.mark.parametrize("other, equal", [
    (lambda paths: readers.Ozra(paths["zstd"], "zstd"), True),
    (lambda paths: peers_run.OzraMatrix(paths["raw"], "matrix"), True),
    (lambda paths: WindowSumsInNumpy(paths["raw"]), True),
    (lambda paths: WindowSumsInNumpy(paths["raw"], nudge=True), False),
])
def test_xic_results_are_checked_against_our_point_lists(generated, name, other, equal):
    paths, by_name = generated
    task, ours = by_name[name], readers.Ozra(paths["raw"], "ours")
    reference = task.prepare(ours, task.call(ours))
    assert np.isfinite(reference).any()
    reader = other(paths)
    if equal:
        task.check(reference, reader, task.call(reader))
    else:
        with pytest.raises(AssertionError):
            task.check(reference, reader, task.call(reader))


def test_timed_iterator_counts_only_the_time_spent_producing_items():
    def slow_items():
        for item in range(5):
            time.sleep(0.01)
            yield item

    timed, started = measure.TimedIterator(slow_items()), time.perf_counter()
    for _ in timed:
        time.sleep(0.02)  # the consumer's own time
    assert 0.05 <= timed.seconds <= time.perf_counter() - started - 0.1
