"""Converting vendor run folders (Agilent ChemStation `.D`, Waters MassLynx `.raw`) through rainbow-api.

rainbow-api (the optional extra `vendor`) decodes the vendor files; one run becomes one
measurement. Each of its data files becomes:

- MS scans (Agilent `.MS`, Waters MS functions): a qualitative MS function, one spectrum per
  scan. The points are the (m/z, intensity) pairs rainbow-api decodes from the file, taken
  before it bins them into its matrix (so nothing is merged or moved to a bin centre), sorted
  by m/z. Polarity: Waters functions give theirs; an Agilent run takes it from its method text
  (`ACQ.M/ACQ.TXT`, the active signals' "Polarity"), and so does its scan range, when the method
  has one signal with one scan row (else polarity or range stay unset and the report says so).
  Which kind a Waters function is comes from the run itself (see `waters_functions`), never from
  the reader's detector name: MRM functions become a quantitative analysis with one trace per
  transition (a triple-quadrupole condition from precursor to product), SIR functions one trace
  per monitored ion; a function of any other recorded type is not stored, and said so.
- absorbance spectra (Agilent `.UV`, Waters PDA functions): a DAD function storing the
  wavelength array once, each spectrum's intensities exactly as decoded (mAU for Agilent;
  Waters stores raw detector values, kept as they are). The unit is in the function's
  supplemental property "Unit" where the file names one.
- single-channel signals (`.ch` DAD signals, ADC channels such as CAD and ELSD, Waters analog
  channels): analog traces, grouped into one analog function per detector kind. Each trace
  keeps its channel ("ChannelName", the vendor's signal text when it has one), "DetectorType"
  (rainbow-api's detector name, "analog" for the instrument's other channels such as pressure
  or solvent composition) and "Unit".

Time axes: every data file keeps its own, in minutes as rainbow-api gives them (float64 for
Agilent; Waters stores float32, kept exactly); times before the injection (negative) are kept.
"""

from __future__ import annotations

import contextlib
import os
import re
import threading
from typing import Callable, Iterator, Optional

import numpy as np

from ozra_data_access._internal._enum import (
    DetectorTypes,
    PolarityTypes,
    SpectrumTypes,
    VendorSpecificAdditionalConditionTypes,
)
from ozra_data_access.common import ValueRange
from ozra_data_access.convert.conditions import StoredConditions, TraceConditions
from ozra_data_access.convert.errors import ConversionError
from ozra_data_access.convert.finite import require_finite
from ozra_data_access.convert.report import ConversionReport
from ozra_data_access.convert.waters_functions import FunctionKind, function_kinds, transitions
from ozra_data_access.convert.widths import exact_width
from ozra_data_access.quan import CONDITIONS_PROPERTY
from ozra_data_access.writer import FunctionData, MeasurementData, SpectrumData, write_file

#: The detector of an analog channel, by rainbow-api's detector name.
_ANALOG_DETECTORS = {
    "UV": DetectorTypes.UV,
    "CAD": DetectorTypes.CHARGED_AEROSOL,
    "ELSD": DetectorTypes.ELSD,
    "FLD": DetectorTypes.FLUORESCENCE,
    "RID": DetectorTypes.REFRACTIVE_INDEX,
}

_VENDOR_RECORDS = {"Waters": VendorSpecificAdditionalConditionTypes.WATERS_MASS_LYNX}

#: Held while rainbow-api's binning function is wrapped: reads in other threads wait.
_WRAP_LOCK = threading.Lock()


