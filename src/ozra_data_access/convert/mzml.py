"""Converting an mzML file (plain or gzip-compressed) into an Ozra file.

One mzML run becomes one measurement. Its functions, in this order, as the run has them:

- a qualitative MS function with every mass spectrum, streamed from the source to the target;
- a DAD function with the spectra of light (electromagnetic radiation, absorption and emission
  spectra), x being the wavelength; when all of them share one wavelength array, the function
  stores it once and the spectra store intensities only;
- a quantitative MS function with one trace per selected-reaction or selected-ion monitoring
  chromatogram (x the retention time in minutes);
- one analog function per detector kind for chromatograms of other detectors (absorption
  -> UV, emission -> fluorescence, pressure, flow rate and others -> analog).

Total-ion, base-peak and other ion-current chromatograms are not stored: the reader rebuilds
them from the spectra. DAD spectra and chromatograms are held in memory until the MS spectra
are written; the MS spectra themselves are never held.

Points are kept exactly: x values as float64, intensities as float32 where every value of the
spectrum is one (32-bit arrays and widened 32-bit values), else as float64, unless a fixed
`intensity_width` is asked for. Points whose x values are out of order are sorted, and the
spectrum is marked so (supplemental property "PointsSorted").

What each spectrum keeps: retention time in minutes, MS level, polarity, centroid or profile,
the source's total ion current and base peak (derived from the points when the source has
none), the collision energy, precursor m/z and isolation window, the scan window as mass range,
the precursor spectrum (as `precursor_index`, when it is an earlier spectrum of the run), and,
as supplemental properties, its native id ("NativeId") and filter string ("FilterString").
The MS function stores its condition list (see :mod:`ozra_data_access.convert.conditions`
for the rule on scan windows: windows that vary from spectrum to spectrum within a group are
data-derived and give the group's one condition no mass range). A source from a Thermo raw
file gets, on each condition, a Thermo Fisher record whose scan filter is the filter string of
all its spectra (None where its spectra's filter strings differ).
"""

from __future__ import annotations

import json
import math
import os
import re
import warnings
from collections import Counter
from typing import Any, Callable, Iterable, Iterator, Optional, Union

import numpy as np

from ozra_data_access._internal._enum import (
    DetectorTypes,
    PolarityTypes,
    SpectrumTypes,
    VendorSpecificAdditionalConditionTypes,
)
from ozra_data_access.common import ValueRange
from ozra_data_access.convert import vocabulary as cv
from ozra_data_access.convert.conditions import StoredConditions, TraceConditions
from ozra_data_access.convert.finite import require_finite
from ozra_data_access.convert.peaks import pick_peaks
from ozra_data_access.convert.widths import exact_width
from ozra_data_access.convert.mzml_arrays import MzmlError
from ozra_data_access.convert.instrument_models import MANUFACTURER_OF_MODEL
from ozra_data_access.convert.mzml_reader import (
    USER_PARAM,
    MzmlChromatogram,
    MzmlHeader,
    MzmlReader,
    MzmlSpectrum,
    Param,
    Params,
    Precursor,
)
from ozra_data_access.writer import (
    FunctionData,
    MeasurementData,
    SpectrumData,
    write_file,
)
from ozra_data_access.quan import CONDITIONS_PROPERTY

PathType = Union[str, "os.PathLike[str]"]

#: The escape of characters an XML id cannot hold (as in "_x0031_" for a leading "1").
_ID_ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")

#: How many ids of sorted spectra the warning names.
_NAMED_IN_WARNING = 3

#: The detector of each kind of detector chromatogram; any other goes to an analog function.
_DETECTOR_OF_CHROMATOGRAM = {
    "MS:1000812": DetectorTypes.UV,  # absorption chromatogram
    "MS:1000813": DetectorTypes.FLUORESCENCE,  # emission chromatogram
}


class UnsortedPointsWarning(UserWarning):
    """Some spectra or chromatograms of the source had x values out of order; they were stored sorted."""


