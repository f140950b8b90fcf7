"""What a file holds, as plain dataclasses the caller fills.

Every description field is stored exactly as given, encoded by its Python type (see
:mod:`ozra_data_access.writer.values`): None stays None, an int stays an int where a float is
usual, a stored index may be any value. The writer checks only what the encoding itself needs;
the reader validates the rest. Fields that default to :data:`AUTO` are derived when the file
is written (a spectrum's index from its position, its summary values from its points).
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Iterable, Optional

from ozra_data_access._internal import _storage
from ozra_data_access._internal._enum import DetectorTypes, PolarityTypes, SpectrumTypes
from ozra_data_access.writer import records


class _Auto:
    """Marks a field the writer derives when the file is written."""

    _instance = None

    def __new__(cls):
        if cls._instance is None:
            cls._instance = super().__new__(cls)
        return cls._instance

    def __repr__(self) -> str:
        return "AUTO"


#: Default of the fields the writer derives (see each class).
AUTO: Any = _Auto()


class LaterIndex:
    """A spectrum's condition index that is known only once its function's last spectrum is given.

    Set `value` (an int) before the function's spectra iterable ends: the writer stores it when it
    writes the function's spectrum index block. Converters that decide a function's conditions
    from all of its spectra use it while streaming the spectra.
    """

    __slots__ = ("value",)

    def __init__(self) -> None:
        self.value: Optional[int] = None

#: The encodings of point data, each stored as its position here: "raw" (plain little-endian
#: numbers), "zstd" (one zstd frame of them) and "zstd-shuffle" (one zstd frame of the x values
#: delta-coded and every value byte-shuffled: smaller and read as fast, but readers older than
#: this encoding refuse its spectra).
POINT_ENCODINGS = _storage.POINT_ENCODINGS
#: The widths an intensity can be stored with: 4 (float32) or 8 (float64).
INTENSITY_WIDTHS = (4, 8)


@dataclass
class TripleQScanConditionData:
    """A triple-quadrupole scan setting (a ``TripleQScanCondition`` record)."""

    type: Any
    target_mz: Any = None
    q1_range: Any = None
    q3_range: Any = None
    #: Further fields stored behind the known ones (as a later minor version would add).
    appended_fields: tuple = ()

    def ozra_record(self) -> tuple[int, list]:
        """The record kind and stored fields."""
        return records.triple_q_scan_condition(self)


@dataclass
class VendorSpecificConditionData:
    """Scan settings of the acquisition software (a ``VendorSpecificAdditionalCondition`` record)."""

    type: Any
    original_id: Any = None
    cone_voltage: Any = None
    scan_info_string: Any = None
    #: Further fields stored behind the known ones.
    appended_fields: tuple = ()

    def ozra_record(self) -> tuple[int, list]:
        """The record kind and stored fields."""
        return records.vendor_specific_condition(self)


@dataclass
class AcquisitionCoreConditionData:
    """The core of a stored acquisition condition (an ``InternalAcquisitionCoreCondition`` record)."""

    ms_level: Any = 1
    polarity: Any = PolarityTypes.POSITIVE
    collision_energy: Any = None
    mass_range: Any = None
    original_measured_spectrum_type: Any = SpectrumTypes.CENTROID
    vendor_specific_additional_condition: Any = None
    triple_q_scan_condition: Any = None
    #: Further fields stored behind the known ones.
    appended_fields: tuple = ()

    def ozra_record(self) -> tuple[int, list]:
        """The record kind and stored fields."""
        return records.acquisition_core_condition(self)


@dataclass
class AcquisitionConditionData:
    """One entry of a function's stored condition list (an ``InternalAcquisitionCondition`` record)."""

    internal_acquisition_core_condition: Any = field(default_factory=AcquisitionCoreConditionData)
    precursor_range: Any = None
    precursor_value: Any = None
    #: Further fields stored behind the known ones.
    appended_fields: tuple = ()

    def ozra_record(self) -> tuple[int, list]:
        """The record kind and stored fields."""
        return records.acquisition_condition(self)


