"""Thermo .raw files read through opentfraw, each scan given as the mzML reader gives a spectrum.

The mzML converter then maps them as it maps an mzML file written from the same run: the filter
string, the scan number (in the native id mzML uses for Thermo runs), ion injection time, the
precursor (selected ion, charge, isolation window) and the activation (method, collision energy)
become the cvParams mzML holds them under; the analyzer is the filter string's first word.

Profile scans of the ion trap (ITMS) are stored without points: opentfraw 3.1 gives their
intensities right but an m/z axis one step (1/11 m/z) below the instrument's, checked against the
vendor library's conversion of the same run. Their retention time, filter string and total ion
current are kept; their points are listed as not stored, never stored with a wrong m/z.
"""

from __future__ import annotations

import os
from typing import Iterator, Optional, Union

import numpy as np

from ozra_data_access.convert import vocabulary as cv
from ozra_data_access.convert.errors import ConversionError
from ozra_data_access.convert.mzml_reader import Array, MzmlHeader, MzmlSpectrum, Param, Precursor, SourceFile

_MINUTE = ("UO:0000031", "minute")
_MZ = ("MS:1000040", "m/z")
_MILLISECOND = ("UO:0000028", "millisecond")
_ACTIVATIONS = {"cid": ("MS:1000133", "collision-induced dissociation"),
                "hcd": ("MS:1000422", "beam-type collision-induced dissociation"),
                "etd": ("MS:1000598", "electron transfer dissociation"),
                "ethcd": ("MS:1002631", "electron-transfer/higher-energy collision dissociation")}
_ION_INJECTION_TIME = "MS:1000927"
_WITHHELD_PROFILE = "ITMS"


def _param(value, name: str, unit: Optional[tuple] = None) -> Param:
    return Param(str(value), name, *(unit or (None, None)))


class ThermoReader:
    """The scans of a Thermo .raw file, in scan order, as `MzmlSpectrum` items.

    `not_stored` collects (what, reason) for what is read but not given on."""

    def __init__(self, source: Union[str, "os.PathLike[str]"], not_stored: Optional[list] = None):
        try:
            import opentfraw
        except ImportError:
            raise ConversionError("converting Thermo .raw files needs opentfraw: pip install "
                                  "'ozra_data_access[thermo]'") from None
        self.source = os.fspath(source)
        try:
            self._raw = opentfraw.RawFile(self.source)
        except Exception as error:  # opentfraw raises its own types for what it cannot parse
            raise ConversionError(f"{self.source}: opentfraw cannot read the file ({error})") from None
        self.not_stored = [] if not_stored is None else not_stored
        self.spectrum_count: Optional[int] = int(self._raw.num_scans)
        # The Thermo native-id format marks the run as Thermo's, so conditions carry the filter string.
        self.header = MzmlHeader(source_file=SourceFile(
            id=None, name=os.path.basename(self.source), location=None,
            params={cv.THERMO_NATIVE_ID_FORMAT: _param("", "Thermo nativeID format")}))

    def __enter__(self) -> "ThermoReader":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def close(self) -> None:
        """Releases the reader (opentfraw holds no open file between calls)."""
        self._raw = None

    def items(self) -> Iterator[MzmlSpectrum]:
        """Every scan of the mass spectrometer's controller, first to last."""
        withheld = []
        for number in range(self._raw.first_scan, self._raw.last_scan + 1):
            scan = self._raw.scan(number)
            arrays = {}
            params = _scan_params(scan)
            if scan["scan_mode"] == "profile" and scan["analyzer"] == _WITHHELD_PROFILE:
                withheld.append(number)
            else:
                mz, intensity = self._raw.profile(number) if scan["scan_mode"] == "profile" else (
                    scan["mz"], scan["intensity"])
                arrays = {cv.MZ_ARRAY: Array(np.asarray(mz), _param("", "m/z array", _MZ)),
                          cv.INTENSITY_ARRAY: Array(np.asarray(intensity), _param("", "intensity array"))}
                params[cv.PROFILE_SPECTRUM if scan["scan_mode"] == "profile" else cv.CENTROID_SPECTRUM] = _param(
                    "", f"{scan['scan_mode']} spectrum")
            yield MzmlSpectrum(id=f"controllerType=0 controllerNumber=1 scan={number}", params=params,
                               scan=_scan_terms(scan), scan_windows=[_window(scan)],
                               precursors=[_precursor(scan)] if scan["ms_level"] > 1 else [], arrays=arrays)
        if withheld:
            self.not_stored.append((
                f"profile points of {len(withheld)} ion-trap scans ({_numbers(withheld)})",
                "opentfraw gives their m/z axis one step off the instrument's; retention time, filter "
                "string and total ion current are kept"))


