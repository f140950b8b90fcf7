"""Building Ozra files from Python data.

Describe the file with the dataclasses of :mod:`ozra_data_access.writer.model` and write it
with :func:`write_file`::

    import numpy as np
    from ozra_data_access.writer import FunctionData, MeasurementData, SpectrumData, write_file

    spectra = [
        SpectrumData(retention_time=0.5 * i, x=np.array([100.0, 200.0]), intensity=np.array([1.0, 2.0]))
        for i in range(10)
    ]
    write_file("run.ozra", [MeasurementData(sample_name="S1", functions=[FunctionData.qual_ms(spectra)])])

Every field a reader decodes can be set, and is stored as given; see the model's classes.
"""

from ozra_data_access.writer.api import CONVERTER_VERSION, write_file
from ozra_data_access.writer.blocks import FORMAT_VERSION
from ozra_data_access.writer.model import (
    AUTO,
    AcquisitionConditionData,
    AcquisitionCoreConditionData,
    FunctionData,
    LaterIndex,
    MeasurementData,
    SpectrumData,
    TripleQScanConditionData,
    VendorSpecificConditionData,
)

__all__ = [
    "AUTO",
    "AcquisitionConditionData",
    "AcquisitionCoreConditionData",
    "CONVERTER_VERSION",
    "FORMAT_VERSION",
    "FunctionData",
    "LaterIndex",
    "MeasurementData",
    "SpectrumData",
    "TripleQScanConditionData",
    "VendorSpecificConditionData",
    "write_file",
]
