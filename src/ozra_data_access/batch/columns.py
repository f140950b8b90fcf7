"""Chromatogram point lists as table columns, and the summary of one chromatogram."""

from __future__ import annotations

from typing import Any, Sequence

import numpy


def chromatogram_columns(points: Sequence[Any]) -> dict[str, numpy.ndarray]:
    """spectrum_index, retention_time, intensity and x (NaN where a point has none) of each point."""
    count = len(points)
    return {
        "spectrum_index": numpy.fromiter((p.spectrum_index for p in points), numpy.int64, count),
        "retention_time": numpy.fromiter((p.retention_time for p in points), numpy.float64, count),
        "intensity": numpy.fromiter((p.intensity for p in points), numpy.float64, count),
        "x": numpy.fromiter((numpy.nan if p.x is None else p.x for p in points), numpy.float64, count),
    }


def peak_summary(retention_time: numpy.ndarray, intensity: numpy.ndarray) -> dict[str, float | int]:
    """points; the apex (the first point of highest intensity): its time and intensity; and the area
    under the chromatogram by the trapezoid rule over retention time (intensity x minutes). A
    chromatogram without points has NaN apex values and area 0.0."""
    if len(intensity) == 0:
        return {"points": 0, "apex_retention_time": numpy.nan, "apex_intensity": numpy.nan, "area": 0.0}
    apex = int(numpy.argmax(intensity))
    widths = numpy.diff(retention_time)
    heights = (intensity[:-1] + intensity[1:]) / 2.0
    return {
        "points": len(intensity),
        "apex_retention_time": float(retention_time[apex]),
        "apex_intensity": float(intensity[apex]),
        "area": float(numpy.dot(widths, heights)),
    }