def convert_mzml(
    source: PathType,
    target: PathType,
    *,
    point_encoding: str = "zstd",
    intensity_width: Optional[int] = None,
    progress: Optional[Callable[[int], None]] = None,
) -> PathType:
    """Converts the mzML file `source` (.mzML or .mzML.gz) into the Ozra file `target`; returns `target`.

    `point_encoding` ("zstd", "zstd-shuffle" or "raw"; see docs/format.md) is the encoding of
    the stored points. `intensity_width`
    None keeps every intensity exactly (4 bytes where a spectrum's values all are float32,
    else 8); 4 or 8 stores every intensity with that width. `progress` is called with the
    number of spectra written so far (see :func:`ozra_data_access.writer.write_file`).

    Raises `MzmlError` for a source it cannot read (not mzML, a compression other than zlib,
    arrays of different lengths, a retention time without a time unit); the target is then
    not created. Warns with `UnsortedPointsWarning` when points had to be sorted.
    """
    conversion = MzmlConversion(source, point_encoding=point_encoding, intensity_width=intensity_width)
    conversion.write(target, progress=progress)
    if conversion.sorted_ids:
        named = ", ".join(repr(i) for i in conversion.sorted_ids[:_NAMED_IN_WARNING])
        more = "" if len(conversion.sorted_ids) <= _NAMED_IN_WARNING else ", ..."
        warnings.warn(f"{len(conversion.sorted_ids)} spectra or chromatograms of {os.fspath(source)} had x values "
                      f"out of order and were stored sorted ({named}{more})", UnsortedPointsWarning, stacklevel=2)
    return target


