"""The description records: their kinds and the order of their stored fields."""

from __future__ import annotations

import enum
from typing import Any

import numpy as np


class RecordKind(enum.IntEnum):
    """The first byte of a record."""

    MEASUREMENT_DESCRIPTION = 1
    FUNCTION_DESCRIPTION = 2
    QUAL_DESCRIPTION = 3
    QUAN_DESCRIPTION = 4
    INTERNAL_SPECTRUM_DESCRIPTION = 5
    INTERNAL_ACQUISITION_CONDITION = 6
    INTERNAL_ACQUISITION_CORE_CONDITION = 7
    VENDOR_SPECIFIC_ADDITIONAL_CONDITION = 8
    TRIPLE_Q_SCAN_CONDITION = 9


class _Nested:
    """A record stored as the value of another record's field."""

    __slots__ = ("kind", "fields")

    def __init__(self, kind: RecordKind, fields: list):
        self.kind = kind
        self.fields = fields

    def ozra_record(self) -> tuple[int, list]:
        return self.kind, self.fields


def measurement_description(m: Any) -> tuple[int, list]:
    """The MeasurementDescription record of a `MeasurementData`."""
    return RecordKind.MEASUREMENT_DESCRIPTION, [
        m.sample_name, m.sample_id, m.acquisition_method_file_name, m.dilution_factor, m.injection_volume,
        m.original_file_path, m.instrument_product_name, m.measurement_user_name, m.plate_code, m.well_code,
        m.measurement_date_time, m.instrument_manufacturer, m.source_file_definition, m.supplemental_properties,
        m.hash, *m.appended_fields,
    ]


def function_description(f: Any) -> tuple[int, list]:
    """The FunctionDescription record of a `FunctionData`, with its qual or quan description inside."""
    if f.is_qual:
        wavelengths = None if f.wavelengths is None else np.asarray(f.wavelengths, dtype="<f8")
        qual = _Nested(RecordKind.QUAL_DESCRIPTION,
                       [f.detector_type, f.supplemental_properties, f.acquisition_conditions, wavelengths])
        quan = None
    else:
        if f.acquisition_conditions is not None or f.wavelengths is not None:
            raise ValueError("a quantitative function stores neither a condition list nor wavelengths")
        qual = None
        quan = _Nested(RecordKind.QUAN_DESCRIPTION, [f.detector_type, f.supplemental_properties])
    return RecordKind.FUNCTION_DESCRIPTION, [f.is_qual, qual, quan, *f.appended_fields]


def spectrum_description(s: Any, index: Any, summary: tuple, is_profile_measured: Any) -> tuple[int, list]:
    """The InternalSpectrumDescription record of a `SpectrumData`, its derived fields resolved."""
    current_total_ion, base_peak_intensity, base_peak_mz = summary
    return RecordKind.INTERNAL_SPECTRUM_DESCRIPTION, [
        index, s.retention_time, s.acquisition_condition_index, s.precursor_index, s.product_indices,
        s.spectrum_type, s.supplemental_properties, current_total_ion, base_peak_intensity, base_peak_mz,
        s.ms_level, s.polarity, s.collision_energy, s.mass_range, s.precursor_range, s.precursor_value,
        is_profile_measured, s.cone_voltage, *s.appended_fields,
    ]


def acquisition_condition(c: Any) -> tuple[int, list]:
    """The InternalAcquisitionCondition record of an `AcquisitionConditionData`."""
    return RecordKind.INTERNAL_ACQUISITION_CONDITION, [
        c.internal_acquisition_core_condition, c.precursor_range, c.precursor_value, *c.appended_fields,
    ]


def acquisition_core_condition(c: Any) -> tuple[int, list]:
    """The InternalAcquisitionCoreCondition record of an `AcquisitionCoreConditionData`."""
    return RecordKind.INTERNAL_ACQUISITION_CORE_CONDITION, [
        c.ms_level, c.polarity, c.collision_energy, c.mass_range, c.original_measured_spectrum_type,
        c.vendor_specific_additional_condition, c.triple_q_scan_condition, *c.appended_fields,
    ]


def vendor_specific_condition(c: Any) -> tuple[int, list]:
    """The VendorSpecificAdditionalCondition record of a `VendorSpecificConditionData`."""
    return RecordKind.VENDOR_SPECIFIC_ADDITIONAL_CONDITION, [
        c.type, c.original_id, c.cone_voltage, c.scan_info_string, *c.appended_fields,
    ]


def triple_q_scan_condition(c: Any) -> tuple[int, list]:
    """The TripleQScanCondition record of a `TripleQScanConditionData`."""
    return RecordKind.TRIPLE_Q_SCAN_CONDITION, [c.type, c.target_mz, c.q1_range, c.q3_range, *c.appended_fields]
