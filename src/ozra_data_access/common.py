"""Value types shared by the public modules."""

from ozra_data_access._internal._enum import PolarityTypes, SpectrumTypes
from ozra_data_access._internal._storage import SpectrumBasedChromatogramPoint, ValueRange

__all__ = ["PolarityTypes", "SpectrumBasedChromatogramPoint", "SpectrumTypes", "ValueRange"]
