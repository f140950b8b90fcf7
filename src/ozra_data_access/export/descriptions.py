"""The stored description of a spectrum or trace, as plain values.

The reader's spectrum objects show what a user asks for (the condition, the points); an export
needs every stored value of the description as well (total ion current, base peak, the stored
condition index), so they are read here, in one place, from the storage layer's description.
"""

from __future__ import annotations

from dataclasses import dataclass, replace
from typing import Any, Optional

_PREFIX = "_InternalSpectrumDescription__"


@dataclass(frozen=True)
class StoredDescription:
    """The values a spectrum's (or a trace's) description stores; None where it stores none."""

    retention_time: Optional[float]
    ms_level: Optional[int]
    polarity: Any
    spectrum_type: Any
    collision_energy: Optional[float]
    precursor_value: Optional[float]
    precursor_range: Any
    mass_range: Any
    precursor_index: Optional[int]
    current_total_ion: Optional[float]
    base_peak_mz: Optional[float]
    base_peak_intensity: Optional[float]
    condition_index: Optional[int]
    is_profile_spectrum_measured: Optional[bool]
    supplemental_properties: dict


def _fields(description: Any) -> StoredDescription:
    def value(name: str) -> Any:
        return getattr(description, _PREFIX + name)

    return StoredDescription(
        retention_time=value("retention_time"),
        ms_level=value("ms_level"),
        polarity=value("polarity"),
        spectrum_type=value("spectrum_type"),
        collision_energy=value("collision_energy"),
        precursor_value=value("precursor_value"),
        precursor_range=value("precursor_range"),
        mass_range=value("mass_range"),
        precursor_index=value("precursor_index"),
        current_total_ion=value("current_total_ion"),
        base_peak_mz=value("base_peak_mz"),
        base_peak_intensity=value("base_peak_intensity"),
        condition_index=value("acquisition_condition_index"),
        is_profile_spectrum_measured=value("is_profile_spectrum_measured"),
        supplemental_properties=dict(value("supplemental_properties") or {}),
    )


#: The values a spectrum's acquisition condition gives where its description stores none.
_CONDITION_VALUES = ("ms_level", "polarity", "collision_energy", "precursor_value", "precursor_range", "mass_range")


def spectrum_description(spectrum: Any) -> StoredDescription:
    """The stored description of a `Spectrum` or `DADSpectrum`. For an MS spectrum, a value its
    description leaves out is taken from its acquisition condition (a vendor run may store the MS
    level or polarity only on the condition record), as the reader shows it."""
    if hasattr(spectrum, "_DADSpectrum__spectrum_index"):
        return _fields(spectrum._DADSpectrum__spectrum_index._SpectrumIndex__spectrum_description)
    stored = _fields(spectrum._Spectrum__spectrum_index._SpectrumIndex__spectrum_description)
    missing = [field for field in _CONDITION_VALUES if getattr(stored, field) is None]
    if not missing:
        return stored
    condition = spectrum.acquisition_condition
    return replace(stored, **{field: getattr(condition, field) for field in missing})


def trace_description(trace: Any) -> StoredDescription:
    """The stored description of a quantitative or analog `Trace`."""
    return _fields(trace._description)


def has_profile(spectrum: Any) -> bool:
    """Whether a `Spectrum` stores profile points (its profile position is 0 when it stores none)."""
    return spectrum._Spectrum__spectrum_index._SpectrumIndex__profile_position != 0