class MzmlConversion:
    """One conversion of an mzML file, and what it found once `write` has run.

    After `write`: `ms_spectra`, `dad_spectra`, `quan_traces` and `analog_traces` count what
    was stored; `sorted_ids` lists the native ids of the spectra and chromatograms whose
    points were sorted; `skipped_chromatograms` lists (id, reason) of chromatograms not stored;
    `unread_arrays` counts, by name, the spectra and chromatograms whose arrays of that kind (ion
    mobility arrays, non-standard arrays) were not stored. `reader` opens the source; the mzXML and
    Thermo readers give their scans as this reader's spectra, so every format is mapped by the same code.
    """

    def __init__(self, source: PathType, *, point_encoding: str = "zstd", intensity_width: Optional[int] = None,
                 profile_only: bool = False, reader: Callable[[PathType], Any] = MzmlReader):
        self._own_export = False
        if intensity_width not in (None, 4, 8):
            raise ValueError(f"intensity width is None, 4 or 8 bytes, not {intensity_width!r}")
        self.source = source
        self.point_encoding = point_encoding
        self.intensity_width = intensity_width
        self.profile_only = profile_only
        self._reader = reader
        self._reset_counts()

    def _reset_counts(self) -> None:
        self.ms_spectra = 0
        self.dad_spectra = 0
        self.quan_traces = 0
        self.analog_traces = 0
        self.picked_spectra = 0
        self._ms_times: list = []
        self.sorted_ids: list = []
        self.skipped_chromatograms: list = []
        self.unread_arrays: Counter = Counter()
        #: The spectra the source's spectrum list announces (None until known, or if it does not say).
        self.spectra_total: Optional[int] = None

    def write(self, target: PathType, progress: Optional[Callable[[int], None]] = None) -> PathType:
        """Writes the Ozra file `target` and returns it; the counts describe this conversion."""
        self._reset_counts()
        with self._reader(self.source) as reader:
            self._own_export = cv.EXPORT_SOFTWARE in reader.header.software
            measurement = _measurement(reader.header, self.source, self._functions(reader), self._own_export)
            write_file(target, [measurement], point_encoding=self.point_encoding,
                       intensity_width=self.intensity_width or 8, progress=progress)
        return target

    # --- functions ----------------------------------------------------------------------------------

    def _functions(self, reader: MzmlReader) -> Iterator[FunctionData]:
        """The measurement's functions, made as the writer asks for them: the MS function's spectra
        are read from the source while the writer stores them, and reading them sets aside the DAD
        spectra and chromatograms that the later functions hold."""
        items = reader.items()
        radiation: list = []
        chromatograms: list = []

        def ms_spectra() -> Iterator[MzmlSpectrum]:
            for item in items:
                if isinstance(item, MzmlChromatogram):
                    chromatograms.append(item)
                elif _is_radiation(item):
                    radiation.append(item)
                else:
                    yield item

        source = ms_spectra()
        first = next(source, None)
        self.spectra_total = reader.spectrum_count
        if first is not None:
            conditions = StoredConditions(
                VendorSpecificAdditionalConditionTypes.THERMO_FISHER_RAW_FILE_READER if _is_thermo(reader.header)
                else None)
            # The writer stores a function's description after its spectra: the list is complete by then.
            yield FunctionData.qual_ms(self._ms_spectra(first, source, conditions),
                                       acquisition_conditions=conditions.stored,
                                       supplemental_properties=self._analysis_properties(reader, "qual", 0, 1))
        if radiation:
            dad = self._dad_function(radiation)
            dad.supplemental_properties = self._analysis_properties(reader, "dad", 0, 1)
            yield dad
        quan, conditions, analog = self._traces(chromatograms)
        if quan:
            yield FunctionData.quan(quan, supplemental_properties={CONDITIONS_PROPERTY: conditions})
        for position, (detector, traces) in enumerate(analog.items()):
            yield FunctionData.analog(traces, detector_type=detector, supplemental_properties=self._analysis_properties(
                reader, "analog", position, len(analog)))

    def _analysis_properties(self, reader: MzmlReader, kind: str, position: int, count: int) -> dict:
        """The supplemental properties an export kept for the analysis at `position` of its kind, where
        the file is an export with as many analyses of the kind as this conversion makes (`count`)."""
        stored = reader.header.sample.get(USER_PARAM + cv.ANALYSES_PARAM) if self._own_export else None
        if stored is None:
            return {}
        analyses = _user_properties({USER_PARAM + cv.ANALYSES_PARAM: stored}, "the sample")[cv.ANALYSES_PARAM]
        kept = analyses.get(kind, [])
        return dict(kept[position]) if len(kept) == count else {}

    def _ms_spectra(self, first: MzmlSpectrum, rest: Iterable[MzmlSpectrum],
                    conditions: StoredConditions) -> Iterator[SpectrumData]:
        positions: dict = {}
        for position, item in enumerate(_chain(first, rest)):
            spectrum = self._ms_spectrum(item, positions, conditions)
            if spectrum.retention_time is not None:
                self._ms_times.append(spectrum.retention_time)
            positions[item.id] = position
            self.ms_spectra += 1
            yield spectrum
        conditions.finish()

    def _ms_spectrum(self, item: MzmlSpectrum, positions: dict, conditions: StoredConditions) -> SpectrumData:
        where = f"spectrum {item.id!r}"
        params = item.params
        precursor = item.precursors[0] if item.precursors else None
        precursor_value, precursor_range = _precursor_mz(precursor, where)
        spectrum_type, measured_profile = _representation(params)
        x, intensity, properties = self._points(item, cv.MZ_ARRAY, where)
        filter_param = item.scan.get(cv.FILTER_STRING) or params.get(cv.FILTER_STRING)
        if filter_param is not None:
            properties["FilterString"] = filter_param.value
        _take_terms(properties, item, precursor, where)
        spectrum = SpectrumData(
            retention_time=_retention_time(item, where),
            x=x,
            intensity=intensity,
            precursor_index=None if precursor is None else positions.get(precursor.spectrum_ref),
            spectrum_type=spectrum_type,
            supplemental_properties=properties,
            ms_level=_ms_level(params, where),
            polarity=_polarity(params, item.scan),
            collision_energy=None if precursor is None else _number(precursor.activation, cv.COLLISION_ENERGY, where),
            mass_range=_window_range(item.scan_windows, where),
            precursor_range=precursor_range,
            precursor_value=precursor_value,
            is_profile_spectrum_measured=measured_profile,
            intensity_width=self._width(intensity),
        )
        _take_summary(spectrum, params, where)
        other = self._other_representation(item, spectrum_type, where)
        if other is not None:
            self._keep_both(spectrum, spectrum_type, other)
        elif spectrum_type == SpectrumTypes.PROFILE:
            self._profile(spectrum, where)
        spectrum.acquisition_condition_index = conditions.index_of(
            spectrum, None if filter_param is None else filter_param.value)
        return spectrum

    def _profile(self, spectrum: SpectrumData, where: str) -> None:
        """Profile points go to the profile slot; the centroid points are picked from them, or, with
        `profile_only`, are a second copy of the profile (the format names each stored point block
        once)."""
        spectrum.profile_x, spectrum.profile_intensity = spectrum.x, spectrum.intensity
        if self.profile_only:
            return
        spectrum.x, spectrum.intensity = pick_peaks(spectrum.x, spectrum.intensity, where)
        self.picked_spectra += 1

    def _other_representation(self, item: MzmlSpectrum, spectrum_type: SpectrumTypes,
                              where: str) -> Optional[tuple[np.ndarray, np.ndarray]]:
        """The points of the spectrum's other representation, where it has them in arrays of their own
        (the centroid points of a profile spectrum, the profile points of any other), sorted by x."""
        x_kind, intensity_kind = (cv.CENTROID_MZ_ARRAY, cv.CENTROID_INTENSITY_ARRAY) \
            if spectrum_type == SpectrumTypes.PROFILE else (cv.PROFILE_MZ_ARRAY, cv.PROFILE_INTENSITY_ARRAY)
        if x_kind not in item.arrays and intensity_kind not in item.arrays:
            return None
        x, intensity, _ = self._array_pair(item, x_kind, (intensity_kind,), where)
        return x, intensity

    def _keep_both(self, spectrum: SpectrumData, spectrum_type: SpectrumTypes,
                   other: tuple[np.ndarray, np.ndarray]) -> None:
        """Stores the source's own centroid and profile points, neither derived from the other."""
        if spectrum_type == SpectrumTypes.PROFILE:
            spectrum.profile_x, spectrum.profile_intensity = spectrum.x, spectrum.intensity
            spectrum.x, spectrum.intensity = other
        else:
            spectrum.profile_x, spectrum.profile_intensity = other
        spectrum.is_profile_spectrum_measured = True
        spectrum.intensity_width = self._width(np.concatenate([spectrum.intensity, spectrum.profile_intensity]))

    def _dad_function(self, items: list) -> FunctionData:
        spectra = []
        wavelengths = []
        for item in items:
            where = f"spectrum {item.id!r}"
            x, intensity, properties = self._points(item, cv.WAVELENGTH_ARRAY, where)
            spectrum_type, measured_profile = _representation(item.params)
            mass_range = _window_range(item.scan_windows, where)
            if mass_range is None and len(x):
                mass_range = ValueRange(float(x[0]), float(x[-1]))
            spectra.append(SpectrumData(
                retention_time=_retention_time(item, where),
                x=x,
                intensity=intensity,
                spectrum_type=spectrum_type,
                supplemental_properties=properties,
                ms_level=None,
                polarity=None,
                mass_range=mass_range,
                is_profile_spectrum_measured=measured_profile,
                intensity_width=self._width(intensity),
            ))
            wavelengths.append(x)
        self.dad_spectra += len(spectra)
        shared = wavelengths[0]
        if len(shared) and all(np.array_equal(w, shared) for w in wavelengths[1:]):
            for spectrum in spectra:
                spectrum.x = None
            return FunctionData.dad(spectra, wavelengths=shared)
        return FunctionData.dad(spectra)

    def _traces(self, chromatograms: list) -> tuple[list, list, dict]:
        """The quantitative traces with their condition list, and the analog traces by detector.

        Every chromatogram is stored except one the reader rebuilds from stored spectra (a total
        ion current, base peak or ion current chromatogram in a file with MS spectra)."""
        quan: list = []
        conditions = TraceConditions()
        analog: dict = {}
        for item in chromatograms:
            params = item.params
            mass_kind = next((name for a, name in cv.MASS_CHROMATOGRAMS.items() if a in params), None)
            derived = next((name for a, name in cv.DERIVED_CHROMATOGRAMS.items() if a in params), None)
            if derived is not None and self._covers_spectra(item):
                self.skipped_chromatograms.append((item.id, f"a {derived}, rebuilt from the spectra"))
            elif mass_kind is not None or derived is not None:
                quan.append(self._quan_trace(item, mass_kind or derived, conditions))
            elif cv.TIME_ARRAY not in item.arrays:
                self.skipped_chromatograms.append((item.id, "it has no time array"))
            else:
                kind = next((a for a in cv.DETECTOR_CHROMATOGRAMS if a in params), None)
                trace = self._trace(item, ms_level=None, polarity=None)
                properties = trace.supplemental_properties
                if kind is not None:
                    properties["ChromatogramType"] = cv.DETECTOR_CHROMATOGRAMS[kind]
                    properties.setdefault("DetectorType", cv.DETECTOR_CHROMATOGRAMS[kind].removesuffix(" chromatogram"))
                analog.setdefault(_DETECTOR_OF_CHROMATOGRAM.get(kind, DetectorTypes.ANALOG), []).append(trace)
        self.quan_traces += len(quan)
        self.analog_traces += sum(len(traces) for traces in analog.values())
        return quan, conditions.stored, analog

    def _covers_spectra(self, item: MzmlChromatogram) -> bool:
        """Whether every time of the chromatogram is the retention time of a stored MS spectrum, so
        that the reader rebuilds it (to float32 rounding: some files store times as float32)."""
        times = item.arrays.get(cv.TIME_ARRAY)
        if not self._ms_times or times is None:
            return False
        stored = np.sort(np.asarray(self._ms_times, dtype=np.float64))
        wanted = _in_minutes(times.values, times.kind, f"chromatogram {item.id!r}")
        nearest = np.clip(np.searchsorted(stored, wanted), 1, len(stored) - 1) if len(stored) > 1 else 0
        candidates = np.stack([stored[nearest - 1], stored[nearest]]) if len(stored) > 1 else stored[[0]]
        return bool(np.all(np.any(np.isclose(candidates, wanted, rtol=1e-6, atol=1e-9), axis=0)))

    def _quan_trace(self, item: MzmlChromatogram, kind: str, conditions: TraceConditions) -> SpectrumData:
        where = f"chromatogram {item.id!r}"
        params = item.params
        precursor_value, precursor_range = _precursor_mz(item.precursor, where)
        reaction = cv.SRM_CHROMATOGRAM in params or cv.CRM_CHROMATOGRAM in params
        level = _ms_level(params, where)
        trace = self._trace(
            item,
            ms_level=level if level is not None else (2 if reaction else 1),
            polarity=_polarity(params, {}),
            collision_energy=None if item.precursor is None else _number(
                item.precursor.activation, cv.COLLISION_ENERGY, where),
            precursor_value=precursor_value,
            precursor_range=precursor_range,
        )
        properties = trace.supplemental_properties
        properties["ChromatogramType"] = kind
        if cv.SRM_CHROMATOGRAM not in params and cv.SIM_CHROMATOGRAM not in params:
            properties["ChannelName"] = item.id
        product, product_range = _precursor_mz(item.product, where)
        if product is not None:
            properties["ProductMz"] = product
        trace.acquisition_condition_index = conditions.index_of(trace, product, product_range)
        return trace

    def _trace(self, item: MzmlChromatogram, **fields: Any) -> SpectrumData:
        x, intensity, properties = self._points(item, cv.TIME_ARRAY, f"chromatogram {item.id!r}")
        return SpectrumData(retention_time=None, x=x, intensity=intensity, spectrum_type=SpectrumTypes.UNKNOWN,
                            supplemental_properties=properties, is_profile_spectrum_measured=None,
                            intensity_width=self._width(intensity), **fields)

    # --- points -------------------------------------------------------------------------------------

    def _points(self, item: Union[MzmlSpectrum, MzmlChromatogram], x_kind: str,
                where: str) -> tuple[np.ndarray, np.ndarray, dict]:
        """x and intensity in increasing x (sorted if need be, and counted), and the item's first
        supplemental properties. A time array is converted to minutes."""
        self.unread_arrays.update(item.unread_arrays)
        x, intensity, properties = self._array_pair(item, x_kind, cv.VALUE_ARRAYS, where)
        if self._own_export:
            properties.update(_user_properties(item.params, where))
        return x, intensity, properties

    def _array_pair(self, item: Union[MzmlSpectrum, MzmlChromatogram], x_kind: str, intensity_kinds: Iterable[str],
                    where: str) -> tuple[np.ndarray, np.ndarray, dict]:
        """The points of the x array `x_kind` and the first present of `intensity_kinds`, as `_points`."""
        properties: dict = {"NativeId": item.id}
        x_array = item.arrays.get(x_kind)
        intensity_array = next((item.arrays[k] for k in intensity_kinds if k in item.arrays), None)
        if x_array is None and intensity_array is None:
            return np.empty(0), np.empty(0), properties
        if x_array is None or intensity_array is None:
            missing = "intensity array" if intensity_array is None else f"array of kind {x_kind}"
            raise MzmlError(f"{where}: it has no {missing}")
        x, intensity = x_array.values, intensity_array.values
        if intensity_array.kind.unit_name and x_kind == cv.TIME_ARRAY:
            properties["Unit"] = intensity_array.kind.unit_name
        if len(x) != len(intensity):
            raise MzmlError(f"{where}: {len(x)} {x_array.kind.name} values but {len(intensity)} intensities")
        require_finite(x, x_array.kind.name, where, MzmlError)
        require_finite(intensity, intensity_array.kind.name, where, MzmlError)
        if x_kind == cv.TIME_ARRAY:
            x = _in_minutes(x, x_array.kind, where)
        if len(x) > 1 and bool(np.any(x[1:] < x[:-1])):
            order = np.argsort(x, kind="stable")
            x, intensity = x[order], intensity[order]
            properties["PointsSorted"] = True
            self.sorted_ids.append(item.id)
        return x, intensity, properties

    def _width(self, intensity: np.ndarray) -> Optional[int]:
        """The stored intensity width of a spectrum: the chosen one, else the narrowest that keeps every value."""
        return None if self.intensity_width is not None else exact_width(intensity)


