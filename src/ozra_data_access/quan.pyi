"""Type stub of ozra_data_access.quan: quantitative and analog analyses and their traces."""

from typing import Any

import numpy as np

from ozra_data_access._internal._description import FunctionDescription
from ozra_data_access._internal._storage import SpectrumPoints
from ozra_data_access.qual import AcquisitionCondition

CONDITIONS_PROPERTY: str

class Trace:
    """One trace: intensity over retention time (minutes)."""

    @property
    def index(self) -> int: ...
    @property
    def label(self) -> str: ...
    @property
    def condition(self) -> AcquisitionCondition | None: ...
    @property
    def detector_type(self) -> str | None: ...
    @property
    def unit(self) -> str | None: ...
    @property
    def supplemental_properties(self) -> dict[str, Any]: ...
    def get_points(self) -> SpectrumPoints: ...
    @property
    def retention_times(self) -> np.ndarray: ...
    @property
    def intensities(self) -> np.ndarray: ...

class _FunctionAnalysis:
    @property
    def index(self) -> int: ...
    @property
    def function_description(self) -> FunctionDescription: ...
    @property
    def supplemental_properties(self) -> dict[str, Any]: ...
    def get_trace_count(self) -> int: ...
    def get_trace(self, index: int) -> Trace: ...
    @property
    def traces(self) -> list[Trace]: ...
    def to_arrow(self) -> Any:
        """Every trace point as a pyarrow Table (trace_index, label, unit, retention_time, intensity)."""

class QuanAnalysis(_FunctionAnalysis):
    """A quantitative (targeted MS) analysis: one trace per monitored reaction or ion."""

class AnalogAnalysis(_FunctionAnalysis):
    """An analysis of a non-MS, non-qualitative detector: one trace per channel."""
