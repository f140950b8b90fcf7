"""An Ozra measurement as indexed mzML 1.1, written with psims one spectrum at a time.

What goes where (docs/export.md lists it, with what mzML cannot hold):

- every MS spectrum, in stored order, its m/z and intensity arrays holding the points of its
  stated representation (a profile spectrum's profile points, any other's centroid points); a
  spectrum storing both keeps the other ones in two more arrays of the same spectrum ("centroid
  m/z array" and "centroid intensity array", or the "profile" ones: non-standard arrays with their
  own length), so one Ozra spectrum stays one mzML spectrum and nothing is re-derived on the way back;
- the description as PSI-MS terms: MS level, polarity, centroid/profile, total ion current, base
  peak, scan start time, scan window, the precursor (selected ion m/z, isolation window, the
  precursor spectrum's reference, collision energy under activation), the supplemental properties
  that have terms (filter string, ion injection time, charge state, ...), the native id as the
  spectrum id; every other supplemental property as a userParam;
- DAD spectra as electromagnetic radiation spectra with a wavelength array;
- quantitative traces as selected reaction (or ion) monitoring chromatograms, analog traces as
  chromatograms of their detector, their intensities with their unit.

Memory holds one spectrum at a time. The target appears only when complete.
"""

from __future__ import annotations

import gzip
import json
import os
import pathlib
import re
import urllib.parse
from typing import Any, Callable, Optional

import numpy

from ozra_data_access.export.errors import INSTALL_EXPORT, ExportError

try:
    from psims.mzml.binary_encoding import encode_array
    from psims.mzml.writer import IndexedMzMLWriter
    from psims.xml import AttrProperty, CVParam, UserParam
except ImportError as error:
    raise ImportError(f"the mzML export needs psims: {INSTALL_EXPORT} ({error})") from error

from ozra_data_access._internal._enum import DetectorTypes, PolarityTypes, SpectrumTypes
from ozra_data_access.arrays import spectrum_arrays
from ozra_data_access.convert import vocabulary as cv
from ozra_data_access.export.descriptions import StoredDescription, has_profile, spectrum_description, trace_description
from ozra_data_access.export.options import MzmlOptions
from ozra_data_access.export.targets import atomic_file

#: Supplemental properties written as terms or as the id, never again as userParams.
_TERM_PROPERTIES = frozenset({"NativeId", "FilterString", *cv.SPECTRUM_TERMS})

#: The chromatogram term of each analog detector without a stored chromatogram kind.
_DETECTOR_CHROMATOGRAM = {
    DetectorTypes.UV: "MS:1000812",  # absorption chromatogram
    DetectorTypes.FLUORESCENCE: "MS:1000813",  # emission chromatogram
}
_GENERIC_CHROMATOGRAM = "MS:1000626"  # chromatogram type


#: The form mzML asks of a spectrum's id.
_SPECTRUM_ID = re.compile(r"^\S+=\S+( \S+=\S+)*$")

#: The lexical form of xs:dateTime, the only form mzML takes for the run's start.
_DATE_TIME = re.compile(r"^-?\d{4,}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.\d+)?(Z|[+-]\d{2}:\d{2})?$")


def export_mzml(source: "str | os.PathLike[str]", target: "str | os.PathLike[str]", *, measurement: int = 0,
                options: MzmlOptions = MzmlOptions(), force: bool = False,
                progress: Optional[Callable[[int, Optional[int]], None]] = None) -> dict:
    """Writes measurement `measurement` of the Ozra file `source` as indexed mzML `target` (gzip-compressed
    when it ends with .gz); returns the spectra and chromatograms written. `target` appears only when
    complete; an existing one is replaced only with `force`."""
    from ozra_data_access.access import OzraFile

    with OzraFile(source) as ozra:
        count = ozra.get_measurement_count()
        if not 0 <= measurement < count:
            raise ExportError(f"{os.fspath(source)}: no measurement {measurement} (the file has {count})")
        run = ozra.get_measurement(measurement)
        with atomic_file(target, force) as file:
            if os.fspath(target).lower().endswith(".gz"):
                with gzip.GzipFile(fileobj=file, mode="wb", mtime=0) as packed:
                    return _MzmlExport(run, source, options, progress).write(packed)
            return _MzmlExport(run, source, options, progress).write(file)