# --- cvParams ---------------------------------------------------------------------------------------


def _chain(first: MzmlSpectrum, rest: Iterable[MzmlSpectrum]) -> Iterator[MzmlSpectrum]:
    yield first
    yield from rest


def _is_radiation(spectrum: MzmlSpectrum) -> bool:
    if any(accession in spectrum.params for accession in cv.RADIATION_SPECTRA):
        return True
    return cv.WAVELENGTH_ARRAY in spectrum.arrays and cv.MZ_ARRAY not in spectrum.arrays


def _is_thermo(header: MzmlHeader) -> bool:
    params = header.source_file.params if header.source_file is not None else {}
    return cv.THERMO_NATIVE_ID_FORMAT in params or cv.THERMO_RAW_FORMAT in params


def _number(params: Params, accession: str, where: str) -> Optional[float]:
    param = params.get(accession)
    return None if param is None else _value(param, where)


def _value(param: Param, where: str) -> float:
    try:
        number = float(param.value)
    except ValueError:
        raise MzmlError(f"{where}: {param.name} {param.value!r} is not a number") from None
    if not math.isfinite(number):
        raise MzmlError(f"{where}: {param.name} {param.value!r} is not a finite number")
    return number


def _ms_level(params: Params, where: str) -> Optional[int]:
    param = params.get(cv.MS_LEVEL)
    if param is None:
        return 1 if cv.MS1_SPECTRUM in params else None
    try:
        return int(param.value)
    except ValueError:
        raise MzmlError(f"{where}: ms level {param.value!r} is not an integer") from None


