"""The tasks of the head-to-head benchmark and the checks that every reader's result equals ours."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Callable, Optional

import numpy as np

WINDOW_PPM = 10.0


@dataclass
class Task:
    name: str
    call: Callable  # reader -> result
    # (our prepared result, other reader, its result) -> None; AssertionError when they differ
    check: Optional[Callable]
    size: int  # bytes the task reads: what the memory-copy ceiling copies
    # (our reader, our result) -> the form the checks compare with, made once per task
    prepare: Callable = lambda reader, result: result
    # reader -> its (m/z, intensity) pairs: a stream task's checked run compares them with ours
    # as they come instead of reading the run again for the check (see run.checked_stream)
    stream: Optional[Callable] = None
    numpy_inputs: bool = False  # has a row of ours with numpy.float64 inputs
    view_row: bool = False  # has a row of ours through spectrum_view
    matrix_row: bool = False  # has a row of ours through get_xic_matrix
    # Peers not run on this task: pyteomics reads a full run some three times slower than
    # pymzml, and the XIC tasks are full reads; it would add minutes to a run for no row.
    skipped: tuple = ()


def stream_task(name, stream, size, **options):
    return Task(name, lambda r: consume(stream(r)), None, size, stream=stream, **options)


def consume(pairs):
    """Walks (m/z, intensity) pairs as a reader hands them out; returns their count."""
    count = 0
    for _ in pairs:
        count += 1
    return count


def same_pairs(ours, other):
    count = 0
    for (mz, intensity), (other_mz, other_intensity) in zip(ours, other, strict=True):
        assert np.array_equal(np.asarray(mz, dtype=np.float64), np.asarray(other_mz, dtype=np.float64)), count
        assert np.array_equal(np.asarray(intensity, dtype=np.float64),
                              np.asarray(other_intensity, dtype=np.float64)), count
        count += 1


def same_chromatogram(ours, _, other):
    assert len(ours[0]) == len(other[0])
    np.testing.assert_allclose(other[0], ours[0], rtol=1e-12)  # retention times (seconds / 60 for pyopenms)
    np.testing.assert_allclose(other[1], ours[1], rtol=1e-9)  # sums made in another order


def same_positions(ours, _, other):
    assert list(ours) == list(other)


def xic_check(rt_ranges):
    """(prepare, check) of an XIC task: our point lists as one window-by-spectrum matrix, made once."""

    def prepare(reader, ours):
        return reader.xic_matrix(ours, rt_ranges)

    def check(matrix, other_reader, other):
        if not isinstance(other, np.ndarray):  # ours again: other inputs, encoding or method
            other = other_reader.xic_matrix(other, rt_ranges)
        assert matrix.shape == other.shape, (matrix.shape, other.shape)
        scale = np.nanmax(np.abs(matrix)) if np.isfinite(matrix).any() else 1.0
        # numpy.isclose, not numpy.testing.assert_allclose: the same rule (NaN equal to NaN only),
        # twenty times faster on the 33 million sums of 10,000 windows.
        close = np.isclose(other, matrix, rtol=1e-9, atol=1e-12 * max(scale, 1.0) * 1e3, equal_nan=True)
        if not close.all():
            window, spectrum = np.argwhere(~close)[0]
            raise AssertionError(f"window {window}, MS1 spectrum {spectrum}: {other[window, spectrum]!r}, "
                                 f"ours {matrix[window, spectrum]!r}")
    return prepare, check


def build_tasks(run, ms1_points, ms1_spectra, mz_range, rt_range, rng, random_points):
    """The tasks over one run: windows and targets drawn from its m/z and retention-time ranges."""
    low_mz, high_mz = mz_range
    first_rt, last_rt = rt_range

    def windows(count):
        centres = rng.uniform(low_mz, high_mz, count)
        half = centres * WINDOW_PPM * 1e-6
        return [(float(c - h), float(c + h)) for c, h in zip(centres, half)]

    def rt_ranges(count):
        width = 0.01 * (last_rt - first_rt)
        starts = rng.uniform(first_rt, last_rt - width, count)
        return [(float(s), float(s + width)) for s in starts]

    positions = rng.integers(0, run.spectra, 1000).tolist()
    targets = rng.uniform(first_rt, last_rt, 1000).tolist()
    ms1_bytes = ms1_points * 16
    tasks = [
        stream_task("read every spectrum's points", lambda r: r.points(), run.points * 16, view_row=True),
        Task("TIC of one condition", lambda r: r.tic(), same_chromatogram, ms1_spectra * 16),
    ]
    for count, ranged in ((1, False), (100, False), (10_000, False), (100, True), (10_000, True)):
        w = windows(count)
        ranges: Optional[list] = rt_ranges(count) if ranged else None
        name = f"XIC, {count:,} window{'s' if count > 1 else ''}" + (" with RT ranges" if ranged else "")
        prepare, check = xic_check(ranges)
        tasks.append(Task(name, lambda r, w=w, ranges=ranges: r.xic(w, ranges), check, ms1_bytes, prepare=prepare,
                          numpy_inputs=True, matrix_row=True, skipped=("pyteomics",)))
    tasks.append(stream_task("1,000 random spectra with points", lambda r: r.random_spectra(positions),
                             random_points(positions) * 16))
    tasks.append(Task("1,000 nearest-spectrum look-ups", lambda r: r.nearest(targets), same_positions,
                      run.spectra * 16, numpy_inputs=True))
    return tasks
