"""Quantitative and analog-detector analyses, and their traces.

A measurement hands these out for its non-qualitative functions. Each such function holds
traces: intensity over retention time, one per monitored reaction or ion (quantitative MS
analyses) or one per channel of another detector (analog analyses: absorbance at one
wavelength, a charged-aerosol or light-scattering detector, pressure, flow, temperature).

    quan = measurement.get_quan_analysis(0)
    for trace in quan.traces:
        print(trace.label, trace.condition, len(trace.retention_times))

How a trace is stored (see docs/format.md): each trace is one spectrum of its function, whose
x values are retention times in minutes. Its description's supplemental properties may name
the trace: "NativeId" (its id in the source), "ChannelName", "DetectorType" and "Unit"
(what the intensities measure, e.g. "mAU"). A quantitative function may store its
conditions as a list of condition records under its own supplemental property
"AcquisitionConditions", which each trace's condition index points into; without it, a
quantitative trace's condition is made from the trace's own description.

The function's spectrum index block is read when a trace is first asked for, not when the
analysis is made; a trace's points are read each time they are asked for.
"""

from __future__ import annotations

import numpy as np

from ozra_data_access._internal._enum import DetectorTypes
from ozra_data_access._internal._index import SpectrumIndex
from ozra_data_access._internal._storage import _read_spectrum_index_block, _read_spectrum_points
from ozra_data_access.arrays import spectrum_arrays

#: The supplemental property of a quantitative function holding its condition records.
CONDITIONS_PROPERTY = "AcquisitionConditions"


def _acquisition_condition(record):
    # Imported when needed: loading this module must not load the qual module, which the
    # access module loads in its own order.
    from ozra_data_access.qual import AcquisitionCondition

    return AcquisitionCondition(record)


def _not_picklable(self):
    raise TypeError(f"cannot pickle {type(self).__name__!r} object: it reads through its file's open reader "
                    "(pickle the OzraFile, which pickles as its path)")


class Trace:
    """One trace of a quantitative or analog analysis: intensity over retention time (minutes).

    `index` is its position in the analysis; `label` the text that names it (its channel name,
    else its condition's text, else its id in the source); `condition` its acquisition
    condition (quantitative MS traces) or None; `detector_type` and `unit` name what was
    measured, where known. `get_points()` reads its points: x is the retention time.
    Not picklable: it reads through its file's open reader (pickle the OzraFile, which pickles
    as its path, and get the trace again).
    """

    __slots__ = ("_analysis", "_index", "_spectrum_index", "_condition")

    def __init__(self):
        raise Exception("Inaccessible due to protection level")

    __reduce__ = _not_picklable

    @classmethod
    def _create(cls, analysis, index, spectrum_index, condition):
        trace = object.__new__(cls)
        trace._analysis = analysis
        trace._index = index
        trace._spectrum_index = spectrum_index
        trace._condition = condition
        return trace

    @property
    def _description(self):
        return self._spectrum_index._SpectrumIndex__spectrum_description

    @property
    def index(self) -> int:
        """The trace's position in its analysis."""
        return self._index

    @property
    def supplemental_properties(self) -> dict:
        """The trace's stored supplemental properties (an empty dict when it has none)."""
        properties = self._description._InternalSpectrumDescription__supplemental_properties
        return properties if isinstance(properties, dict) else {}

    @property
    def condition(self):
        """The acquisition condition of a quantitative MS trace; None for other detectors."""
        return self._condition

    @property
    def label(self) -> str:
        """The channel name, else the condition's text, else the id in the source, else "trace <index>"."""
        properties = self.supplemental_properties
        if properties.get("ChannelName"):
            return str(properties["ChannelName"])
        if self._condition is not None:
            return str(self._condition)
        if properties.get("NativeId"):
            return str(properties["NativeId"])
        return "trace " + str(self.index)

    @property
    def detector_type(self) -> str | None:
        """What detected the trace: the trace's own "DetectorType" property, else its function's detector."""
        stored = self.supplemental_properties.get("DetectorType")
        if stored is not None:
            return str(stored)
        detector = self._analysis._detector_type
        return detector.name if isinstance(detector, DetectorTypes) else None

    @property
    def unit(self) -> str | None:
        """The unit of the intensities, where the source named one."""
        unit = self.supplemental_properties.get("Unit")
        return None if unit is None else str(unit)

    def get_points(self):
        """The trace's points, read from the file: a sequence of (x, intensity), x the retention time in minutes."""
        spectrum_index = self._spectrum_index
        return _read_spectrum_points(spectrum_index._SpectrumIndex__reader, spectrum_index._SpectrumIndex__position)

    @property
    def retention_times(self) -> np.ndarray:
        """The retention times in minutes, as a float64 array (read from the file)."""
        return spectrum_arrays(self.get_points())[0]

    @property
    def intensities(self) -> np.ndarray:
        """The intensities, as a float64 array (read from the file)."""
        return spectrum_arrays(self.get_points())[1]

    def __str__(self):
        return "[" + str(self.index) + "] " + self.label

    __repr__ = __str__


