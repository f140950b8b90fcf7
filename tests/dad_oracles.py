"""Oracles of the DAD chromatogram and max plot, computed another way with numpy, and the
hypothesis strategy of spectra and windows that both the stand-in and the file tests draw from."""

import math

import numpy as np
from hypothesis import strategies as st


# ---- oracles ------------------------------------------------------------------

def interpolated_at_end(x, y, t):
    """The value at a window end t on the interval (x[j], x[j+1]] that holds it."""
    j = int(np.searchsorted(x, t, side="left")) - 1
    return y[j] + (y[j + 1] - y[j]) / (x[j + 1] - x[j]) * (t - x[j])


def window_mean_oracle(x, y, low, high):
    """Mean of the interpolated spectrum over the covered span, by numpy on the span's breakpoints."""
    if len(x) == 0 or high < x[0] or low > x[-1]:
        return 0.0, -1.0
    if len(x) == 1:
        return y[0], x[0]
    start, end = max(low, x[0]), min(high, x[-1])
    if start == end:
        return float(np.interp(start, x, y)), start
    breakpoints = np.concatenate(([start], x[(x > start) & (x < end)], [end]))
    mean = np.trapezoid(np.interp(breakpoints, x, y), breakpoints) / (end - start)
    return mean, highest_wavelength(x, y, low, high)


def highest_wavelength(x, y, low, high):
    """Where the window's highest value lies: among the interpolated start (inside the
    spectrum), the points from there up to the end, and the interpolated end (inside)."""
    start_inside, end_inside = low > x[0], high <= x[-1]
    if start_inside and end_inside and not np.any((x >= low) & (x < high)):
        first, second = interpolated_at_end(x, y, low), interpolated_at_end(x, y, high)
        return (low + high) / 2 if first == second else (high if first < second else low)
    wavelengths, intensities = [], []
    if start_inside:
        wavelengths.append(low)
        intensities.append(interpolated_at_end(x, y, low))
    met = (x >= low) & ((x < high) if end_inside else True)
    wavelengths.extend(x[met])
    intensities.extend(y[met])
    if end_inside:
        wavelengths.append(high)
        intensities.append(interpolated_at_end(x, y, high))
    return wavelengths[int(np.argmax(intensities))]


def max_plot_oracle(x, y, low, high, tolerance):
    delivered = (x >= low - tolerance) & (x <= high + tolerance)
    x, y = x[delivered], y[delivered]
    inside = np.flatnonzero((x >= low) & (x <= high))
    if len(inside) == 0:
        return 0, -1
    peak = x[inside[np.argmax(y[inside])]]
    near = (x >= peak - tolerance) & (x <= tolerance + peak)
    return y[near].mean(), peak


def assert_close(actual, expected, y):
    scale = max([abs(v) for v in y], default=1.0)
    assert math.isclose(actual, expected, rel_tol=1e-9, abs_tol=1e-9 * scale), (actual, expected)


# ---- strategies ------------------------------------------------------------------

@st.composite
def spectrum_and_window(draw):
    """Strictly increasing wavelengths (a grid, so windows land on points and ties occur),
    intensities with frequent equal values, and a window touching, inside or around it."""
    steps = draw(st.lists(st.integers(1, 4), min_size=0, max_size=14))
    first = draw(st.integers(-4, 4)) * 0.5 + 200.0
    x = first + 0.5 * np.cumsum([0] + steps) if draw(st.booleans()) or not steps else np.array([first])
    if draw(st.booleans()):
        x = x + np.array(draw(st.lists(st.floats(0, 0.3), min_size=len(x), max_size=len(x))))
        x = np.maximum.accumulate(x + np.arange(len(x)) * 1e-6)
    level = st.one_of(st.integers(-3, 12).map(float), st.floats(-50, 1000, allow_nan=False))
    y = np.array(draw(st.lists(level, min_size=len(x), max_size=len(x))), dtype=float)
    edge = st.one_of(st.sampled_from(list(x)), st.floats(float(x[0]) - 3, float(x[-1]) + 3),
                     st.sampled_from(list((x[:-1] + x[1:]) / 2) or [float(x[0])]))
    low, high = sorted((draw(edge), draw(edge)))
    if draw(st.integers(0, 5)) == 0:
        high = low
    return x, y, float(low), float(high)