class _MzmlExport:
    """One measurement written into one mzML document."""

    def __init__(self, run: Any, source: "str | os.PathLike[str]", options: MzmlOptions,
                 progress: Optional[Callable[[int, Optional[int]], None]]):
        self.run = run
        self.source = source
        self.options = options
        self.progress = progress
        self.spectra = 0
        self.spectra_total = 0
        self.ids: set = set()

    def write(self, stream: Any) -> dict:
        run = self.run
        qual = [run.get_qual_analysis(i) for i in range(run.get_qual_analysis_count())]
        dad = [run.get_dad_analysis(i) for i in range(run.get_dad_analysis_count())]
        traces = [(False, t) for i in range(run.get_quan_analysis_count()) for t in run.get_quan_analysis(i).traces]
        traces += [(True, t) for i in range(run.get_analog_analysis_count()) for t in run.get_analog_analysis(i).traces]
        spectra_total = self.spectra_total = sum(a.get_spectra_count() for a in qual + dad)
        writer = IndexedMzMLWriter(stream, close=False)
        self.writer = writer
        with writer:
            writer.controlled_vocabularies()
            self._header(writer, bool(qual), bool(dad))
            with writer.run(id=_xml_id(self._property("RunId") or run.sample_name or "run"),
                            source_file="source" if run.original_file_path else "ozra",
                            start_time=_date_time(run.measurement_date_time), sample="sample"):
                if spectra_total:
                    with writer.spectrum_list(count=spectra_total):
                        for analysis in qual:
                            self._ms_spectra(analysis)
                        for analysis in dad:
                            self._dad_spectra(analysis)
                if traces:
                    with writer.chromatogram_list(count=len(traces)):
                        for index, (analog, trace) in enumerate(traces):
                            self._chromatogram(index, trace, analog)
        return {"spectra": self.spectra, "chromatograms": len(traces)}

    # --- header ---------------------------------------------------------------------------------------

    def _property(self, key: str) -> Any:
        return (self.run.supplemental_properties or {}).get(key)

    def _header(self, writer: Any, ms: bool, dad: bool) -> None:
        from ozra_data_access import __version__

        run = self.run
        contents = (["MS1 spectrum", "MSn spectrum"] if ms else []) + (["electromagnetic radiation spectrum"] if dad
                                                                       else [])
        source_files = []
        if run.original_file_path:
            location, _, name = str(run.original_file_path).replace("\\", "/").rpartition("/")
            params = [{"name": self._property("NativeIdFormat") or "no nativeID format"}]
            if self._property("SourceFileFormat"):
                params.append({"name": self._property("SourceFileFormat")})
            if run.hash:
                params.append({"accession": cv.SHA1, "value": str(run.hash)})
            source_files.append({"id": "source", "name": name, "location": _uri(location), "params": params})
        # The Ozra file itself is a source of the document too (and mzML wants at least one).
        ozra = os.path.abspath(os.fspath(self.source))
        source_files.append({"id": "ozra", "name": os.path.basename(ozra),
                             "location": pathlib.Path(os.path.dirname(ozra)).as_uri(),
                             "params": [{"name": "no nativeID format"}]})
        writer.file_description(contents or ["MS1 spectrum"], source_files=source_files)
        # The sample holds the whole description as stored, for `ozra convert` to give it back.
        description = {name: getattr(run, name) for name in cv.MEASUREMENT_FIELDS}
        analyses = {kind: [dict(get(i).supplemental_properties or {}) for i in range(count())] for kind, count, get in (
            ("qual", run.get_qual_analysis_count, run.get_qual_analysis),
            ("dad", run.get_dad_analysis_count, run.get_dad_analysis),
            ("analog", run.get_analog_analysis_count, run.get_analog_analysis))}
        sample = [_user_param(cv.MEASUREMENT_PARAM, description), _user_param(cv.ANALYSES_PARAM, analyses)]
        if run.sample_name:
            sample.insert(0, {"accession": cv.SAMPLE_NAME, "value": str(run.sample_name)})
        writer.sample_list([{"id": "sample", "params": sample,
                             **({"name": str(run.sample_name)} if run.sample_name else {})}])
        writer.software_list([{"id": cv.EXPORT_SOFTWARE, "version": __version__,
                               "params": [{"name": "custom unreleased software tool", "value": "ozra_data_access"}]}])
        instrument = []
        if run.instrument_product_name:
            instrument.append({"accession": cv.INSTRUMENT_MODEL, "value": str(run.instrument_product_name)})
        if self._property("InstrumentSerialNumber"):
            instrument.append({"accession": cv.INSTRUMENT_SERIAL_NUMBER,
                               "value": str(self._property("InstrumentSerialNumber"))})
        if run.instrument_manufacturer:
            instrument.append(_user_param("instrument manufacturer", str(run.instrument_manufacturer)))
        configuration = writer.InstrumentConfiguration(
            id="instrument", component_list=[], params=instrument or [{"accession": cv.INSTRUMENT_MODEL}])
        configuration.component_list = None  # the parts are not stored, and mzML refuses an empty list
        writer.instrument_configuration_list([configuration])
        writer.data_processing_list([{"id": "export", "processing_methods": [
            {"order": 0, "software_reference": cv.EXPORT_SOFTWARE, "params": ["Conversion to mzML"]}]}])

    # --- arrays ---------------------------------------------------------------------------------------

    def _array(self, values: numpy.ndarray, kind: dict, numpress: str, length: Optional[int] = None) -> Any:
        """A binaryDataArray of `values` under the kind param `kind` (a dict of accession, name, unit);
        `numpress` names the MS-Numpress variant used when the options ask for it."""
        writer = self.writer
        # MS-Numpress holds no value below zero (an absorbance, a baseline-corrected trace can have
        # them): such an array is written as it would be without it, at 64 bits.
        if self.options.numpress and not (len(values) and float(numpy.min(values)) < 0):
            dtype = numpy.float64
            compression = (cv.NUMPRESS_LINEAR, "MS-Numpress linear prediction compression") if numpress == "linear" \
                else (cv.NUMPRESS_SLOF, "MS-Numpress short logged float compression")
            encoded = encode_array(numpy.asarray(values, numpy.float64), compression=compression[1], dtype=dtype)
        else:
            dtype = numpy.float64 if self.options.precision == 64 or self.options.numpress else numpy.float32
            compression = (cv.ZLIB_COMPRESSION, "zlib compression") if self.options.compression == "zlib" \
                else (cv.NO_COMPRESSION, "no compression")
            encoded = encode_array(numpy.asarray(values, dtype), compression=self.options.compression, dtype=dtype)
        number_type = ("MS:1000523", "64-bit float") if dtype is numpy.float64 else ("MS:1000521", "32-bit float")
        params = [CVParam(**kind), CVParam(accession=compression[0], name=compression[1], ref="PSI-MS"),
                  CVParam(accession=number_type[0], name=number_type[1], ref="PSI-MS")]
        return writer.BinaryDataArray(writer.Binary(encoded), len(encoded), array_length=length, params=params)

    # --- MS spectra -----------------------------------------------------------------------------------

    def _unique_id(self, wanted: Any, fallback: str, pattern: Optional[re.Pattern] = None) -> str:
        """`wanted` as the element's id where it is one (unique, and of the form `pattern` asks for),
        else `fallback`."""
        identifier = str(wanted) if wanted not in (None, "") else fallback
        if identifier in self.ids or (pattern is not None and not pattern.match(identifier)):
            identifier = fallback if fallback not in self.ids else f"{fallback} ({len(self.ids)})"
        self.ids.add(identifier)
        return identifier

    def _spectrum_id(self, properties: dict, params: list) -> str:
        """A spectrum's id: its native id where mzML takes it as one (key=value pairs), else
        "index=N" with the native id kept as a userParam."""
        native = properties.get("NativeId")
        identifier = self._unique_id(native, f"index={self.spectra}", _SPECTRUM_ID)
        if native is not None and identifier != str(native):
            params.append(_user_param("NativeId", native))
        return identifier

    def _ms_spectra(self, analysis: Any) -> None:
        ids: dict = {}
        for index in range(analysis.get_spectra_count()):
            spectrum = analysis.get_spectrum(index)
            stored = spectrum_description(spectrum)
            ids[index] = self._ms_spectrum(spectrum, stored, ids.get(stored.precursor_index))

    def _ms_spectrum(self, spectrum: Any, stored: StoredDescription, precursor_id: Optional[str]) -> str:
        """Writes one MS spectrum; returns its id."""
        writer = self.writer
        centroid = spectrum_arrays(spectrum.get_spectrum_points())
        profile = spectrum_arrays(spectrum.get_profile_spectrum_points()) if has_profile(spectrum) else None
        # The spectrum's own arrays hold the points of its stated representation; the other one, when
        # stored, follows in arrays of its own, so a reader never gets profile points called centroid.
        if profile is not None and stored.spectrum_type == SpectrumTypes.PROFILE:
            (mz, intensity), other, names = profile, centroid, (cv.CENTROID_MZ_ARRAY, cv.CENTROID_INTENSITY_ARRAY)
        else:
            (mz, intensity), other, names = centroid, profile, (cv.PROFILE_MZ_ARRAY, cv.PROFILE_INTENSITY_ARRAY)
        arrays = [self._array(mz, _kind(cv.MZ_ARRAY, "m/z array", cv.MZ_UNIT, "m/z"), "linear"),
                  self._array(intensity, _kind(cv.INTENSITY_ARRAY, "intensity array", cv.NUMBER_OF_DETECTOR_COUNTS,
                                               "number of detector counts"), "slof")]
        if other is not None:
            arrays += [self._array(other[0], _non_standard(names[0]), "linear", len(other[0])),
                       self._array(other[1], _non_standard(names[1]), "slof", len(other[1]))]
        params: list = []
        if stored.ms_level is not None:
            params.append({"accession": cv.MS_LEVEL, "value": stored.ms_level})
        params += _polarity_params(stored.polarity)
        if stored.spectrum_type == SpectrumTypes.CENTROID:
            params.append({"accession": cv.CENTROID_SPECTRUM})
        elif stored.spectrum_type == SpectrumTypes.PROFILE:
            params.append({"accession": cv.PROFILE_SPECTRUM})
        params += _summary_params(stored)
        properties = stored.supplemental_properties
        params += [_user_param(key, value) for key, value in properties.items() if key not in _TERM_PROPERTIES]
        identifier = self._spectrum_id(properties, params)
        scan_params = self._scan_params(stored)
        precursors = None
        if stored.precursor_value is not None or stored.precursor_range is not None or precursor_id is not None:
            precursors = writer.PrecursorList([self._precursor(stored, precursor_id)])
        scan = writer.Scan(scan_window_list=_window(stored), params=scan_params)
        element = writer.Spectrum(self.spectra, writer.BinaryDataArrayList(arrays),
                                  scan_list=writer.ScanList([scan], params=[{"accession": cv.NO_COMBINATION}]),
                                  params=params, id=identifier, default_array_length=len(mz),
                                  precursor_list=precursors)
        element.write(writer.writer)
        self._spectrum_written()
        return identifier

    def _scan_params(self, stored: StoredDescription) -> list:
        params: list = []
        if stored.retention_time is not None:
            params.append({"accession": cv.SCAN_START_TIME, "value": stored.retention_time,
                           "unit_accession": cv.MINUTE})
        properties = stored.supplemental_properties
        if properties.get("FilterString") is not None:
            params.append({"accession": cv.FILTER_STRING, "value": str(properties["FilterString"])})
        params += _term_params(properties, "scan")
        return params

    def _precursor(self, stored: StoredDescription, precursor_id: Optional[str]) -> Any:
        writer = self.writer
        value, window = stored.precursor_value, stored.precursor_range
        ion = None
        if value is not None:
            ion_params = [{"accession": cv.SELECTED_ION_MZ, "value": value, "unit_accession": cv.MZ_UNIT}]
            ion_params += _term_params(stored.supplemental_properties, "selected ion")
            ion = writer.SelectedIonList([writer.SelectedIon(None, params=ion_params)])
        isolation = None
        if window is not None:
            # The target is the precursor m/z (else the window's middle): target - lower and
            # target + upper give the limits back exactly while the target lies within a factor
            # of two of both (always, for an isolation window).
            target = value if value is not None else (window.min + window.max) / 2
            isolation = writer.IsolationWindow(lower=target - window.min, target=target, upper=window.max - target)
        activation = writer.Activation([] if stored.collision_energy is None else [
            {"accession": cv.COLLISION_ENERGY, "value": stored.collision_energy, "unit_accession": cv.ELECTRONVOLT}])
        return writer.Precursor(ion, activation=activation, isolation_window=isolation,
                                spectrum_reference=precursor_id)

    def _spectrum_written(self) -> None:
        self.spectra += 1
        if self.progress is not None:
            self.progress(self.spectra, self.spectra_total)

    # --- DAD spectra ----------------------------------------------------------------------------------

    def _dad_spectra(self, analysis: Any) -> None:
        writer = self.writer
        unit = (analysis.supplemental_properties or {}).get("Unit")
        for index in range(analysis.get_spectra_count()):
            spectrum = analysis.get_spectrum(index)
            stored = spectrum_description(spectrum)
            wavelength, intensity = spectrum_arrays(spectrum.get_spectrum_points())
            arrays = [self._array(wavelength, _kind(cv.WAVELENGTH_ARRAY, "wavelength array", cv.NANOMETER,
                                                    "nanometer"), "linear"),
                      self._array(intensity, _intensity_kind(unit), "slof")]
            params: list = [{"accession": "MS:1000804"}]  # electromagnetic radiation spectrum
            if stored.spectrum_type == SpectrumTypes.CENTROID:
                params.append({"accession": cv.CENTROID_SPECTRUM})
            elif stored.spectrum_type == SpectrumTypes.PROFILE:
                params.append({"accession": cv.PROFILE_SPECTRUM})
            properties = stored.supplemental_properties
            params += [_user_param(key, value) for key, value in properties.items() if key not in _TERM_PROPERTIES]
            scan_params = [] if stored.retention_time is None else [
                {"accession": cv.SCAN_START_TIME, "value": stored.retention_time, "unit_accession": cv.MINUTE}]
            identifier = self._spectrum_id(properties, params)
            element = writer.Spectrum(self.spectra, writer.BinaryDataArrayList(arrays),
                                      scan_list=writer.ScanList([writer.Scan(scan_window_list=_window(stored),
                                                                             params=scan_params)],
                                                                params=[{"accession": cv.NO_COMBINATION}]),
                                      params=params, id=identifier, default_array_length=len(wavelength))
            element.write(writer.writer)
            self._spectrum_written()

    # --- chromatograms --------------------------------------------------------------------------------

    def _chromatogram(self, index: int, trace: Any, analog: bool) -> None:
        writer = self.writer
        stored = trace_description(trace)
        properties = stored.supplemental_properties
        time, intensity = spectrum_arrays(trace.get_points())
        arrays = [self._array(time, _kind(cv.TIME_ARRAY, "time array", cv.MINUTE, "minute"), "linear"),
                  self._array(intensity, _intensity_kind(trace.unit), "slof")]
        params: list = [{"accession": _chromatogram_kind(trace, stored, analog)}]
        if not analog:
            params += _polarity_params(stored.polarity)
            if stored.ms_level is not None:
                params.append({"accession": cv.MS_LEVEL, "value": stored.ms_level})
        written = {"NativeId", "Unit", "ChromatogramType", "ProductMz"}
        params += [_user_param(key, value) for key, value in properties.items() if key not in written]
        precursor = product = None
        if not analog and (stored.precursor_value is not None or stored.collision_energy is not None):
            precursor = self._precursor(stored, None)
        if not analog and properties.get("ProductMz") is not None:
            product = writer.Product(isolation_window=writer.IsolationWindow(target=properties["ProductMz"]))
        identifier = self._unique_id(properties.get("NativeId") or trace.label, f"trace={index}")
        element = writer.Chromatogram(index=index, binary_data_list=writer.BinaryDataArrayList(arrays),
                                      precursor=precursor, product=product, default_array_length=len(time),
                                      id=identifier, params=params)
        element.write(writer.writer)