class _FunctionAnalysis:
    """What the quantitative and the analog analysis have in common: a list of traces.

    Not picklable: an analysis reads through its file's open reader (pickle the OzraFile, which
    pickles as its path, and get the analysis again).
    """

    _kind = ""

    def __init__(self):
        raise Exception("Inaccessible due to protection level")

    __reduce__ = _not_picklable

    @classmethod
    def _create(cls, function_index, index):
        analysis = object.__new__(cls)
        analysis._function_index = function_index
        analysis._index = index
        analysis._traces = None
        return analysis

    @property
    def index(self):
        """The analysis's position among the measurement's analyses of its kind."""
        return self._index

    @property
    def function_description(self):
        """The function's stored description record."""
        return self._function_index._FunctionIndex__function_description

    @property
    def _quan_description(self):
        return self.function_description._FunctionDescription__quan_description

    @property
    def _detector_type(self):
        return self._quan_description._QuanDescription__detector_type

    @property
    def supplemental_properties(self) -> dict:
        """The function's stored supplemental properties (an empty dict when it has none)."""
        properties = self._quan_description._QuanDescription__supplemental_properties
        return properties if isinstance(properties, dict) else {}

    def get_trace_count(self) -> int:
        """The number of traces."""
        return len(self.traces)

    def get_trace(self, index: int) -> Trace:
        """The trace at `index` (0 <= index < get_trace_count())."""
        traces = self.traces
        if not isinstance(index, int) or isinstance(index, bool):
            raise TypeError(f"a trace index is an int, not {type(index).__name__}")
        if not 0 <= index < len(traces):
            raise IndexError(f"trace index {index} is out of range: the analysis has {len(traces)} traces")
        return traces[index]

    @property
    def traces(self) -> list:
        """Every trace, in stored order (a new list; the function's index block is read once)."""
        if self._traces is None:
            self._traces = [Trace._create(self, index, record, self._condition_of(record))
                            for index, record in enumerate(self._read_index())]
        return list(self._traces)

    def to_arrow(self):
        """Every trace point as a pyarrow Table, one row per point, traces in order: trace_index, label,
        unit, retention_time (minutes), intensity. Needs pyarrow (the [export] extra)."""
        from ozra_data_access.export.tables import trace_table

        return trace_table(self)

    def _condition_of(self, spectrum_index):
        return None

    def _read_index(self) -> list:
        """The function's spectrum index records, read as a qualitative analysis reads its own."""
        function_index = self._function_index
        return _read_spectrum_index_block(function_index._FunctionIndex__reader, function_index._FunctionIndex__position,
                                          SpectrumIndex._SpectrumIndex__create_instance)

    def __str__(self):
        return "[" + str(self._index) + "] " + self._kind + " analysis"

    __repr__ = __str__


class QuanAnalysis(_FunctionAnalysis):
    """A quantitative (targeted MS) analysis of a measurement: one trace per monitored reaction or ion."""

    _kind = "quantitative"

    @classmethod
    def __create_instance(cls, function_index, index):
        return cls._create(function_index, index)

    def _condition_of(self, spectrum_index):
        description = spectrum_index._SpectrumIndex__spectrum_description
        stored = self.supplemental_properties.get(CONDITIONS_PROPERTY)
        position = description._InternalSpectrumDescription__acquisition_condition_index
        if isinstance(stored, list) and isinstance(position, int) and 0 <= position < len(stored):
            return _acquisition_condition(stored[position])
        return _acquisition_condition(description)


class AnalogAnalysis(_FunctionAnalysis):
    """An analysis of a non-MS, non-qualitative detector: one trace per channel."""

    _kind = "analog"

    @classmethod
    def __create_instance(cls, function_index, index):
        return cls._create(function_index, index)
