"""The stored width of intensities that keeps every value exactly."""

import numpy as np


def exact_width(intensity: np.ndarray) -> int:
    """4 (float32) when every value is a float32 one, else 8 (float64)."""
    if intensity.dtype == np.float32:
        return 4
    values = np.asarray(intensity, dtype=np.float64)
    with np.errstate(over="ignore", invalid="ignore"):
        narrowed = values.astype(np.float32).astype(np.float64)
    return 4 if np.array_equal(narrowed.view(np.int64), values.view(np.int64)) else 8
