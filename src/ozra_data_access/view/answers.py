"""The page's questions and their JSON answers: each function takes the runs and the request's
parameters (text, as the URL gives them) and returns what the page draws."""

from __future__ import annotations

import base64
import math
from typing import Any, Callable, Mapping

import numpy

from ozra_data_access.view.runs import RequestError, Runs

Params = Mapping[str, str]

# The largest grid the page may ask for: a screen's worth of bins, whatever the zoom.
LARGEST_BINS = 4000


def _number(params: Params, name: str, default: float | None = None) -> float:
    text = params.get(name)
    if text in (None, ""):
        if default is None:
            raise RequestError(f"the request lacks {name}")
        return default
    try:
        value = float(text)
    except ValueError:
        raise RequestError(f"{name} must be a number, not {text!r}") from None
    if not math.isfinite(value):
        raise RequestError(f"{name} must be finite, not {text!r}")
    return value


def _index(params: Params, name: str, default: int | None = None) -> int:
    text = params.get(name)
    if text in (None, ""):
        if default is None:
            raise RequestError(f"the request lacks {name}")
        return default
    try:
        return int(text)
    except ValueError:
        raise RequestError(f"{name} must be a whole number, not {text!r}") from None


def _bins(params: Params, name: str) -> int:
    count = _index(params, name, 400)
    if not 1 <= count <= LARGEST_BINS:
        raise RequestError(f"{name} must lie between 1 and {LARGEST_BINS}, not {count}")
    return count


def _window(params: Params, low: str, high: str):
    """The ValueRange of two optional parameters (None when both are absent)."""
    from ozra_data_access.common import ValueRange

    if params.get(low) in (None, "") and params.get(high) in (None, ""):
        return None
    lo, hi = _number(params, low), _number(params, high)
    if lo > hi:
        raise RequestError(f"{low} {lo:g} lies above {high} {hi:g}")
    return ValueRange(lo, hi)


def _floats(values: numpy.ndarray) -> list:
    """JSON has no NaN: a missing value is null."""
    listed = values.tolist()
    if numpy.isnan(values).any():
        return [None if v != v else v for v in listed]
    return listed


def _packed(values: numpy.ndarray) -> str:
    """A grid as base64 of little-endian float32, row after row: a tenth of its JSON text."""
    return base64.b64encode(numpy.ascontiguousarray(values, dtype="<f4").tobytes()).decode("ascii")


def _text(value: Any) -> Any:
    if value is None or isinstance(value, (bool, int, float, str)):
        return value
    return str(value)


def _condition_fields(condition) -> dict:
    polarity = condition.polarity
    return {"label": str(condition), "ms_level": condition.ms_level,
            "polarity": polarity.name if polarity is not None else None}


def _wavelength_span(dad) -> list | None:
    from ozra_data_access.arrays import spectrum_arrays

    if dad.get_spectra_count() == 0:
        return None
    x, _ = spectrum_arrays(dad.get_spectrum(0).get_spectrum_points())
    return [float(x.min()), float(x.max())] if len(x) else None


def overview(runs: Runs, params: Params) -> dict:
    """Every run with its MS conditions, DAD analyses and traces."""
    described = []
    for r in range(len(runs.runs)):
        with runs.run(r) as run:
            m = run.measurement
            ms = [{"spectra": a.get_spectra_count(),
                   "conditions": [_condition_fields(c) for c in a.unique_acquisition_conditions]}
                  for a in map(m.get_qual_analysis, range(m.get_qual_analysis_count()))]
            dad = [{"spectra": d.get_spectra_count(), "wavelengths": _wavelength_span(d),
                    "unit": _text((d.supplemental_properties or {}).get("Unit"))}
                   for d in map(m.get_dad_analysis, range(m.get_dad_analysis_count()))]
            traces = []
            for kind, count, get in (("quan", m.get_quan_analysis_count, m.get_quan_analysis),
                                     ("analog", m.get_analog_analysis_count, m.get_analog_analysis)):
                for a in range(count()):
                    for trace in get(a).traces:
                        traces.append({"kind": kind, "analysis": a, "index": trace.index, "label": trace.label,
                                       "unit": _text(trace.unit)})
            described.append({"name": run.name, "sample": _text(m.sample_name), "ms": ms, "dad": dad,
                              "traces": traces})
    return {"runs": described}


def _chromatogram(points) -> dict:
    from ozra_data_access.arrays import chromatogram_arrays

    columns = chromatogram_arrays(points)
    return {"time": _floats(columns.retention_time), "intensity": _floats(columns.intensity),
            "index": columns.spectrum_index.tolist()}