def convert_vendor_folder(source: str, target: str, report: ConversionReport, *,
                          progress: Optional[Callable[[int, Optional[int]], None]] = None,
                          point_encoding: str = "zstd") -> None:
    """Writes the run in the folder `source` as the Ozra file `target`, noting in `report` what it left out."""
    rainbow = _rainbow(source)
    with _decoded_pairs() as pairs:
        try:
            directory = rainbow.read(source)
        except Exception as error:  # rainbow-api raises plain exceptions for what it cannot read
            raise ConversionError(f"{source}: rainbow-api cannot read the folder ({error})") from None
    if not directory.datafiles:
        raise ConversionError(f"{source}: the folder holds no data file rainbow-api reads")
    report.not_stored += [(name, "rainbow-api cannot read it (damaged, or of a kind it does not know)")
                          for name in _unread_data_files(source, directory)]
    run = _Run(source, directory, pairs, report)
    total = sum(len(f.xlabels) for f in directory.datafiles if f.data.shape[1] > 1)
    write_file(target, [run.measurement()], point_encoding=point_encoding, intensity_width=8,
               progress=None if progress is None else (lambda done: progress(done, total)))
    report.spectra = run.spectra


#: The data files of a run folder: Agilent signals, spectra and scans; Waters functions and analog channels.
_DATA_FILE = re.compile(r"^(?:.+\.(?:ch|uv|ms)|_FUNC\d{3}\.DAT|_CHRO\d{3}\.DAT)$", re.IGNORECASE)


def _unread_data_files(source: str, directory) -> list[str]:
    """The data files in the run folder that rainbow-api read nothing from."""
    read = {datafile.name.upper() for datafile in [*directory.datafiles, *directory.analog]}
    return sorted(name for name in os.listdir(source)
                  if _DATA_FILE.match(name) and os.path.isfile(os.path.join(source, name)) and name.upper() not in read)


def _rainbow(source: str):
    try:
        import rainbow
    except ImportError:
        raise ConversionError(f"{source}: vendor folders need the package rainbow-api "
                              "(pip install 'ozra_data_access[vendor]')") from None
    return rainbow


@contextlib.contextmanager
def _decoded_pairs() -> Iterator[dict]:
    """The (keys, values, pairs per scan) that rainbow-api decodes, by the matrix it bins them into.

    rainbow-api hands out binned matrices only; its parsers call one binning function with the
    decoded pairs, which is wrapped here for the length of one read to keep them as well (one
    read at a time in a process, so that threads converting at once each keep their own).
    """
    from rainbow import _binning
    from rainbow.agilent import chemstation
    from rainbow.waters import masslynx

    captured: dict = {}
    original = _binning.bin_datapairs

    def keeping(keys, values, pair_counts, *args, **kwargs):
        ylabels, data = original(keys, values, pair_counts, *args, **kwargs)
        captured[id(data)] = (data, np.asarray(keys, dtype=np.float64), np.asarray(values),
                              np.asarray(pair_counts, dtype=np.int64))
        return ylabels, data

    with _WRAP_LOCK:
        modules = [m for m in (chemstation, masslynx) if getattr(m, "bin_datapairs", None) is original]
        for module in modules:
            module.bin_datapairs = keeping
        try:
            yield captured
        finally:
            for module in modules:
                module.bin_datapairs = original