def _kind(accession: str, name: str, unit_accession: str, unit_name: str) -> dict:
    return {"accession": accession, "name": name, "ref": "PSI-MS", "unit_accession": unit_accession,
            "unit_name": unit_name, "unit_cv_ref": "UO" if unit_accession.startswith("UO:") else "PSI-MS"}


def _non_standard(name: str) -> dict:
    return {"accession": cv.NON_STANDARD_ARRAY, "name": "non-standard data array", "ref": "PSI-MS", "value": name}


def _intensity_kind(unit: Any) -> dict:
    """The intensity array's kind: its unit by name, as the source gave it (an ontology term where the
    name is one, else the name alone), detector counts where none is stored."""
    if unit is None:
        return _kind(cv.INTENSITY_ARRAY, "intensity array", cv.NUMBER_OF_DETECTOR_COUNTS, "number of detector counts")
    return {"accession": cv.INTENSITY_ARRAY, "name": "intensity array", "ref": "PSI-MS", "unit_name": str(unit)}


def _chromatogram_kind(trace: Any, stored: StoredDescription, analog: bool) -> str:
    """The chromatogram term: the stored kind where it has one, else by detector or condition."""
    named = {name: accession for table in (cv.MASS_CHROMATOGRAMS, cv.DERIVED_CHROMATOGRAMS,
                                                      cv.DETECTOR_CHROMATOGRAMS)
             for accession, name in table.items()}
    stored_kind = named.get(stored.supplemental_properties.get("ChromatogramType"))
    if stored_kind is not None:
        return stored_kind
    if analog:
        detector = trace._analysis._detector_type
        return _DETECTOR_CHROMATOGRAM.get(detector, _GENERIC_CHROMATOGRAM)
    return cv.SRM_CHROMATOGRAM if stored.supplemental_properties.get("ProductMz") is not None \
        or (stored.ms_level or 1) > 1 else cv.SIM_CHROMATOGRAM