def chromatogram(runs: Runs, params: Params) -> dict:
    """The TIC or BPC of one condition."""
    kind = params.get("kind", "tic")
    if kind not in ("tic", "bpc"):
        raise RequestError(f"kind must be tic or bpc, not {kind!r}")
    with runs.run(_index(params, "run")) as run:
        analysis = run.qual(_index(params, "analysis", 0))
        condition = run.condition(analysis, _index(params, "condition", 0))
        points = analysis.get_tic(condition) if kind == "tic" else analysis.get_bpc(condition)
        return _chromatogram(points)


def _points(points) -> dict:
    from ozra_data_access.arrays import spectrum_arrays

    x, intensity = spectrum_arrays(points)
    return {"x": _floats(x), "intensity": _floats(intensity)}


def spectrum(runs: Runs, params: Params) -> dict:
    """One MS spectrum (by its index): centroid and, when stored, profile points with its condition."""
    with runs.run(_index(params, "run")) as run:
        analysis = run.qual(_index(params, "analysis", 0))
        index = _index(params, "index")
        if not 0 <= index < analysis.get_spectra_count():
            raise RequestError(f"{run.name}: no spectrum {index} (the analysis has {analysis.get_spectra_count()})")
        chosen = analysis.get_spectrum(index)
        try:
            profile = _points(chosen.get_profile_spectrum_points())
        except Exception:  # noqa: BLE001 - the reader's own refusal for a spectrum without profile points
            profile = None
        properties = chosen.supplemental_properties or {}
        return {"index": chosen.index, "retention_time": chosen.retention_time,
                "condition": _condition_fields(chosen.acquisition_condition),
                "properties": {str(k): _text(v) for k, v in dict(properties).items()},
                "centroid": _points(chosen.get_spectrum_points()), "profile": profile}


def xic_window(mz: float, tolerance: float, unit: str) -> tuple[float, float]:
    """The m/z window of a tolerance in ppm of `mz` or in Da."""
    if tolerance < 0:
        raise RequestError(f"the tolerance must not be negative, not {tolerance:g}")
    if unit == "ppm":
        half = mz * tolerance / 1e6
    elif unit == "Da":
        half = tolerance
    else:
        raise RequestError(f"the tolerance unit must be ppm or Da, not {unit!r}")
    return mz - half, mz + half


def xic(runs: Runs, params: Params) -> dict:
    """The XIC of an m/z and tolerance in one condition."""
    from ozra_data_access.common import ValueRange
    from ozra_data_access.qual import ChromatogramFilterOption

    low, high = xic_window(_number(params, "mz"), _number(params, "tol", 10.0), params.get("unit", "ppm"))
    with runs.run(_index(params, "run")) as run:
        analysis = run.qual(_index(params, "analysis", 0))
        condition = run.condition(analysis, _index(params, "condition", 0))
        answer = _chromatogram(analysis.get_xic(ChromatogramFilterOption(condition, ValueRange(low, high))))
    return {**answer, "window": [low, high]}


def _grid(binned) -> dict:
    return {"time_edges": binned.time_edges.tolist(), "x_edges": binned.x_edges.tolist(),
            "shape": list(binned.values.shape), "values": _packed(binned.values)}


def _within(values: numpy.ndarray, window) -> int:
    """How many of `values` lie in the window (all of them without one)."""
    if window is None:
        return len(values)
    return int(numpy.count_nonzero((values >= window.min) & (values <= window.max)))


def _fitted(asked: int, available: int) -> int:
    """No more bins than values along the axis: a bin between two spectra would stay empty."""
    return max(1, min(asked, available))


def ms_map(runs: Runs, params: Params) -> dict:
    """The retention time x m/z map of one condition, largest intensity per bin."""
    from ozra_data_access.arrays import chromatogram_arrays
    from ozra_data_access.common import ValueRange

    time_bins, x_bins = _bins(params, "time_bins"), _bins(params, "x_bins")
    time_window = _window(params, "t0", "t1")
    with runs.run(_index(params, "run")) as run:
        a = _index(params, "analysis", 0)
        analysis = run.qual(a)
        c = _index(params, "condition", 0)
        condition = run.condition(analysis, c)
        if ("ms times", a, c) not in run.extents:
            run.extents[("ms times", a, c)] = chromatogram_arrays(analysis.get_tic(condition)).retention_time
        time_bins = _fitted(time_bins, _within(run.extents[("ms times", a, c)], time_window))
        x_range = _window(params, "x0", "x1") or run.extents.get(("mz", a, c)) or condition.mass_range
        binned = analysis.get_binned_map(condition, time_bins, x_bins, time_window, x_range)
        run.extents.setdefault(("mz", a, c), ValueRange(float(binned.x_edges[0]), float(binned.x_edges[-1])))
        return _grid(binned)


