"""The MS scans of an Agilent MassHunter run (`AcqData/MSProfile.bin`, `AcqData/MSPeak.bin`).

rainbow-api reads the profile scans (`hrms=True`) and the centroid peak lists
(`centroid=True`) with one m/z axis per scan; each scan is stored with its own axis, never on
a shared grid. A run with both stores each scan once: the peak list in the centroid slot and
the profile in the profile slot, paired by retention time (a scan found in one file only keeps
that one). An ICP-MS run (one intensity per monitored mass in every scan) is stored as
centroid spectra of those masses. The scan records (`MSScan.bin`) are not read: polarity, MS
level, scan range and fragmentor or collision energy stay unset and are listed as not stored.
"""

from __future__ import annotations

import os
from typing import Optional

import numpy as np

from ozra_data_access.convert.errors import ConversionError
from ozra_data_access.convert.finite import require_finite
from ozra_data_access.convert.report import ConversionReport
from ozra_data_access.convert.widths import exact_width
from ozra_data_access._internal._enum import SpectrumTypes
from ozra_data_access.writer import FunctionData, SpectrumData

PROFILE_FILE, PEAK_FILE = "MSProfile.bin", "MSPeak.bin"


def masshunter_files(source: str) -> list:
    """The MassHunter MS files of the run folder `source`, of `MSProfile.bin` and `MSPeak.bin`."""
    folder = os.path.join(source, "AcqData")
    return [name for name in (PROFILE_FILE, PEAK_FILE) if os.path.isfile(os.path.join(folder, name))]


def masshunter_function(rainbow, source: str, report: ConversionReport) -> Optional[FunctionData]:
    """The run's MS scans as one function, or None when rainbow-api reads none of its MS files."""
    scans: dict = {}
    plain = None
    for name in masshunter_files(source):
        datafile = _read(rainbow, source, name, report)
        if datafile is None:
            continue
        if not hasattr(datafile, "scan"):
            plain = datafile
            continue
        slot = "profile" if name == PROFILE_FILE else "centroid"
        for index, retention_time in enumerate(datafile.xlabels):
            mz, intensity = datafile.scan(index)
            where = f"{os.path.join(source, 'AcqData', name)}, scan {index}"
            scans.setdefault(float(retention_time), {})[slot] = (
                require_finite(np.asarray(mz, dtype=np.float64), "m/z values", where),
                require_finite(np.asarray(intensity, dtype=np.float64), "intensities", where))
    if plain is not None and not scans:
        spectra = [_spectrum(rt, (np.asarray(plain.ylabels, dtype=np.float64), np.asarray(row, dtype=np.float64)),
                             None) for rt, row in zip(plain.xlabels, plain.data)]
    elif scans:
        spectra = [_spectrum(rt, slots.get("centroid"), slots.get("profile")) for rt, slots in sorted(scans.items())]
    else:
        return None
    report.not_stored.append(("AcqData/MSScan.bin scan records", "polarity, MS level, scan range and fragmentor "
                              "or collision energy are not read from them"))
    return FunctionData.qual_ms(spectra, supplemental_properties={"SourceFile": ", ".join(masshunter_files(source))})


def _read(rainbow, source: str, name: str, report: ConversionReport):
    flag = {"hrms": True} if name == PROFILE_FILE else {"centroid": True}
    try:
        directory = rainbow.read(source, **flag)
    except ImportError as error:
        raise ConversionError(f"{os.path.join(source, 'AcqData', name)}: reading it needs {error.name or error} "
                              "(pip install 'ozra_data_access[vendor]')") from None
    except Exception as error:  # rainbow-api raises plain exceptions for what it cannot read
        report.not_stored.append((f"AcqData/{name}", f"rainbow-api cannot read it ({error})"))
        return None
    found = [f for f in directory.datafiles if f.name == name]
    if not found:
        report.not_stored.append((f"AcqData/{name}", "rainbow-api read nothing from it"))
        return None
    return found[0]


def _spectrum(retention_time: float, centroid: Optional[tuple], profile: Optional[tuple]) -> SpectrumData:
    x, intensity = centroid if centroid is not None else (np.empty(0), np.empty(0))
    profile_x, profile_intensity = profile if profile is not None else (None, None)
    return SpectrumData(
        retention_time=float(retention_time), x=x, intensity=intensity, profile_x=profile_x,
        profile_intensity=profile_intensity,
        spectrum_type=SpectrumTypes.CENTROID if centroid is not None else SpectrumTypes.PROFILE,
        ms_level=None, polarity=None, is_profile_spectrum_measured=profile is not None,
        intensity_width=exact_width(intensity if profile is None else np.concatenate([intensity, profile_intensity])))