def _numbers(numbers: list) -> str:
    return "scan " + ", ".join(map(str, numbers)) if len(numbers) <= 10 else (
        f"scans {numbers[0]}-{numbers[-1]}")


def _scan_params(scan: dict) -> dict:
    params = {cv.MS_LEVEL: _param(scan["ms_level"], "ms level"),
              cv.TOTAL_ION_CURRENT: _param(repr(float(scan["total_ion_current"])), "total ion current"),
              cv.BASE_PEAK_MZ: _param(repr(float(scan["base_peak_mz"])), "base peak m/z", _MZ),
              cv.BASE_PEAK_INTENSITY: _param(repr(float(scan["base_peak_intensity"])), "base peak intensity")}
    polarity = {"+": (cv.POSITIVE_SCAN, "positive scan"), "-": (cv.NEGATIVE_SCAN, "negative scan")}.get(
        scan["polarity"])
    if polarity:
        params[polarity[0]] = _param("", polarity[1])
    return params


def _scan_terms(scan: dict) -> dict:
    terms = {cv.SCAN_START_TIME: _param(repr(float(scan["retention_time"])), "scan start time", _MINUTE)}
    if scan["filter_string"] is not None:
        terms[cv.FILTER_STRING] = _param(scan["filter_string"], "filter string")
    if scan["ion_injection_time_ms"] is not None:
        terms[_ION_INJECTION_TIME] = _param(repr(float(scan["ion_injection_time_ms"])), "ion injection time",
                                            _MILLISECOND)
    return terms


def _window(scan: dict) -> dict:
    return {cv.SCAN_WINDOW_LOWER: _param(repr(float(scan["low_mz"])), "scan window lower limit", _MZ),
            cv.SCAN_WINDOW_UPPER: _param(repr(float(scan["high_mz"])), "scan window upper limit", _MZ)}


def _precursor(scan: dict) -> Precursor:
    selected, isolation, activation = {}, {}, {}
    if scan["precursor_mz"] is not None:
        selected[cv.SELECTED_ION_MZ] = _param(repr(float(scan["precursor_mz"])), "selected ion m/z", _MZ)
    if scan["charge"]:
        selected["MS:1000041"] = _param(scan["charge"], "charge state")
    target = scan["isolation_target_mz"]
    if target is not None:
        isolation[cv.ISOLATION_TARGET] = _param(repr(float(target)), "isolation window target m/z", _MZ)
        if scan["isolation_width"]:
            half = repr(float(scan["isolation_width"]) / 2)
            isolation[cv.ISOLATION_LOWER_OFFSET] = _param(half, "isolation window lower offset", _MZ)
            isolation[cv.ISOLATION_UPPER_OFFSET] = _param(half, "isolation window upper offset", _MZ)
    if scan["collision_energy"] is not None:
        activation[cv.COLLISION_ENERGY] = _param(repr(float(scan["collision_energy"])), "collision energy")
    method = scan["activation"]
    if method is not None:
        if method not in _ACTIVATIONS:
            raise ConversionError(f"scan {scan['scan_number']}: the activation {method!r} is not one of "
                                  f"{sorted(_ACTIVATIONS)}")
        activation[_ACTIVATIONS[method][0]] = _param("", _ACTIVATIONS[method][1])
    master = scan["master_scan_number"]
    return Precursor(spectrum_ref=None if master is None else f"controllerType=0 controllerNumber=1 scan={master}",
                     isolation=isolation, selected_ion=selected, activation=activation)