def _checked_wavelengths(run, analysis, window) -> None:
    span = _wavelength_span(analysis)
    if span is None:
        raise RequestError(f"{run.name}: the DAD analysis has no spectra")
    if window is not None and (window.min < span[0] or window.max > span[1]):
        raise RequestError(f"{run.name}: the window {window.min:g}-{window.max:g} nm lies outside the DAD "
                           f"analysis's wavelengths, {span[0]:g}-{span[1]:g} nm")


def _dad_axes(run, a: int, analysis) -> tuple[numpy.ndarray, numpy.ndarray]:
    """The DAD analysis's retention times and wavelengths, read once."""
    from ozra_data_access.arrays import spectrum_arrays

    key = ("dad axes", a)
    if key not in run.extents:
        count = analysis.get_spectra_count()
        times = numpy.array([analysis.get_spectrum(i).retention_time for i in range(count)], dtype=float)
        wavelengths = spectrum_arrays(analysis.get_spectrum(0).get_spectrum_points())[0] if count else numpy.empty(0)
        run.extents[key] = (times[~numpy.isnan(times)], wavelengths)
    return run.extents[key]


def dad_map(runs: Runs, params: Params) -> dict:
    """The retention time x wavelength map of one DAD analysis, largest absorbance per bin."""
    time_bins, x_bins = _bins(params, "time_bins"), _bins(params, "x_bins")
    time_window = _window(params, "t0", "t1")
    with runs.run(_index(params, "run")) as run:
        a = _index(params, "analysis", 0)
        analysis = run.dad(a)
        window = _window(params, "x0", "x1")
        _checked_wavelengths(run, analysis, window)
        times, wavelengths = _dad_axes(run, a, analysis)
        time_bins = _fitted(time_bins, _within(times, time_window))
        x_bins = _fitted(x_bins, _within(wavelengths, window))
        return _grid(analysis.get_binned_map(time_bins, x_bins, time_window, window))


def dad_chromatogram(runs: Runs, params: Params) -> dict:
    """The max plot of a wavelength window (the whole range by default) and, when a window is
    given, its mean-absorbance chromatogram."""
    from ozra_data_access.common import ValueRange

    with runs.run(_index(params, "run")) as run:
        analysis = run.dad(_index(params, "analysis", 0))
        window = _window(params, "w0", "w1")
        _checked_wavelengths(run, analysis, window)
        whole = ValueRange(*_wavelength_span(analysis))
        tolerance = _number(params, "tol", 0.0)
        answer = {"max_plot": _chromatogram(analysis.get_max_plot(window or whole, tolerance))}
        if window is not None:
            answer["window"] = _chromatogram(analysis.get_chromatogram(window))
        return answer


def dad_spectrum(runs: Runs, params: Params) -> dict:
    """The absorbance spectrum nearest a retention time."""
    with runs.run(_index(params, "run")) as run:
        analysis = run.dad(_index(params, "analysis", 0))
        if analysis.get_spectra_count() == 0:
            raise RequestError(f"{run.name}: the DAD analysis has no spectra")
        chosen = analysis.find_nearest_spectrum(_number(params, "time"))
        return {"index": chosen.index, "retention_time": chosen.retention_time, **_points(chosen.get_spectrum_points())}


def trace(runs: Runs, params: Params) -> dict:
    """The points of one quantitative or analog trace."""
    with runs.run(_index(params, "run")) as run:
        chosen = run.trace(params.get("kind", "quan"), _index(params, "analysis", 0), _index(params, "index"))
        return {"label": chosen.label, "unit": _text(chosen.unit), "time": _floats(chosen.retention_times),
                "intensity": _floats(chosen.intensities)}


ANSWERS: dict[str, Callable[[Runs, Params], dict]] = {
    "overview": overview, "chromatogram": chromatogram, "spectrum": spectrum, "xic": xic, "ms_map": ms_map,
    "dad_map": dad_map, "dad_chromatogram": dad_chromatogram, "dad_spectrum": dad_spectrum, "trace": trace,
}