def _polarity(params: Params, scan: Params) -> Optional[PolarityTypes]:
    positive = cv.POSITIVE_SCAN in params or cv.POSITIVE_SCAN in scan
    negative = cv.NEGATIVE_SCAN in params or cv.NEGATIVE_SCAN in scan
    if positive and negative:
        return PolarityTypes.BOTH
    if positive:
        return PolarityTypes.POSITIVE
    return PolarityTypes.NEGATIVE if negative else None


def _representation(params: Params) -> tuple[SpectrumTypes, Optional[bool]]:
    """The spectrum type and whether a profile was measured, from the centroid/profile cvParams."""
    if cv.CENTROID_SPECTRUM in params:
        return SpectrumTypes.CENTROID, False
    if cv.PROFILE_SPECTRUM in params:
        return SpectrumTypes.PROFILE, True
    return SpectrumTypes.UNKNOWN, None


def _take_terms(properties: dict, item: MzmlSpectrum, precursor: Optional[Precursor], where: str) -> None:
    """The per-spectrum terms a user looks for, under the keys of `cv.SPECTRUM_TERMS`."""
    sources = {"scan": item.scan, "selected ion": {} if precursor is None else precursor.selected_ion}
    for key, (place, accession, kind, _unit) in cv.SPECTRUM_TERMS.items():
        param = sources[place].get(accession)
        if param is None:
            continue
        number = _value(param, where)
        properties[key] = int(number) if kind is int and number.is_integer() else number


