"""The summary of one chromatogram: points, apex and area."""

from __future__ import annotations

import numpy


def peak_summary(retention_time: numpy.ndarray, intensity: numpy.ndarray) -> dict[str, float | int]:
    """points; the apex (the first point of highest intensity): its time and intensity; and the area
    under the chromatogram by the trapezoid rule over retention time (intensity x minutes). A
    chromatogram without signal (no points, or no intensity above 0) has no apex: NaN apex values;
    its area is 0.0."""
    widths = numpy.diff(retention_time)
    heights = (intensity[:-1] + intensity[1:]) / 2.0
    summary = {"points": len(intensity), "apex_retention_time": numpy.nan, "apex_intensity": numpy.nan,
               "area": float(numpy.dot(widths, heights)) if len(intensity) else 0.0}
    if len(intensity) and float(numpy.max(intensity)) > 0.0:
        apex = int(numpy.argmax(intensity))
        summary["apex_retention_time"] = float(retention_time[apex])
        summary["apex_intensity"] = float(intensity[apex])
    return summary