class _Run:
    """The functions of one run, made from rainbow-api's data files."""

    def __init__(self, source: str, directory, pairs: dict, report: ConversionReport):
        self.source = source
        self.directory = directory
        self.pairs = pairs
        self.report = report
        self.metadata = directory.metadata or {}
        self.spectra = 0

    def measurement(self) -> MeasurementData:
        metadata = self.metadata
        properties = {key: str(metadata[key]) for key in ("vialpos", "operator", "acq_method", "date")
                      if metadata.get(key) is not None}
        volume = metadata.get("injection_volume")
        return MeasurementData(
            functions=list(self._functions()),
            sample_name=metadata.get("sample") or os.path.splitext(os.path.basename(self.source.rstrip("/\\")))[0],
            injection_volume=None if not isinstance(volume, dict) else volume.get("value"),
            dilution_factor=metadata.get("dilution"),
            acquisition_method_file_name=metadata.get("acq_method"),
            original_file_path=self.source,
            instrument_manufacturer=metadata.get("vendor"),
            instrument_product_name=_modules_text(metadata.get("modules")),
            measurement_date_time=metadata.get("date"),
            source_file_definition=f"{metadata.get('vendor', 'vendor')} run folder, read by rainbow-api",
            supplemental_properties=properties,
        )

    def _functions(self) -> Iterator[FunctionData]:
        analog: dict = {}
        quan: list = []
        conditions = TraceConditions()
        kinds = function_kinds(self.source)
        # The instrument's other channels (pressure, solvent composition) are rainbow-api's "analog" list.
        for datafile in [*self.directory.datafiles, *self.directory.analog]:
            kind = self._kind(datafile, kinds)
            if kind is None:
                continue
            if kind in (FunctionKind.MRM, FunctionKind.SIR):
                quan += self._monitoring_traces(datafile, kind, conditions)
            elif kind == FunctionKind.MS_SCAN:
                yield self._ms_function(datafile)
            elif kind == FunctionKind.DIODE_ARRAY:
                yield self._dad_function(datafile)
            else:
                detector = _ANALOG_DETECTORS.get(datafile.detector, DetectorTypes.ANALOG)
                analog.setdefault(detector, []).extend(self._channel_traces(datafile, detector))
        if quan:
            yield FunctionData.quan(quan, supplemental_properties={CONDITIONS_PROPERTY: conditions.stored})
        for detector, traces in analog.items():
            yield FunctionData.analog(traces, detector_type=detector)

    def _kind(self, datafile, kinds: Optional[dict]) -> Optional[FunctionKind]:
        """What a data file holds: for a Waters function, the type the run records for it (None, and a
        line in the report, for a type that is not read); else what rainbow-api's reading shows."""
        name = datafile.name.upper()
        if kinds is not None and name in kinds:
            kind, code = kinds[name]
            if kind is None:
                self.report.not_stored.append((f"{datafile.name}", f"its function type (code {code} in "
                                               "_FUNCTNS.INF) is not one this converter reads (MS scan, SIR, "
                                               "MRM, diode array)"))
            return kind
        if name.startswith("_FUNC"):
            kind = (FunctionKind.SIR if (datafile.metadata or {}).get("acquisition_mode") == "SIM"
                    else FunctionKind.MS_SCAN if datafile.detector == "MS" else FunctionKind.DIODE_ARRAY)
            self.report.notes.append(f"{datafile.name}: the run records no function type (no _FUNCTNS.INF); "
                                     f"taken as {kind.value} from rainbow-api's detector name {datafile.detector!r}")
            return kind
        if datafile.detector == "MS":
            return FunctionKind.MS_SCAN
        if datafile.data.shape[1] > 1:
            return FunctionKind.DIODE_ARRAY
        return FunctionKind.ANALOG

    def _ms_function(self, datafile) -> FunctionData:
        captured = self.pairs.get(id(datafile.data))
        if captured is None or captured[0] is not datafile.data:
            raise ConversionError(f"{os.path.join(self.source, datafile.name)}: rainbow-api gave no decoded m/z "
                                  "pairs for these scans (an unsupported rainbow-api version?)")
        _, keys, values, pair_counts = captured
        where = os.path.join(self.source, datafile.name)
        require_finite(keys, "m/z values", where)
        require_finite(values.astype(np.float64), "intensities", where)
        require_finite(np.asarray(datafile.xlabels, dtype=np.float64), "retention times", where)
        polarity, mass_range = self._scan_settings(datafile)
        vendor = _VENDOR_RECORDS.get(self.metadata.get("vendor"))
        conditions = StoredConditions(vendor)
        ends = np.cumsum(pair_counts)
        spectra = []
        for scan, retention_time in enumerate(datafile.xlabels):
            start, end = (ends[scan - 1] if scan else 0), ends[scan]
            order = np.argsort(keys[start:end], kind="stable")
            intensity = values[start:end][order].astype(np.float64)
            spectrum = SpectrumData(
                retention_time=float(retention_time), x=keys[start:end][order], intensity=intensity,
                spectrum_type=SpectrumTypes.CENTROID, supplemental_properties={"Scan": scan + 1}, ms_level=1,
                polarity=polarity, mass_range=mass_range, is_profile_spectrum_measured=False,
                intensity_width=exact_width(intensity))
            spectrum.acquisition_condition_index = conditions.index_of(spectrum)
            spectra.append(spectrum)
        conditions.finish()
        self.spectra += len(spectra)
        return FunctionData.qual_ms(spectra, acquisition_conditions=conditions.stored,
                                    supplemental_properties={"SourceFile": datafile.name})

    def _scan_settings(self, datafile) -> tuple[Optional[PolarityTypes], Optional[ValueRange]]:
        """The polarity and scan range of an MS data file's scans."""
        polarity = (datafile.metadata or {}).get("polarity")
        if polarity in ("+", "-"):
            return (PolarityTypes.POSITIVE if polarity == "+" else PolarityTypes.NEGATIVE), None
        polarities, ranges = _agilent_method_signals(self.source)
        if len(polarities) != 1:
            self.report.notes.append(f"{datafile.name}: polarity not stored (the method names "
                                     f"{len(polarities)} active signals with a polarity)")
        return (polarities[0] if len(polarities) == 1 else None), (ranges[0] if len(ranges) == 1 else None)

    def _dad_function(self, datafile) -> FunctionData:
        where = os.path.join(self.source, datafile.name)
        for values, what in ((datafile.xlabels, "retention times"), (datafile.ylabels, "wavelengths"),
                             (datafile.data, "absorbances")):
            require_finite(np.asarray(values, dtype=np.float64), what, where)
        spectra = []
        for retention_time, row in zip(datafile.xlabels, datafile.data):
            intensity = np.asarray(row, dtype=np.float64)
            spectra.append(SpectrumData(retention_time=float(retention_time), x=None, intensity=intensity,
                                        spectrum_type=SpectrumTypes.PROFILE, ms_level=None, polarity=None,
                                        is_profile_spectrum_measured=True, intensity_width=exact_width(intensity)))
        self.spectra += len(spectra)
        return FunctionData.dad(spectra, wavelengths=np.asarray(datafile.ylabels, dtype=np.float64),
                                supplemental_properties=_channel_properties(datafile))

    def _monitoring_traces(self, datafile, kind: FunctionKind, conditions: TraceConditions) -> list:
        """One trace per monitored ion (SIR) or transition (MRM), over the function's own time axis."""
        pairs = transitions(self.source, datafile.name)
        if pairs is None or len(pairs) != datafile.data.shape[1]:
            raise ConversionError(f"{os.path.join(self.source, datafile.name)}: the {kind.value} function has "
                                  f"{datafile.data.shape[1]} channels, but _FUNCTNS.INF lists "
                                  f"{0 if pairs is None else len(pairs)} masses for it")
        polarity = {"+": PolarityTypes.POSITIVE, "-": PolarityTypes.NEGATIVE}.get(
            (datafile.metadata or {}).get("polarity"))
        if polarity is None:
            self.report.notes.append(f"{datafile.name}: polarity not stored (_extern.inf names none for it)")
        if kind == FunctionKind.MRM:
            self.report.notes.append(f"{datafile.name}: collision energies not stored (the run's files read "
                                     "here do not record one per transition)")
        times = self._checked_times(datafile)
        traces = []
        for column, (precursor, product) in enumerate(pairs):
            intensity = np.asarray(datafile.data[:, column], dtype=np.float64)
            properties = {"SourceFile": datafile.name, "DetectorType": "MS"}
            if kind == FunctionKind.MRM:
                properties["ChannelName"] = f"MRM {precursor:g} > {product:g}"
                properties["ProductMz"] = product
            else:
                properties["ChannelName"] = f"SIR {precursor:g}"
            trace = SpectrumData(retention_time=None, x=times, intensity=intensity,
                                 spectrum_type=SpectrumTypes.UNKNOWN, supplemental_properties=properties,
                                 ms_level=2 if kind == FunctionKind.MRM else 1, polarity=polarity,
                                 precursor_value=precursor, is_profile_spectrum_measured=None,
                                 intensity_width=exact_width(intensity))
            trace.acquisition_condition_index = conditions.index_of(
                trace, product if kind == FunctionKind.MRM else None, None)
            traces.append(trace)
        return traces

    def _checked_times(self, datafile) -> np.ndarray:
        """A data file's time axis in minutes, and its values checked to be finite."""
        where = os.path.join(self.source, datafile.name)
        require_finite(np.asarray(datafile.data, dtype=np.float64), "values", where)
        return require_finite(np.asarray(datafile.xlabels, dtype=np.float64), "time axis", where)

    def _channel_traces(self, datafile, detector: DetectorTypes) -> list:
        """One trace per column of a data file's matrix: intensity over its own time axis."""
        times = self._checked_times(datafile)
        traces = []
        for column, label in enumerate(np.atleast_1d(datafile.ylabels)):
            intensity = np.asarray(datafile.data[:, column], dtype=np.float64)
            properties = _channel_properties(datafile)
            properties["DetectorType"] = datafile.detector or "analog"
            if datafile.data.shape[1] > 1:
                properties["ChannelName"] = f"{properties['ChannelName']} {label}"
            traces.append(SpectrumData(retention_time=None, x=times, intensity=intensity,
                                       spectrum_type=SpectrumTypes.UNKNOWN, supplemental_properties=properties,
                                       ms_level=2 if detector == DetectorTypes.MS else None, polarity=None,
                                       is_profile_spectrum_measured=None, intensity_width=exact_width(intensity)))
        return traces


