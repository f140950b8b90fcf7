"""Chromatograms and spectrum points as numpy arrays, made natively.

``chromatogram_arrays`` turns any chromatogram result (TIC, BPC, XIC, DAD
chromatogram, max plot: a list of ``SpectrumBasedChromatogramPoint``) into
four columns; ``spectrum_arrays`` turns spectrum points into two contiguous
columns. Every value equals the point it came from: ``float(point.intensity)
== intensity[i]`` (an integer intensity, like the 0 or -1 of an empty max-plot
window, reads as the same number in float64), a point whose ``x`` is None has
NaN in ``x``.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, NamedTuple, Sequence, Union

import numpy

from ozra_data_access import _arrays

if TYPE_CHECKING:
    from ozra_data_access._internal._storage import SpectrumPoints

__all__ = ["POINT_DTYPE", "BinnedMap", "ChromatogramArrays", "XicMatrix", "chromatogram_arrays", "spectrum_arrays", "spectrum_view"]

POINT_DTYPE = numpy.dtype([("x", "<f8"), ("intensity", "<f8")])
"""The structured dtype of spectrum points, one record per (x, intensity) row of their buffer."""


class ChromatogramArrays(NamedTuple):
    """The columns of one chromatogram, one row per point, in the list's order."""

    retention_time: numpy.ndarray
    """float64: each point's retention time."""
    intensity: numpy.ndarray
    """float64: each point's intensity."""
    x: numpy.ndarray
    """float64: each point's m/z or wavelength, NaN where the point has none."""
    spectrum_index: numpy.ndarray
    """int64: each point's spectrum index as stored in its description."""


class XicMatrix(NamedTuple):
    """The extracted-ion chromatograms of many requests: ``QualAnalysis.get_xic_matrix``.

    The columns are the spectra ``get_multiple_xic`` reads for the requests (those with a
    retention time, a requested condition and, when every request has a range, a retention
    time inside their span), in spectrum order. Where request j uses spectrum k,
    ``intensity[j, k]`` is the intensity of its point in ``get_multiple_xic(...)[j]``, bit
    for bit; NaN marks a spectrum the request does not use (another condition, outside its
    retention-time range), and a NaN sum of stored NaN intensities. 10,000 requests over
    3,000 spectra take 240 MB, against some 80 bytes per point of the point lists.
    """

    retention_time: numpy.ndarray
    """float64, one per spectrum."""
    spectrum_index: numpy.ndarray
    """int64, one per spectrum: its index as stored in its description."""
    intensity: numpy.ndarray
    """float64 of shape (requests, spectra): one row per request, in request order."""

    @property
    def shape(self) -> tuple[int, int]:
        """(requests, spectra), the shape of ``intensity``."""
        return self.intensity.shape

    def __array__(self, dtype=None, copy=None) -> numpy.ndarray:
        """``numpy.asarray(matrix)`` is the intensity matrix (the same array, unless a dtype or a copy
        is asked for)."""
        if copy:
            return numpy.array(self.intensity, dtype=dtype, copy=True)
        return numpy.asarray(self.intensity, dtype=dtype)

    def row(self, request: int) -> ChromatogramArrays:
        """The chromatogram of one request, as ``chromatogram_arrays`` gives it without ``x``
        (NaN), over the spectra it uses."""
        values = self.intensity[request]
        used = ~numpy.isnan(values)
        return ChromatogramArrays(self.retention_time[used], values[used], numpy.full(int(used.sum()), numpy.nan),
                                  self.spectrum_index[used])


def _xic_matrix(retention_time: bytearray, spectrum_index: bytearray, intensity: bytearray,
                requests: int) -> XicMatrix:
    """The result of get_xic_matrix from its native columns (stored spectra-major)."""
    times = numpy.frombuffer(retention_time, numpy.float64)
    values = numpy.frombuffer(intensity, numpy.float64).reshape(len(times), requests)
    return XicMatrix(times, numpy.frombuffer(spectrum_index, numpy.int64), values.T)


class BinnedMap(NamedTuple):
    """The intensity of an analysis's spectra over a grid of equal bins: ``get_binned_map`` of a
    ``QualAnalysis`` (retention time x m/z) or of a ``DADAnalysis`` (retention time x wavelength).

    Bin ``[i, j]`` holds the points whose retention time lies in ``time_edges[i:i + 2]`` and whose x
    lies in ``x_edges[j:j + 2]``, each bin open at its upper edge except the last, closed at both
    ends. Its value is the largest intensity of those points, or their sum (``aggregate="sum"``);
    an empty bin holds NaN for the largest, 0 for the sum. Points whose intensity is NaN or -inf
    are passed over.
    """

    time_edges: numpy.ndarray
    """float64, time_bins + 1 increasing retention times."""
    x_edges: numpy.ndarray
    """float64, x_bins + 1 increasing m/z or wavelengths."""
    values: numpy.ndarray
    """float64 of shape (time_bins, x_bins)."""
    spectrum_count: numpy.ndarray
    """int64, one per time bin: how many spectra fell into it."""

    @property
    def time_centres(self) -> numpy.ndarray:
        """The middle of each time bin."""
        return (self.time_edges[:-1] + self.time_edges[1:]) / 2

    @property
    def x_centres(self) -> numpy.ndarray:
        """The middle of each x bin."""
        return (self.x_edges[:-1] + self.x_edges[1:]) / 2


def _binned_map(time_edges: bytearray, x_edges: bytearray, values: bytearray,
                spectrum_count: bytearray) -> BinnedMap:
    """The result of get_binned_map from its native columns (stored time-major)."""
    times = numpy.frombuffer(time_edges, numpy.float64)
    xs = numpy.frombuffer(x_edges, numpy.float64)
    grid = numpy.frombuffer(values, numpy.float64).reshape(len(times) - 1, len(xs) - 1)
    return BinnedMap(times, xs, grid, numpy.frombuffer(spectrum_count, numpy.int64))


def chromatogram_arrays(points: Sequence[object]) -> ChromatogramArrays:
    """The columns of a chromatogram result (any sequence of chromatogram points).

    Raises TypeError naming the point and field when a value is not a number
    (None is allowed for ``x`` only).
    """
    retention_time, intensity, x, spectrum_index = _arrays.chromatogram_columns(points)
    return ChromatogramArrays(
        numpy.frombuffer(retention_time, numpy.float64),
        numpy.frombuffer(intensity, numpy.float64),
        numpy.frombuffer(x, numpy.float64),
        numpy.frombuffer(spectrum_index, numpy.int64),
    )


def spectrum_view(points: object) -> numpy.ndarray:
    """The points as a read-only structured array (fields ``x`` and ``intensity``)
    sharing their memory; ``numpy.asarray(points)`` is the same memory as an (n, 2)
    float64 array. Also takes any buffer of such records (a structured numpy array).
    """
    return numpy.frombuffer(points, POINT_DTYPE)  # type: ignore[call-overload]


def spectrum_arrays(points: Union["SpectrumPoints", Sequence[object]]) -> tuple[numpy.ndarray, numpy.ndarray]:
    """``(x, intensity)``: two contiguous float64 arrays of a spectrum's points.

    They are copies; ``spectrum_view`` is the zero-copy structured view.
    """
    x, intensity = _arrays.spectrum_columns(points)
    return numpy.frombuffer(x, numpy.float64), numpy.frombuffer(intensity, numpy.float64)