#: How the userParams of an exported file give their values back, by their type.
_USER_PARAM_TYPES = {
    "xsd:boolean": lambda text: text == "true",
    "xsd:long": int,
    "xsd:int": int,
    "xsd:double": float,
    "json": json.loads,
}


def _user_properties(params: Params, where: str) -> dict:
    """The supplemental properties an export wrote as the userParams of a spectrum or chromatogram."""
    properties = {}
    for key, param in params.items():
        if not key.startswith(USER_PARAM):
            continue
        try:
            properties[param.name] = _USER_PARAM_TYPES.get(param.type, str)(param.value)
        except ValueError:
            raise MzmlError(f"{where}: userParam {param.name!r} {param.value!r} is not of its type "
                            f"{param.type}") from None
    return properties


def _take_summary(spectrum: SpectrumData, params: Params, where: str) -> None:
    """The source's total ion current and base peak where it gives them; the writer derives the rest.
    The base peak is taken only as a pair, so its intensity and m/z always describe one peak."""
    total = _number(params, cv.TOTAL_ION_CURRENT, where)
    if total is not None:
        spectrum.current_total_ion = total
    base_mz = _number(params, cv.BASE_PEAK_MZ, where)
    base_intensity = _number(params, cv.BASE_PEAK_INTENSITY, where)
    if base_mz is not None and base_intensity is not None:
        spectrum.base_peak_mz = base_mz
        spectrum.base_peak_intensity = base_intensity


