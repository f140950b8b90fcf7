"""Centroids of profile spectra, picked with scipy.signal (the optional extra `peaks`).

A peak is a local maximum of the profile (`scipy.signal.find_peaks`, a flat top counting once,
at its middle; the first and last points are never peaks). Its intensity is the apex
intensity; its m/z is the intensity-weighted mean m/z of the points above half its height
(the interval `scipy.signal.peak_widths` gives at rel_height 0.5, cut short of the neighbouring
apexes), the apex alone when no other point lies inside. The centroids are returned in increasing m/z.
"""

from __future__ import annotations

import numpy as np

from ozra_data_access.convert.errors import ConversionError


def pick_peaks(mz: np.ndarray, intensity: np.ndarray, where: str) -> tuple[np.ndarray, np.ndarray]:
    """The centroid (m/z, intensity) arrays of a profile given in increasing m/z."""
    try:
        from scipy.signal import find_peaks, peak_widths
    except ImportError:
        raise ConversionError(f"{where}: picking the peaks of profile spectra needs scipy "
                              "(pip install 'ozra_data_access[peaks]'), or convert with --profile-only "
                              "(profile_only=True in Python) to store the profiles without centroids") from None
    values = np.asarray(intensity, dtype=np.float64)
    apexes, _ = find_peaks(values)
    edges = _edge_peaks(np.asarray(mz, dtype=np.float64), values, apexes)
    if not len(apexes):
        return _in_mz_order(edges[0], edges[1], np.asarray(intensity).dtype)
    _, _, left, right = peak_widths(values, apexes, rel_height=0.5)
    # A window never reaches past the neighbouring apexes, so that overlapping peaks pull less on each other.
    previous = np.concatenate(([-1], apexes[:-1]))
    following = np.concatenate((apexes[1:], [len(values)]))
    first = np.minimum(np.maximum(np.ceil(left).astype(np.intp), previous + 1), apexes)
    last = np.maximum(np.minimum(np.floor(right).astype(np.intp), following - 1), apexes)
    # Each peak's points as one row of a padded matrix: sums per row, never differences of
    # running totals, so that a small peak beside a large one keeps its precision.
    offsets = np.arange(int((last - first).max()) + 1)
    rows = first[:, None] + offsets
    inside = rows <= last[:, None]
    rows = np.where(inside, rows, first[:, None])
    weights = np.where(inside, values[rows], 0.0)
    total = weights.sum(axis=1)
    centroid = np.where(total > 0, (weights * mz[rows]).sum(axis=1) / np.where(total > 0, total, 1.0), mz[apexes])
    return _in_mz_order(np.concatenate((centroid, edges[0])),
                        np.concatenate((values[apexes], edges[1])), np.asarray(intensity).dtype)


def _in_mz_order(centroid: np.ndarray, apex: np.ndarray, dtype) -> tuple[np.ndarray, np.ndarray]:
    # Windows of neighbouring peaks overlap: their centroids may cross, and points are stored in m/z order.
    order = np.argsort(centroid, kind="stable")
    return centroid[order], apex[order].astype(dtype, copy=False)


def _edge_peaks(mz: np.ndarray, values: np.ndarray, apexes: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """The peaks whose highest point is the first or last point of the profile (a few-point profile
    rising to its end, or cut by the scan range), which interior peak finding cannot see: each one's
    centroid over the points from the edge inward that stay above half its height over the lowest
    point before the next peak."""
    centroids, heights = [], []
    count = len(values)
    for edge, step in ((0, 1), (count - 1, -1)):
        if count == 0 or (step == -1 and count == 1):  # a single point is one edge, not two
            continue
        if count > 1 and not values[edge] > values[edge + step]:
            continue
        if not values[edge] > 0:
            continue
        # Up to the nearest interior apex, else to the other end of the profile.
        if len(apexes):
            inner = apexes[0] if step == 1 else apexes[-1]
        else:
            inner = count - 1 - edge
        stretch = np.arange(edge, inner + step, step)
        base = float(values[stretch].min())
        half = base + (values[edge] - base) / 2.0
        below = np.nonzero(values[stretch] < half)[0]
        window = stretch[: below[0]] if len(below) else stretch
        centroids.append(float(np.dot(values[window], mz[window]) / values[window].sum()))
        heights.append(float(values[edge]))
    return np.asarray(centroids, dtype=np.float64), np.asarray(heights, dtype=np.float64)