def _channel_properties(datafile) -> dict:
    """A data file's channel name (its signal text, else its file name), unit and signal settings."""
    metadata = datafile.metadata or {}
    properties = {"SourceFile": datafile.name, "ChannelName": str(metadata.get("signal") or datafile.name)}
    for key, name in (("unit", "Unit"), ("wavelength", "Wavelength"), ("bandwidth", "Bandwidth"),
                      ("reference_wavelength", "ReferenceWavelength")):
        if metadata.get(key) is not None:
            properties[name] = metadata[key]
    return properties


def _modules_text(modules) -> Optional[str]:
    if not modules:
        return None
    return ", ".join(f"{m.get('name')} {m.get('model')}".strip() for m in modules if isinstance(m, dict))


_SIGNAL = re.compile(r"^\[Signal \d+\]\s*$")
_POLARITY = re.compile(r"^Polarity\s*:\s*(Positive|Negative)\s*$")
_SCAN_ROW = re.compile(r"^\s*-?\d+(?:\.\d+)?\s+(\d+(?:\.\d+)?)\s+(\d+(?:\.\d+)?)\s")


def _agilent_method_signals(source: str) -> tuple[list, list]:
    """The polarities and scan ranges of the active MSD signals in the run's method text."""
    path = os.path.join(source, "ACQ.M", "ACQ.TXT")
    if not os.path.isfile(path):
        return [], []
    with open(path, "rb") as file:
        data = file.read()
    try:
        text = data.decode("utf-16") if data[:2] in (b"\xff\xfe", b"\xfe\xff") else data.decode("latin-1")
    except UnicodeDecodeError as error:
        raise ConversionError(f"{path}: the method text is damaged ({error})") from None
    polarities, ranges = [], []
    in_signal = False
    for line in text.splitlines():
        if _SIGNAL.match(line):
            in_signal = True
            continue
        match = _POLARITY.match(line)
        if in_signal and match:
            polarities.append(PolarityTypes.POSITIVE if match.group(1) == "Positive" else PolarityTypes.NEGATIVE)
        row = _SCAN_ROW.match(line)
        if in_signal and row and polarities:
            ranges.append(ValueRange(float(row.group(1)), float(row.group(2))))
    return polarities, ranges
