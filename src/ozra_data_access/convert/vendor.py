"""Converting vendor run folders (Agilent ChemStation and MassHunter `.D`, Waters MassLynx `.raw`) through rainbow-api.

rainbow-api (the optional extra `vendor`) decodes the vendor files; one run becomes one
measurement. Each of its data files becomes:

- MS scans (Agilent `.MS`, Waters MS functions): a qualitative MS function, one spectrum per
  scan. The points are the (m/z, intensity) pairs rainbow-api decodes from the file, taken
  before it bins them into its matrix (so nothing is merged or moved to a bin centre), sorted
  by m/z. Polarity: Waters functions give theirs; an Agilent run takes it from its method text
  (`ACQ.M/ACQ.TXT`, the active signals' "Polarity"), and so does its scan range, when the method
  has one signal with one scan row (else polarity or range stay unset and the report says so).
  What a Waters function holds is decided by its type in the run's `_FUNCTNS.INF` (see
  :mod:`ozra_data_access.convert.waters`), never by the reader's detector name: MS scan, PDA,
  SIR and MRM are stored, any other type is refused with a reason in the report. SIR and MRM
  functions become one quantitative analysis with one trace per monitored ion (SIR: a level-1
  condition whose mass range is the ion) or transition (MRM: a triple-quadrupole product ion
  condition, precursor to product). A SIR ion is a trace rather than a one-point spectrum
  because that is how it is read: an intensity over time at one m/z. The collision energy of
  MRM transitions is not read from the run, so it is listed as not stored.
- absorbance spectra (Agilent `.UV`, Waters PDA functions): a DAD function storing the
  wavelength array once, each spectrum's intensities exactly as decoded (mAU for Agilent;
  Waters stores raw detector values, kept as they are). The unit is in the function's
  supplemental property "Unit" where the file names one.
- single-channel signals (`.ch` DAD signals, ADC channels such as CAD and ELSD, Waters analog
  channels): analog traces, grouped into one analog function per detector kind. Each trace
  keeps its channel ("ChannelName", the vendor's signal text when it has one), "DetectorType"
  (rainbow-api's detector name) and "Unit".

Agilent MassHunter MS files (`AcqData/`) are read as :mod:`ozra_data_access.convert.masshunter`
describes, when the run has no other MS data file (a GC-MS run's `data.ms` is read as above).

Time axes: every data file keeps its own, in minutes as rainbow-api gives them (float64 for
Agilent; Waters stores float32, kept exactly); times before the injection (negative) are kept.
"""

from __future__ import annotations

import contextlib
import os
import re
import threading
import zipfile
from typing import Callable, Iterator, Optional

import numpy as np

