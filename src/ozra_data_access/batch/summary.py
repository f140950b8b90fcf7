"""The summary of one chromatogram: points, apex and area."""

from __future__ import annotations

import numpy


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
