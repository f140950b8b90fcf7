"""Description records: plain holders of the values decoded from a file."""

from ozra_data_access._internal._enum import (
    DetectorTypes,
    TripleQScanTypes,
    VendorSpecificAdditionalConditionTypes,
)
from ozra_data_access._internal._storage import (
    FunctionDescription,
    InternalAcquisitionCondition,
    InternalAcquisitionCoreCondition,
    InternalSpectrumDescription,
    MeasurementDescription,
    QualDescription,
    QuanDescription,
    TripleQScanCondition,
    VendorSpecificAdditionalCondition,
)

__all__ = [
    "DetectorTypes",
    "FunctionDescription",
    "InternalAcquisitionCondition",
    "InternalAcquisitionCoreCondition",
    "InternalSpectrumDescription",
    "MeasurementDescription",
    "QualDescription",
    "QuanDescription",
    "TripleQScanCondition",
    "TripleQScanTypes",
    "VendorSpecificAdditionalCondition",
    "VendorSpecificAdditionalConditionTypes",
]
