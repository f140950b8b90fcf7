"""Each reader of the head-to-head benchmark doing the same tasks on the same run.

Every task starts from the file on disk, as a user's script would, and returns its result in
the reader's own form; `points` tasks yield (m/z, intensity) array pairs, chromatogram tasks
return arrays. The peers use the way their documentation shows for the job, with numpy for the
window sums (cumulative sums and searchsorted over each spectrum's sorted m/z array).
"""

from __future__ import annotations

import numpy as np

from ozra_data_access.access import OzraFile
from ozra_data_access.arrays import XicMatrix, chromatogram_arrays, spectrum_view
from ozra_data_access.common import ValueRange
from ozra_data_access.qual import ChromatogramFilterOption


def window_sums(mz, intensity, lows, highs):
    """The intensity sum of each closed window [low, high] over sorted m/z."""
    cumulative = np.concatenate(([0.0], np.cumsum(intensity, dtype=np.float64)))
    return cumulative[np.searchsorted(mz, highs, "right")] - cumulative[np.searchsorted(mz, lows, "left")]


def nearest_positions(rts, targets):
    """For each target, the first position of the smallest |rt - target|."""
    rts = np.asarray(rts, dtype=np.float64)
    return [int(np.argmin(np.abs(rts - t))) for t in targets]


class XicRows:
    """Window sums of MS1 spectra, one row per window, NaN outside a window's retention-time range."""

    def __init__(self, windows, rt_ranges):
        self.lows = np.array([w[0] for w in windows])
        self.highs = np.array([w[1] for w in windows])
        self.rt_ranges = None if rt_ranges is None else np.array(rt_ranges, dtype=np.float64)
        self.columns = []

    def add(self, rt, mz, intensity):
        if self.rt_ranges is None:
            self.columns.append(window_sums(mz, intensity, self.lows, self.highs))
            return
        inside = (self.rt_ranges[:, 0] <= rt) & (rt <= self.rt_ranges[:, 1])
        column = np.full(len(self.lows), np.nan)
        if inside.any():
            column[inside] = window_sums(mz, intensity, self.lows[inside], self.highs[inside])
        self.columns.append(column)

    def matrix(self):
        return np.array(self.columns).T if self.columns else np.zeros((len(self.lows), 0))


# --- ours ------------------------------------------------------------------------------------------


class Ozra:
    def __init__(self, path, label, number=float):
        self.path, self.label, self.number = str(path), label, number

    def _open(self):
        f = OzraFile(self.path)
        return f, f.get_measurement(0).get_qual_analysis(0)

    @staticmethod
    def _ms1(analysis):
        return next(c for c in analysis.unique_acquisition_conditions if c.ms_level == 1)

    def points(self):
        """As users write it: numpy.asarray of each spectrum's points."""
        f, analysis = self._open()
        with f:
            for i in range(analysis.get_spectra_count()):
                pairs = np.asarray(analysis.get_spectrum(i).get_spectrum_points())
                yield pairs[:, 0], pairs[:, 1]

    def points_view(self):
        f, analysis = self._open()
        with f:
            for i in range(analysis.get_spectra_count()):
                view = spectrum_view(analysis.get_spectrum(i).get_spectrum_points())
                yield view["x"], view["intensity"]

    def tic(self):
        f, analysis = self._open()
        with f:
            arrays = chromatogram_arrays(analysis.get_tic(self._ms1(analysis)))
            return arrays.retention_time, arrays.intensity

    def xic(self, windows, rt_ranges=None):
        f, analysis = self._open()
        with f:
            condition, n = self._ms1(analysis), self.number
            ranges = [None] * len(windows) if rt_ranges is None else [ValueRange(n(a), n(b)) for a, b in rt_ranges]
            options = [ChromatogramFilterOption(condition, ValueRange(n(lo), n(hi)), r)
                       for (lo, hi), r in zip(windows, ranges)]
            return analysis.get_multiple_xic(options)

    def xic_as_matrix(self, windows, rt_ranges=None):
        """The same requests through get_xic_matrix (an XicMatrix)."""
        f, analysis = self._open()
        with f:
            condition = self._ms1(analysis)
            ranges = [None] * len(windows) if rt_ranges is None else [ValueRange(a, b) for a, b in rt_ranges]
            options = [ChromatogramFilterOption(condition, ValueRange(lo, hi), r) for (lo, hi), r in zip(windows, ranges)]
            return analysis.get_xic_matrix(options)

    def random_spectra(self, positions):
        f, analysis = self._open()
        with f:
            for i in positions:
                pairs = np.asarray(analysis.get_spectrum(i).get_spectrum_points())
                yield pairs[:, 0], pairs[:, 1]

    def nearest(self, targets):
        f, analysis = self._open()
        with f:
            n = self.number
            return [analysis.find_nearest_spectrum(n(t)).index for t in targets]

    # For the checks (not timed): the point lists of `xic` as window rows over the MS1 spectra.
    def xic_matrix(self, chromatograms, rt_ranges):
        f, analysis = self._open()
        with f:
            ms1 = np.array([p.spectrum_index for p in analysis.get_tic(self._ms1(analysis))], dtype=np.int64)
        column_of = np.full(int(ms1.max()) + 1 if len(ms1) else 0, -1, dtype=np.int64)
        column_of[ms1] = np.arange(len(ms1))

        def column(spectrum_indices):
            found = column_of[spectrum_indices]  # IndexError past the last MS1 spectrum
            assert (found >= 0).all(), "a point of a spectrum outside the MS1 condition"
            return found

        if isinstance(chromatograms, XicMatrix):  # its columns: a subset of the MS1 spectra
            matrix = np.full((chromatograms.intensity.shape[0], len(ms1)), np.nan)
            matrix[:, column(chromatograms.spectrum_index)] = chromatograms.intensity
            return matrix
        matrix = np.zeros((len(chromatograms), len(ms1))) if rt_ranges is None else \
            np.full((len(chromatograms), len(ms1)), np.nan)
        for row, points in enumerate(chromatograms):
            arrays = chromatogram_arrays(points)
            matrix[row, column(arrays.spectrum_index)] = arrays.intensity
        return matrix