@dataclass
class SpectrumData:
    """One spectrum: its description (an ``InternalSpectrumDescription`` record) and its points.

    Points are given as arrays (anything numpy accepts): ``x`` (m/z, wavelength, or retention
    time for quan and analog traces) and ``intensity`` of the same length, and optionally
    ``profile_x`` and ``profile_intensity``. In a function with a wavelength array, leave ``x``
    None: the spectrum then stores intensities only. Points are stored as given; the reader
    requires x values that do not decrease.

    ``acquisition_condition_index`` may be a :class:`LaterIndex`, resolved when the function ends.

    Derived when written, unless set: ``index`` (the spectrum's position in its function),
    ``current_total_ion``, ``base_peak_intensity`` and ``base_peak_mz`` (sum and maximum of the
    centroid intensities as stored, and the x of the first maximum; 0.0 for a spectrum without
    points) and ``is_profile_spectrum_measured`` (whether profile points are given).
    """

    retention_time: Any = None
    x: Any = None
    intensity: Any = None
    profile_x: Any = None
    profile_intensity: Any = None
    index: Any = AUTO
    acquisition_condition_index: Any = None
    precursor_index: Any = None
    product_indices: Any = None
    spectrum_type: Any = SpectrumTypes.CENTROID
    supplemental_properties: Any = field(default_factory=dict)
    current_total_ion: Any = AUTO
    base_peak_intensity: Any = AUTO
    base_peak_mz: Any = AUTO
    ms_level: Any = 1
    polarity: Any = PolarityTypes.POSITIVE
    collision_energy: Any = None
    mass_range: Any = None
    precursor_range: Any = None
    precursor_value: Any = None
    is_profile_spectrum_measured: Any = AUTO
    cone_voltage: Any = None
    #: One of POINT_ENCODINGS for this spectrum's points; None takes the function's choice.
    point_encoding: Optional[str] = None
    #: 4 or 8 bytes per intensity for this spectrum; None takes the function's choice.
    intensity_width: Optional[int] = None
    #: Further description fields stored behind the known ones.
    appended_fields: tuple = ()

    @property
    def has_profile(self) -> bool:
        """Whether profile points are given."""
        return self.profile_x is not None or self.profile_intensity is not None


@dataclass
class FunctionData:
    """One function (analysis) of a measurement and its spectra.

    Its kind follows from ``is_qual`` and ``detector_type``: qualitative MS, qualitative of any
    other detector (DAD), quantitative MS, quantitative of any other detector (analog); the
    constructors :meth:`qual_ms`, :meth:`dad`, :meth:`quan` and :meth:`analog` set them. A
    qualitative function stores a ``QualDescription`` (with the optional stored condition list
    and wavelength array), any other a ``QuanDescription``.

    ``spectra`` may be any iterable, a generator included: it is consumed once, while the file
    is written. ``has_profile`` None gives the spectrum index block profile positions when
    any spectrum has profile points; True or False forces it (False drops profile points).
    """

    spectra: Iterable[SpectrumData] = field(default_factory=list)
    is_qual: Any = True
    detector_type: Any = DetectorTypes.MS
    supplemental_properties: Any = field(default_factory=dict)
    #: The stored condition list (``AcquisitionConditionData`` entries), or None.
    acquisition_conditions: Any = None
    #: The wavelengths of a DAD function's spectra, stored as a float array, or None.
    wavelengths: Any = None
    has_profile: Optional[bool] = None
    #: One of POINT_ENCODINGS for the points of this function; None takes the file's choice.
    point_encoding: Optional[str] = None
    #: 4 or 8 bytes per intensity in this function; None takes the file's choice.
    intensity_width: Optional[int] = None
    #: Further fields stored behind the known ones of the ``FunctionDescription``.
    appended_fields: tuple = ()

    @classmethod
    def qual_ms(cls, spectra: Iterable[SpectrumData] = (), **fields: Any) -> "FunctionData":
        """A qualitative MS function."""
        return cls(spectra=spectra, is_qual=True, detector_type=DetectorTypes.MS, **fields)

    @classmethod
    def dad(cls, spectra: Iterable[SpectrumData] = (), wavelengths: Any = None, **fields: Any) -> "FunctionData":
        """A qualitative diode-array function; with `wavelengths`, its spectra store intensities only."""
        return cls(spectra=spectra, is_qual=True, detector_type=DetectorTypes.DAD, wavelengths=wavelengths, **fields)

    @classmethod
    def quan(cls, spectra: Iterable[SpectrumData] = (), **fields: Any) -> "FunctionData":
        """A quantitative MS function (its spectra are traces over retention time)."""
        return cls(spectra=spectra, is_qual=False, detector_type=DetectorTypes.MS, **fields)

    @classmethod
    def analog(
        cls, spectra: Iterable[SpectrumData] = (), detector_type: Any = DetectorTypes.ANALOG, **fields: Any
    ) -> "FunctionData":
        """A quantitative function of a detector other than MS (an analog trace)."""
        return cls(spectra=spectra, is_qual=False, detector_type=detector_type, **fields)


@dataclass
class MeasurementData:
    """One measurement: its description (a ``MeasurementDescription`` record) and its functions."""

    functions: list = field(default_factory=list)
    sample_name: Any = None
    sample_id: Any = None
    acquisition_method_file_name: Any = None
    dilution_factor: Any = None
    injection_volume: Any = None
    original_file_path: Any = None
    instrument_product_name: Any = None
    measurement_user_name: Any = None
    plate_code: Any = None
    well_code: Any = None
    measurement_date_time: Any = None
    instrument_manufacturer: Any = None
    source_file_definition: Any = None
    supplemental_properties: Any = field(default_factory=dict)
    hash: Any = None
    #: Further description fields stored behind the known ones.
    appended_fields: tuple = ()