def _retention_time(spectrum: MzmlSpectrum, where: str) -> Optional[float]:
    param = spectrum.scan.get(cv.SCAN_START_TIME) or spectrum.params.get(cv.SCAN_START_TIME)
    if param is None:
        return None
    numerator, denominator = _minutes_per_unit(param, where)
    return _value(param, where) * numerator / denominator


def _in_minutes(values: np.ndarray, kind: Param, where: str) -> np.ndarray:
    numerator, denominator = _minutes_per_unit(kind, where)
    if (numerator, denominator) == (1, 1):
        return values.astype(np.float64)
    return values.astype(np.float64) * numerator / denominator


def _minutes_per_unit(param: Param, where: str) -> tuple[int, int]:
    """Minutes per unit of a time cvParam, as a fraction."""
    fraction = cv.MINUTES_PER_UNIT.get(param.unit) or cv.MINUTES_PER_NAMED_UNIT.get(param.unit_name)
    if fraction is None:
        unit = param.unit_name or param.unit
        raise MzmlError(f"{where}: {param.name} has " + (f"the unknown time unit {unit!r}" if unit else "no unit"))
    return fraction


def _window_range(windows: list, where: str) -> Optional[ValueRange]:
    """The range covering every scan window that gives both limits, or None."""
    lows, highs = [], []
    for window in windows:
        low = _number(window, cv.SCAN_WINDOW_LOWER, where)
        high = _number(window, cv.SCAN_WINDOW_UPPER, where)
        if low is not None and high is not None:
            lows.append(low)
            highs.append(high)
    return ValueRange(min(lows), max(highs)) if lows else None