# --- peers -----------------------------------------------------------------------------------------


class Pyteomics:
    label = "pyteomics"

    def __init__(self, path):
        self.path = str(path)
        from pyteomics import mzml

        self.mzml = mzml

    @staticmethod
    def _rt(spectrum):
        return float(spectrum["scanList"]["scan"][0]["scan start time"])

    def points(self):
        with self.mzml.read(self.path) as reader:
            for s in reader:
                yield s["m/z array"], s["intensity array"]

    def tic(self):
        rts, tic = [], []
        with self.mzml.read(self.path, decode_binary=False) as reader:
            for s in reader:
                if s["ms level"] == 1:
                    rts.append(self._rt(s))
                    tic.append(float(s["total ion current"]))
        return np.array(rts), np.array(tic)

    def xic(self, windows, rt_ranges=None):
        rows = XicRows(windows, rt_ranges)
        with self.mzml.read(self.path) as reader:
            for s in reader:
                if s["ms level"] == 1:
                    rows.add(self._rt(s), s["m/z array"], s["intensity array"])
        return rows.matrix()

    def random_spectra(self, positions):
        with self.mzml.MzML(self.path) as reader:
            for i in positions:
                s = reader.get_by_index(i)
                yield s["m/z array"], s["intensity array"]

    def nearest(self, targets):
        with self.mzml.read(self.path, decode_binary=False) as reader:
            rts = [self._rt(s) for s in reader]
        return nearest_positions(rts, targets)


class Pymzml:
    label = "pymzml"

    def __init__(self, path):
        self.path = str(path)
        import pymzml

        self.pymzml = pymzml
        self.ids = None  # native ids by position, read once outside the timed tasks

    def _reader(self):
        return self.pymzml.run.Reader(self.path)

    def points(self):
        with self._reader() as run:
            for s in run:
                yield s.mz, s.i

    def tic(self):
        rts, tic = [], []
        with self._reader() as run:
            for s in run:
                if s.ms_level == 1:
                    rts.append(s.scan_time_in_minutes())
                    tic.append(s.TIC)
        return np.array(rts), np.array(tic)

    def xic(self, windows, rt_ranges=None):
        rows = XicRows(windows, rt_ranges)
        with self._reader() as run:
            for s in run:
                if s.ms_level == 1:
                    rows.add(s.scan_time_in_minutes(), s.mz, s.i)
        return rows.matrix()

    def prepare(self):
        with self._reader() as run:
            self.ids = [s.ID for s in run]

    def random_spectra(self, positions):
        with self._reader() as run:
            for i in positions:
                s = run[self.ids[i]]
                yield s.mz, s.i

    def nearest(self, targets):
        with self._reader() as run:
            rts = [s.scan_time_in_minutes() for s in run]
        return nearest_positions(rts, targets)


class Pyopenms:
    label = "pyopenms"

    def __init__(self, path):
        self.path = str(path)
        import pyopenms

        self.oms = pyopenms

    def _load(self):
        experiment = self.oms.MSExperiment()
        self.oms.MzMLFile().load(self.path, experiment)
        return experiment

    def points(self):
        for s in self._load():
            yield s.get_peaks()

    def tic(self):
        rts, tic = [], []
        for s in self._load():
            if s.getMSLevel() == 1:
                rts.append(s.getRT() / 60.0)
                tic.append(s.getMetaValue("total ion current"))  # as stored, like the other readers
        return np.array(rts), np.array(tic)

    def xic(self, windows, rt_ranges=None):
        rows = XicRows(windows, rt_ranges)
        for s in self._load():
            if s.getMSLevel() == 1:
                mz, intensity = s.get_peaks()
                rows.add(s.getRT() / 60.0, mz, intensity)
        return rows.matrix()

    def random_spectra(self, positions):
        on_disc = self.oms.OnDiscMSExperiment()
        on_disc.openFile(self.path)
        for i in positions:
            yield on_disc.getSpectrum(i).get_peaks()

    def nearest(self, targets):
        on_disc = self.oms.OnDiscMSExperiment()
        on_disc.openFile(self.path)
        rts = [s.getRT() / 60.0 for s in on_disc.getMetaData().getSpectra()]
        return nearest_positions(rts, targets)


PEERS = (Pyteomics, Pymzml, Pyopenms)
