"""Index records: where each measurement, function and spectrum lies in the file."""

from ozra_data_access._internal._storage import FunctionIndex, JumpTable, MeasurementIndex, SpectrumIndex

__all__ = ["FunctionIndex", "JumpTable", "MeasurementIndex", "SpectrumIndex"]