def _precursor_mz(precursor: Optional[Precursor], where: str) -> tuple[Optional[float], Optional[ValueRange]]:
    """The precursor m/z (the selected ion, else the isolation target) and the isolation window."""
    if precursor is None:
        return None, None
    target = _number(precursor.isolation, cv.ISOLATION_TARGET, where)
    selected = _number(precursor.selected_ion, cv.SELECTED_ION_MZ, where)
    lower = _number(precursor.isolation, cv.ISOLATION_LOWER_OFFSET, where)
    upper = _number(precursor.isolation, cv.ISOLATION_UPPER_OFFSET, where)
    window = None
    if target is not None and (lower is not None or upper is not None):
        window = ValueRange(target - (lower or 0.0), target + (upper or 0.0))
    return (selected if selected is not None else target), window


# --- the measurement --------------------------------------------------------------------------------


def _measurement(header: MzmlHeader, source: PathType, functions: Iterable[FunctionData],
                 own_export: bool = False) -> MeasurementData:
    """The measurement of the run, its description taken from the run, its source file and instrument
    (from the description `ozra export` keeps in the sample, in a file it wrote).
    `functions` is consumed by the writer one function at a time."""
    stored = header.sample.get(USER_PARAM + cv.MEASUREMENT_PARAM) if own_export else None
    if stored is not None:
        fields = _user_properties({USER_PARAM + cv.MEASUREMENT_PARAM: stored}, "the sample")[cv.MEASUREMENT_PARAM]
        described = {name: fields[name] for name in cv.MEASUREMENT_FIELDS if fields.get(name) is not None}
        return MeasurementData(functions=functions, **described)
    source_file = header.source_file
    file_params = source_file.params if source_file is not None else {}
    instrument = header.instrument
    properties = {"MzmlFileName": os.path.basename(os.fspath(source))}
    if header.run_id is not None:
        properties["RunId"] = header.run_id
    for param in file_params.values():
        if param.name.endswith("nativeID format"):
            properties["NativeIdFormat"] = param.name
        elif param.name.endswith(" format"):
            properties["SourceFileFormat"] = param.name
    serial = instrument.get(cv.INSTRUMENT_SERIAL_NUMBER)
    if serial is not None:
        properties["InstrumentSerialNumber"] = serial.value
    sha1 = file_params.get(cv.SHA1)
    model_term = next((a for a in instrument if a in MANUFACTURER_OF_MODEL), None)
    model = _first_value(instrument, cv.INSTRUMENT_MODEL, "instrument model") or (
        None if model_term is None else instrument[model_term].name)
    manufacturer = MANUFACTURER_OF_MODEL.get(model_term) or next(
        (cv.MANUFACTURERS[a] for a in file_params if a in cv.MANUFACTURERS), None) or _first_value(
        instrument, None, "instrument manufacturer", "manufacturer")
    sample_name = _first_value(header.sample, cv.SAMPLE_NAME, "sample name") or header.sample_name
    return MeasurementData(
        functions=functions,
        sample_name=sample_name or _unescaped_id(header.run_id),
        sample_id=_unescaped_id(header.sample_id),
        original_file_path=None if source_file is None else _source_path(source_file.location, source_file.name),
        instrument_product_name=model,
        measurement_date_time=header.start_time_stamp,
        instrument_manufacturer=manufacturer,
        source_file_definition="mzML" if header.version is None else f"mzML {header.version}",
        supplemental_properties=properties,
        hash=None if sha1 is None else sha1.value,
    )


def _first_value(params: Params, accession: Optional[str], *user_names: str) -> Optional[str]:
    """The non-empty value of the cvParam `accession`, else of the first userParam of one of the names."""
    keys = ([accession] if accession else []) + [USER_PARAM + name for name in user_names]
    return next((params[k].value for k in keys if k in params and params[k].value), None)


def _unescaped_id(identifier: Optional[str]) -> Optional[str]:
    """An XML id with its escaped characters restored."""
    return None if identifier is None else _ID_ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), identifier)


def _source_path(location: Optional[str], name: Optional[str]) -> Optional[str]:
    """The source file's path: its location when that already ends with the file, else location/name."""
    if not location:
        return name
    if not name or location.rstrip("/\\").replace("\\", "/").rpartition("/")[2].startswith(name):
        return location
    return location.rstrip("/\\") + "/" + name
