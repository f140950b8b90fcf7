"""Chromatogram results as pandas DataFrames (pandas comes with the optional extra `frames`).

    from ozra_data_access.frames import chromatogram_frame
    frame = chromatogram_frame(analysis.get_tic(condition))

The columns are those of :func:`ozra_data_access.arrays.chromatogram_arrays`, made natively
without a Python loop per point, and every value equals the point it came from.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Sequence

from ozra_data_access.arrays import chromatogram_arrays

if TYPE_CHECKING:
    import pandas

__all__ = ["chromatogram_frame"]


def chromatogram_frame(points: Sequence[object]) -> "pandas.DataFrame":
    """One row per chromatogram point, in the list's order: columns ``retention_time``, ``intensity``
    and ``x`` (float64, NaN where a point has no x) and ``spectrum_index`` (int64).

    Works for any chromatogram result: TIC, BPC, XIC, DAD chromatogram, max plot. Raises
    ImportError naming the extra when pandas is not installed.
    """
    try:
        import pandas
    except ImportError as error:
        raise ImportError("chromatogram_frame needs pandas: pip install 'ozra_data_access[frames]'") from error
    return pandas.DataFrame(chromatogram_arrays(points)._asdict())