def _window(stored: StoredDescription) -> list:
    """The scan window list of a spectrum: its mass (or wavelength) range, where it stores one."""
    return [] if stored.mass_range is None else [(stored.mass_range.min, stored.mass_range.max)]


def _polarity_params(polarity: Any) -> list:
    if polarity == PolarityTypes.POSITIVE:
        return [{"accession": cv.POSITIVE_SCAN}]
    if polarity == PolarityTypes.NEGATIVE:
        return [{"accession": cv.NEGATIVE_SCAN}]
    if polarity == PolarityTypes.BOTH:
        return [{"accession": cv.POSITIVE_SCAN}, {"accession": cv.NEGATIVE_SCAN}]
    return []


def _summary_params(stored: StoredDescription) -> list:
    params: list = []
    if stored.current_total_ion is not None:
        params.append({"accession": cv.TOTAL_ION_CURRENT, "value": stored.current_total_ion,
                       "unit_accession": cv.NUMBER_OF_DETECTOR_COUNTS})
    if stored.base_peak_mz is not None and stored.base_peak_intensity is not None:
        params.append({"accession": cv.BASE_PEAK_MZ, "value": stored.base_peak_mz, "unit_accession": cv.MZ_UNIT})
        params.append({"accession": cv.BASE_PEAK_INTENSITY, "value": stored.base_peak_intensity,
                       "unit_accession": cv.NUMBER_OF_DETECTOR_COUNTS})
    return params


