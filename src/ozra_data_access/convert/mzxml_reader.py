"""mzXML files read through pyteomics, each scan given as the mzML reader gives a spectrum.

The mzML converter then maps them: one mapping for both formats. An attribute becomes the cvParam
mzML holds it under (retentionTime -> scan start time in minutes, filterLine -> filter string,
startMz/endMz -> the scan window, precursorMz -> the selected ion and the isolation target with half
of windowWideness either side, activationMethod -> the dissociation method).
"""

from __future__ import annotations

import os
from typing import Iterator, Optional, Union

from ozra_data_access.convert import vocabulary as cv
from ozra_data_access.convert.errors import ConversionError
from ozra_data_access.convert.mzml_arrays import MzmlError
from ozra_data_access.convert.mzml_reader import Array, MzmlHeader, MzmlSpectrum, Param, Precursor

_MINUTE = ("UO:0000031", "minute")
_MZ = ("MS:1000040", "m/z")
_ACTIVATIONS = {"CID": ("MS:1000133", "collision-induced dissociation"),
                "HCD": ("MS:1000422", "beam-type collision-induced dissociation"),
                "ETD": ("MS:1000598", "electron transfer dissociation"),
                "ECD": ("MS:1000250", "electron capture dissociation")}


def _param(value, name: str, unit: Optional[tuple] = None) -> Param:
    return Param(str(value), name, *(unit or (None, None)))


class MzxmlReader:
    """The scans of an mzXML file, in file order, as `MzmlSpectrum` items."""

    def __init__(self, source: Union[str, "os.PathLike[str]"]):
        try:
            from pyteomics import mzxml
        except ImportError:
            raise ConversionError("converting mzXML needs pyteomics and lxml: pip install "
                                  "'ozra_data_access[mzxml]'") from None
        self.source = os.fspath(source)
        self._reader = mzxml.MzXML(self.source, use_index=False, decode_binary=True)
        #: mzXML files rarely state their scan count up front: progress runs without a total.
        self.spectrum_count: Optional[int] = None
        self.header = MzmlHeader()

    def __enter__(self) -> "MzxmlReader":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def close(self) -> None:
        """Closes the file."""
        self._reader.close()

    def items(self) -> Iterator[MzmlSpectrum]:
        """Every scan, nested scans included (pyteomics yields them in file order)."""
        try:
            for scan in self._reader:
                yield _spectrum(scan)
        except MzmlError:
            raise
        except Exception as error:  # pyteomics and lxml raise their own types for malformed files
            raise MzmlError(f"{self.source}: not a readable mzXML file ({error})") from None


def _spectrum(scan: dict) -> MzmlSpectrum:
    identifier = str(scan.get("id", scan.get("num")))
    where = f"{identifier!r}"
    params: dict = {}
    if "msLevel" in scan:
        params[cv.MS_LEVEL] = _param(scan["msLevel"], "ms level")
    if "centroided" in scan:
        params[cv.CENTROID_SPECTRUM if scan["centroided"] else cv.PROFILE_SPECTRUM] = _param(
            "", "centroid spectrum" if scan["centroided"] else "profile spectrum")
    polarity = {"+": (cv.POSITIVE_SCAN, "positive scan"), "-": (cv.NEGATIVE_SCAN, "negative scan")}.get(
        scan.get("polarity"))
    if polarity:
        params[polarity[0]] = _param("", polarity[1])
    for key, accession, name in (("totIonCurrent", cv.TOTAL_ION_CURRENT, "total ion current"),
                                 ("basePeakMz", cv.BASE_PEAK_MZ, "base peak m/z"),
                                 ("basePeakIntensity", cv.BASE_PEAK_INTENSITY, "base peak intensity")):
        if key in scan:
            params[accession] = _param(scan[key], name)
    scan_params: dict = {}
    if "retentionTime" in scan:  # pyteomics gives it in minutes
        scan_params[cv.SCAN_START_TIME] = _param(repr(float(scan["retentionTime"])), "scan start time", _MINUTE)
    if "filterLine" in scan:
        scan_params[cv.FILTER_STRING] = _param(scan["filterLine"], "filter string")
    windows = []
    if "startMz" in scan and "endMz" in scan:
        windows.append({cv.SCAN_WINDOW_LOWER: _param(scan["startMz"], "scan window lower limit", _MZ),
                        cv.SCAN_WINDOW_UPPER: _param(scan["endMz"], "scan window upper limit", _MZ)})
    arrays = {}
    if "m/z array" in scan and "intensity array" in scan:
        arrays[cv.MZ_ARRAY] = Array(scan["m/z array"], _param("", "m/z array", _MZ))
        arrays[cv.INTENSITY_ARRAY] = Array(scan["intensity array"], _param("", "intensity array"))
    precursors = [_precursor(entry, scan, where) for entry in scan.get("precursorMz") or []]
    return MzmlSpectrum(id=identifier, params=params, scan=scan_params, scan_windows=windows,
                        precursors=precursors, arrays=arrays)


def _precursor(entry: dict, scan: dict, where: str) -> Precursor:
    target = float(entry["precursorMz"])
    selected = {cv.SELECTED_ION_MZ: _param(repr(target), "selected ion m/z", _MZ)}
    if "precursorCharge" in entry:
        selected["MS:1000041"] = _param(entry["precursorCharge"], "charge state")
    if "precursorIntensity" in entry:
        selected["MS:1000042"] = _param(entry["precursorIntensity"], "peak intensity")
    isolation = {cv.ISOLATION_TARGET: _param(repr(target), "isolation window target m/z", _MZ)}
    if "windowWideness" in entry:
        half = repr(float(entry["windowWideness"]) / 2)
        isolation[cv.ISOLATION_LOWER_OFFSET] = _param(half, "isolation window lower offset", _MZ)
        isolation[cv.ISOLATION_UPPER_OFFSET] = _param(half, "isolation window upper offset", _MZ)
    activation = {}
    if "collisionEnergy" in scan:
        activation[cv.COLLISION_ENERGY] = _param(scan["collisionEnergy"], "collision energy")
    method = entry.get("activationMethod")
    if method is not None:
        if method not in _ACTIVATIONS:
            raise MzmlError(f"scan {where}: the activation method {method!r} is not one of {sorted(_ACTIVATIONS)}")
        activation[_ACTIVATIONS[method][0]] = _param("", _ACTIVATIONS[method][1])
    reference = entry.get("precursorScanNum")
    return Precursor(spectrum_ref=None if reference is None else str(reference), isolation=isolation,
                     selected_ion=selected, activation=activation)