from ozra_data_access._internal._enum import (
    DetectorTypes,
    PolarityTypes,
    SpectrumTypes,
    TripleQScanTypes,
    VendorSpecificAdditionalConditionTypes,
)
from ozra_data_access.common import ValueRange
from ozra_data_access.convert import waters
from ozra_data_access.convert.conditions import StoredConditions
from ozra_data_access.convert.errors import ConversionError
from ozra_data_access.convert.finite import require_finite
from ozra_data_access.convert.masshunter import masshunter_files, masshunter_function
from ozra_data_access.convert.report import ConversionReport
from ozra_data_access.convert.sources import openlab_data_members, run_data_files
from ozra_data_access.convert.widths import exact_width
from ozra_data_access.quan import CONDITIONS_PROPERTY
from ozra_data_access.writer import (
    AcquisitionConditionData,
    AcquisitionCoreConditionData,
    FunctionData,
    MeasurementData,
    SpectrumData,
    TripleQScanConditionData,
    write_file,
)

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
    """Writes the run in `source` as the Ozra file `target`, noting in `report` what it left out.

    `source` is a run folder or an OpenLab `.dx` archive (whose instrument telemetry traces,
    such as pump pressure and sampler temperature, are stored as analog traces)."""
    rainbow = _rainbow(source)
    archive = os.path.isfile(source)
    with _decoded_pairs() as pairs:
        try:
            directory = rainbow.read(source, **({"telemetry": True} if archive else {}))
        except Exception as error:  # rainbow-api raises plain exceptions for what it cannot read
            raise ConversionError(f"{source}: rainbow-api cannot read the {'archive' if archive else 'folder'} "
                                  f"({error})") from None
    if directory is None:
        raise ConversionError(f"{source}: the archive holds no data file rainbow-api reads")
    # rainbow-api keeps channels of no known detector (pressure, %B, telemetry) apart, in `analog`.
    datafiles = list(directory.datafiles) + list(getattr(directory, "analog", None) or [])
    read_names = {f.name.lower() for f in datafiles}
    if archive:
        with zipfile.ZipFile(source) as opened:
            members = openlab_data_members(opened.namelist())
        unread = [f"{len(members) - len(datafiles)} of the archive's {len(members)} data members"] if (
            len(members) > len(datafiles)) else []
    else:
        unread = sorted(name for name in run_data_files(source) if name.lower() not in read_names)
    extra = []
    if not archive and masshunter_files(source) and not any(f.detector == "MS" for f in datafiles):
        extra = [f for f in [masshunter_function(rainbow, source, report)] if f is not None]
    if not datafiles and not extra:
        raise ConversionError(f"{source}: the folder holds no data file rainbow-api reads"
                              + (f" ({', '.join(unread)} could not be read)" if unread else ""))
    report.not_stored += [(name, "rainbow-api could not read it (damaged, cut short, or of a layout it does "
                                 "not know)") for name in unread]
    run = _Run(source, directory, datafiles, pairs, report, extra)
    total = sum(len(f.xlabels) for f in datafiles if f.data.shape[1] > 1)
    total += sum(len(f.spectra) for f in extra)
    write_file(target, [run.measurement()], point_encoding=point_encoding, intensity_width=8,
               progress=None if progress is None else (lambda done: progress(done, total)))
    report.spectra = run.spectra


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

    def __init__(self, source: str, directory, datafiles: list, pairs: dict, report: ConversionReport,
                 extra: list):
        self.source = source
        self.datafiles = datafiles
        self.extra = extra
        self.directory = directory
        self.pairs = pairs
        self.report = report
        self.metadata = directory.metadata or {}
        self.spectra = sum(len(f.spectra) for f in extra)

    def measurement(self) -> MeasurementData:
        metadata = self.metadata
        properties = {key: str(metadata[key]) for key in ("vialpos", "operator", "acq_method", "date")
                      if metadata.get(key) is not None}
        volume = metadata.get("injection_volume")
        return MeasurementData(
            functions=self.extra + list(self._functions()),
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
        conditions = _TraceConditions()
        described = waters.read_functions(self.source) if self.metadata.get("vendor") == "Waters" else None
        for datafile in self.datafiles:
            number = waters.function_number(datafile.name)
            kind = self._function_kind(datafile, number, described) if number is not None else None
            if number is not None and kind is None:
                continue
            if kind in (waters.SIR, waters.MRM):
                quan += self._monitored_traces(datafile, kind, described, conditions)
            elif kind == waters.MS_SCAN or (kind is None and datafile.detector == "MS"):
                yield self._ms_function(datafile)
            elif kind == waters.PDA or (kind is None and datafile.data.shape[1] > 1):
                yield self._dad_function(datafile)
            else:
                detector = _ANALOG_DETECTORS.get(datafile.detector, DetectorTypes.ANALOG)
                analog.setdefault(detector, []).extend(self._channel_traces(datafile, detector))
        if quan:
            yield FunctionData.quan(quan, supplemental_properties={CONDITIONS_PROPERTY: conditions.stored})
        for detector, traces in analog.items():
            yield FunctionData.analog(traces, detector_type=detector)

    def _function_kind(self, datafile, number: int, described: Optional[dict]) -> Optional[str]:
        """How a Waters function is stored, from the run's own record; None when it is refused.

        Only without `_FUNCTNS.INF` does rainbow-api's detector name decide, and the report says so."""
        if described is None:
            mode = (datafile.metadata or {}).get("acquisition_mode")
            kind = (waters.SIR if mode == "SIM" else waters.MS_SCAN) if datafile.detector == "MS" else (
                waters.PDA if datafile.data.shape[1] > 1 else None)
            if kind is None:
                self.report.not_stored.append((datafile.name, "the run has no _FUNCTNS.INF and rainbow-api's label "
                                               f"{datafile.detector!r} does not decide what the function holds"))
            else:
                self.report.notes.append(f"{datafile.name}: the run has no _FUNCTNS.INF; stored as {kind} from "
                                         f"rainbow-api's label {datafile.detector!r}")
            return kind
        function = described.get(number)
        if function is None:
            self.report.not_stored.append((datafile.name, "_FUNCTNS.INF has no record for this function"))
            return None
        if function.kind is None:
            self.report.not_stored.append((datafile.name, f"function type {function.type_code} in _FUNCTNS.INF is "
                                           "not one this converter stores (MS scan, SIR, MRM, PDA)"))
        return function.kind

    def _monitored_traces(self, datafile, kind: str, described: Optional[dict],
                          conditions: "_TraceConditions") -> list:
        """One quantitative trace per monitored ion (SIR) or transition (MRM) of a Waters function."""
        function = None if described is None else described[waters.function_number(datafile.name)]
        set_mz = np.asarray(datafile.ylabels, dtype=np.float64) if function is None else function.set_mz
        channels = datafile.data.shape[1]
        if len(set_mz) != channels:
            self.report.not_stored.append((datafile.name, f"{channels} channels in the data but {len(set_mz)} "
                                           "monitored ions in _FUNCTNS.INF"))
            return []
        sign = (datafile.metadata or {}).get("polarity")
        polarity = {"+": PolarityTypes.POSITIVE, "-": PolarityTypes.NEGATIVE}.get(sign)
        if polarity is None:
            self.report.not_stored.append((f"{datafile.name} polarity", "_extern.inf gives this function none"))
        if kind == waters.MRM:
            self.report.not_stored.append((f"{datafile.name} collision energy",
                                           "the run records it in no field this converter reads"))
        times = self._checked_times(datafile)
        traces = []
        for channel in range(channels):
            product = None if kind == waters.SIR else float(function.product_mz[channel])
            name = f"{set_mz[channel]:.2f}" + ("" if product is None else f">{product:.2f}")
            intensity = np.asarray(datafile.data[:, channel], dtype=np.float64)
            trace = SpectrumData(
                retention_time=None, x=times, intensity=intensity, spectrum_type=SpectrumTypes.UNKNOWN,
                supplemental_properties={"SourceFile": datafile.name, "ChannelName": name, "ScanMode": kind},
                ms_level=1 if product is None else 2, polarity=polarity,
                precursor_value=None if product is None else float(set_mz[channel]),
                is_profile_spectrum_measured=None, intensity_width=exact_width(intensity))
            trace.acquisition_condition_index = conditions.index_of(trace, float(set_mz[channel]), product)
            traces.append(trace)
        return traces

    def _ms_function(self, datafile) -> FunctionData:
        captured = self.pairs.get(id(datafile.data))
        if captured is None or captured[0] is not datafile.data:
            raise ConversionError(f"{os.path.join(self.source, datafile.name)}: rainbow-api gave no decoded m/z "
                                  "pairs for these scans (an unsupported rainbow-api version?)")
        _, keys, values, pair_counts = captured
        where = os.path.join(self.source, datafile.name)
        require_finite(keys, "m/z values", where)
        require_finite(values, "intensities", where)
        require_finite(np.asarray(datafile.xlabels), "retention times", where)
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
            require_finite(np.asarray(values), what, where)
        spectra = []
        for retention_time, row in zip(datafile.xlabels, datafile.data):
            intensity = np.asarray(row, dtype=np.float64)
            spectra.append(SpectrumData(retention_time=float(retention_time), x=None, intensity=intensity,
                                        spectrum_type=SpectrumTypes.PROFILE, ms_level=None, polarity=None,
                                        is_profile_spectrum_measured=True, intensity_width=exact_width(intensity)))
        self.spectra += len(spectra)
        return FunctionData.dad(spectra, wavelengths=np.asarray(datafile.ylabels, dtype=np.float64),
                                supplemental_properties=_channel_properties(datafile))

    def _checked_times(self, datafile) -> np.ndarray:
        """A data file's time axis in minutes, its values and times checked to be finite."""
        where = os.path.join(self.source, datafile.name)
        require_finite(np.asarray(datafile.data), "values", where)
        return require_finite(np.asarray(datafile.xlabels, dtype=np.float64), "time axis", where)

    def _channel_traces(self, datafile, detector: DetectorTypes) -> list:
        """One trace per column of a data file's matrix: intensity over its own time axis."""
        times = self._checked_times(datafile)
        traces = []
        for column, label in enumerate(np.atleast_1d(datafile.ylabels)):
            intensity = np.asarray(datafile.data[:, column], dtype=np.float64)
            properties = _channel_properties(datafile)
            properties["DetectorType"] = datafile.detector
            if datafile.data.shape[1] > 1:
                properties["ChannelName"] = f"{properties['ChannelName']} {label}"
            traces.append(SpectrumData(retention_time=None, x=times, intensity=intensity,
                                       spectrum_type=SpectrumTypes.UNKNOWN, supplemental_properties=properties,
                                       ms_level=2 if detector == DetectorTypes.MS else None, polarity=None,
                                       is_profile_spectrum_measured=None, intensity_width=exact_width(intensity)))
        return traces


class _TraceConditions:
    """The condition list of the quantitative function: one entry per monitored ion or transition.

    A SIR ion is a level-1 condition whose mass range is the ion's m/z; an MRM transition is a
    level-2 triple-quadrupole product ion condition from its precursor to its product m/z."""

    def __init__(self) -> None:
        self.stored: list = []
        self._positions: dict = {}

    def index_of(self, trace: SpectrumData, set_mz: float, product: Optional[float]) -> int:
        key = (trace.polarity, set_mz, product)
        if key not in self._positions:
            self._positions[key] = len(self.stored)
            if product is None:
                core = AcquisitionCoreConditionData(ms_level=1, polarity=trace.polarity,
                                                    mass_range=ValueRange(set_mz, set_mz),
                                                    original_measured_spectrum_type=None)
            else:
                core = AcquisitionCoreConditionData(
                    ms_level=2, polarity=trace.polarity, original_measured_spectrum_type=None,
                    triple_q_scan_condition=TripleQScanConditionData(
                        TripleQScanTypes.PRODUCT, target_mz=set_mz, q3_range=ValueRange(product, product)))
            self.stored.append(AcquisitionConditionData(core, precursor_value=None if product is None else set_mz))
        return self._positions[key]


def _channel_properties(datafile) -> dict:
    """A data file's channel name (its signal text or description, else its file name), unit and signal settings."""
    metadata = datafile.metadata or {}
    properties = {"SourceFile": datafile.name, "ChannelName": str(metadata.get("signal") or metadata.get("description")
                                                                    or datafile.name)}
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
        raise ConversionError(f"{path}: the method text is not whole UTF-16 (cut or damaged at byte "
                              f"{error.start:,})") from None
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