def _term_params(properties: dict, place: str) -> list:
    """The supplemental properties that have a term at `place` ("scan" or "selected ion")."""
    params = []
    for key, (where, accession, _kind_, unit) in cv.SPECTRUM_TERMS.items():
        if where == place and properties.get(key) is not None:
            param: dict = {"accession": accession, "value": properties[key]}
            if unit is not None:
                param["unit_accession"] = unit
            params.append(param)
    return params


def _user_param(name: str, value: Any) -> Any:
    """A userParam whose type says how to read the value back (xsd:double for a float: every
    digit of its shortest exact text is written)."""
    if isinstance(value, bool):
        text, kind = ("true" if value else "false"), "xsd:boolean"
    elif isinstance(value, int):
        text, kind = str(value), "xsd:long"
    elif isinstance(value, float):
        text, kind = repr(value), "xsd:double"
    elif isinstance(value, str):
        text, kind = value, "xsd:string"
    else:
        text, kind = json.dumps(value, default=str), "json"
    return _TypedUserParam(name=name, value=text, type=kind)


class _TypedUserParam(UserParam):
    """psims's userParam with the type given, not guessed from the Python value."""

    value = AttrProperty("value")


def _date_time(value: Any) -> Optional[str]:
    """The stored acquisition time where it is an xs:dateTime; mzML has no place for another text."""
    text = None if value is None else str(value).strip()
    return text if text and _DATE_TIME.match(text) else None


def _uri(location: str) -> str:
    """A source file's location as the URI mzML asks for: a drive letter after "file://" gets the
    third slash, characters a URI cannot hold are escaped."""
    location = re.sub(r"^file://(?=[A-Za-z]:)", "file:///", location or "file://")
    return urllib.parse.quote(location, safe=":/%#?=&@+~!$'()*,;[]")


def _xml_id(text: str) -> str:
    """An XML id (NCName) from any text: characters it cannot hold become '_'."""
    cleaned = "".join(c if c.isalnum() or c in "-_." else "_" for c in str(text))
    return cleaned if cleaned[:1].isalpha() or cleaned[:1] == "_" else "_" + cleaned

