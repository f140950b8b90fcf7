"""The stored condition list of an MS function, decided once all of its spectra are seen.

Spectra fall into groups by what makes an acquisition condition apart from its mass range:
MS level, polarity, collision energy, spectrum type, precursor m/z and isolation window.
Within a group, the scan windows are either the instrument's settings or derived from the data:

- they are settings when the group has one window only, or when every distinct window is
  shared by at least two of the group's spectra (alternating windows, SIM segments): each
  window is then a condition of its own, with the window as its mass range;
- otherwise they are data-derived (older converters wrote each spectrum's lowest and highest
  m/z as its window, so nearly every spectrum has its own): the group is one condition, with
  no mass range. Each spectrum keeps its own window in its description.

Conditions are listed in the order of their first spectrum. Because the decision needs the
whole group, each spectrum's condition index is a :class:`LaterIndex` that :meth:`finish` sets
when the last spectrum has been seen, before the writer stores the function's index block.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Optional

from ozra_data_access._internal._enum import TripleQScanTypes, VendorSpecificAdditionalConditionTypes
from ozra_data_access.common import ValueRange
from ozra_data_access.writer import (
    AcquisitionConditionData,
    AcquisitionCoreConditionData,
    LaterIndex,
    SpectrumData,
    TripleQScanConditionData,
    VendorSpecificConditionData,
)

#: How often a window must occur in its group to count as an instrument setting.
_SETTING_REPEATS = 2


@dataclass
class _Window:
    """The spectra of one group that share one scan window."""

    group: tuple
    window: Any
    spectra: list = field(default_factory=list)
    scan_filters: set = field(default_factory=set)


class StoredConditions:
    """Collects the spectra's conditions while they stream; `stored` is complete after `finish()`.

    With a `vendor` type, each condition carries that vendor's record, whose scan filter is the
    filter string all of its spectra share (None where they differ).
    """

    def __init__(self, vendor: Optional[VendorSpecificAdditionalConditionTypes] = None):
        self.vendor = vendor
        self.stored: list = []
        self._windows: dict = {}

    def index_of(self, spectrum: SpectrumData, scan_filter: Optional[str] = None) -> LaterIndex:
        """The spectrum's condition index, set by `finish()`."""
        group = (spectrum.ms_level, spectrum.polarity, spectrum.collision_energy, spectrum.spectrum_type,
                 spectrum.precursor_range, spectrum.precursor_value)
        entry = self._windows.get((group, spectrum.mass_range))
        if entry is None:
            entry = self._windows[(group, spectrum.mass_range)] = _Window(group, spectrum.mass_range)
        later = LaterIndex()
        entry.spectra.append(later)
        entry.scan_filters.add(scan_filter)
        return later

    def finish(self) -> None:
        """Decides the conditions, fills `stored` and sets every spectrum's condition index."""
        windows_of: dict = {}
        for entry in self._windows.values():
            windows_of.setdefault(entry.group, []).append(entry)
        settings = {group: len(entries) == 1 or all(len(e.spectra) >= _SETTING_REPEATS for e in entries)
                    for group, entries in windows_of.items()}
        positions: dict = {}
        filters: list = []
        for entry in self._windows.values():
            mass_range = entry.window if settings[entry.group] else None
            position = positions.get((entry.group, mass_range))
            if position is None:
                position = positions[(entry.group, mass_range)] = len(filters)
                filters.append(set())
                self.stored.append(self._condition(entry.group, mass_range))
            filters[position] |= entry.scan_filters
            for later in entry.spectra:
                later.value = position
        if self.vendor is not None:
            for condition, scan_filters in zip(self.stored, filters):
                vendor = condition.internal_acquisition_core_condition.vendor_specific_additional_condition
                vendor.scan_info_string = scan_filters.pop() if len(scan_filters) == 1 else None
        self._windows = {}

    def _condition(self, group: tuple, mass_range: Any) -> AcquisitionConditionData:
        ms_level, polarity, collision_energy, spectrum_type, precursor_range, precursor_value = group
        return AcquisitionConditionData(
            AcquisitionCoreConditionData(
                ms_level=ms_level,
                polarity=polarity,
                collision_energy=collision_energy,
                mass_range=mass_range,
                original_measured_spectrum_type=spectrum_type,
                vendor_specific_additional_condition=None if self.vendor is None else VendorSpecificConditionData(
                    self.vendor),
            ),
            precursor_range=precursor_range,
            precursor_value=precursor_value,
        )


class TraceConditions:
    """The condition list of a quantitative function, one entry per distinct condition of its traces.

    A reaction monitored from a precursor to a product (ms level 2 with a product m/z) is a
    triple-quadrupole product ion scan whose Q3 range is the product's isolation window (the
    product m/z alone when the source gives no window)."""

    def __init__(self) -> None:
        self.stored: list = []
        self._positions: dict = {}

    def index_of(self, trace: SpectrumData, product: Optional[float], product_range: Optional[ValueRange]) -> int:
        key = (trace.ms_level, trace.polarity, trace.collision_energy, trace.precursor_value, trace.precursor_range,
               product, product_range)
        position = self._positions.get(key)
        if position is None:
            position = self._positions[key] = len(self.stored)
            triple_q = None
            if trace.ms_level == 2 and product is not None:
                triple_q = TripleQScanConditionData(TripleQScanTypes.PRODUCT, target_mz=trace.precursor_value,
                                                    q3_range=product_range or ValueRange(product, product))
            self.stored.append(AcquisitionConditionData(
                AcquisitionCoreConditionData(ms_level=trace.ms_level, polarity=trace.polarity,
                                             collision_energy=trace.collision_energy,
                                             original_measured_spectrum_type=None, triple_q_scan_condition=triple_q),
                precursor_range=trace.precursor_range,
                precursor_value=trace.precursor_value,
            ))
        return position
