"""`convert`: one entry point for every source kind the converters read."""

from __future__ import annotations

import os
import time
from typing import Callable, Optional, Union

from ozra_data_access.convert.errors import ConversionError
from ozra_data_access.convert.report import ConversionReport, describe_analyses
from ozra_data_access.convert.sources import MZXML, THERMO, VENDOR, source_kind

PathType = Union[str, "os.PathLike[str]"]
Progress = Callable[[int, Optional[int]], None]


def convert(
    source: PathType,
    target: PathType,
    *,
    force: bool = False,
    profile_only: bool = False,
    progress: Optional[Progress] = None,
    point_encoding: str = "zstd",
    intensity_width: Optional[int] = None,
) -> ConversionReport:
    """Converts `source` into the Ozra file `target` and reports what was stored.

    `source` is an mzML file (.mzML, or gzip-compressed .mzML.gz), an mzXML file (through the
    optional extra `mzxml`), a Thermo .raw file (through the optional extra `thermo`), an Agilent ChemStation/
    MassHunter `.D` folder, a Waters MassLynx `.raw` folder or an Agilent OpenLab `.dx` archive
    (the last three need the optional extra `vendor`); its kind is decided from its content
    (see :mod:`ozra_data_access.convert.sources`), and any other source is refused naming what it is. `target` must differ from the source and must not exist unless `force`;
    it is written under a temporary name and appears only when complete, so no partial file
    is ever left. `profile_only` stores profile spectra as they are, without picking their
    peaks (see :mod:`ozra_data_access.convert.mzml`). `progress`, when given, is called as
    `progress(done, total)` with the spectra written so far and their total (None when the
    source does not say). `point_encoding` and `intensity_width` are those of
    :func:`ozra_data_access.convert.convert_mzml`.

    Raises `ConversionError`, naming the file and what is wrong, for a source it cannot read
    or a target it must not write.
    """
    source_path = os.fspath(source)
    target_path = os.fspath(target)
    _check_paths(source_path, target_path, force)
    started = time.perf_counter()
    report = ConversionReport(source=source_path, target=target_path)
    kind = source_kind(source_path)
    if kind == VENDOR:
        from ozra_data_access.convert.vendor import convert_vendor_folder

        convert_vendor_folder(source_path, target_path, report, progress=progress, point_encoding=point_encoding)
    else:
        _convert_mzml(source_path, target_path, report, profile_only, progress, point_encoding, intensity_width,
                      kind)
    report.seconds = time.perf_counter() - started
    report.analyses = describe_analyses(target_path)
    return report


def _check_paths(source: str, target: str, force: bool) -> None:
    if not os.path.exists(source):
        raise ConversionError(f"{source}: no such file or folder")
    if os.path.realpath(source) == os.path.realpath(target) or (
            os.path.exists(target) and os.path.samefile(source, target)):
        raise ConversionError(f"{target}: the target is the source itself")
    if os.path.isdir(target):
        raise ConversionError(f"{target}: the target is a folder")
    if os.path.exists(target) and not force:
        raise ConversionError(f"{target}: the target exists (use --force, or force=True in Python, to replace it)")


def _convert_mzml(source: str, target: str, report: ConversionReport, profile_only: bool,
                  progress: Optional[Progress], point_encoding: str, intensity_width: Optional[int],
                  kind: str) -> None:
    """mzML, and the formats whose reader gives its items as mzML spectra (mzXML, Thermo .raw)."""
    from ozra_data_access.convert.mzml import MzmlConversion
    from ozra_data_access.convert.mzml_reader import MzmlReader
    from ozra_data_access.convert.mzxml_reader import MzxmlReader
    from ozra_data_access.convert.thermo_reader import ThermoReader

    withheld: list = []
    reader = {MZXML: MzxmlReader, THERMO: lambda path: ThermoReader(path, withheld)}.get(kind, MzmlReader)
    conversion = MzmlConversion(source, point_encoding=point_encoding, intensity_width=intensity_width,
                                profile_only=profile_only, reader=reader)
    conversion.write(target, progress=None if progress is None else (
        lambda done: progress(done, conversion.spectra_total)))
    report.spectra = conversion.ms_spectra + conversion.dad_spectra
    report.not_stored = [(f"chromatogram {identifier!r}", reason)
                         for identifier, reason in conversion.skipped_chromatograms] + withheld
    report.not_stored += [(name, f"in {count:,} spectra or chromatograms: the format has no place for per-point "
                                 "arrays of this kind") for name, count in conversion.unread_arrays.items()]
    if conversion.sorted_ids:
        report.notes.append(f"{len(conversion.sorted_ids)} spectra or chromatograms had x values out of order "
                            "and were stored sorted")
    if conversion.picked_spectra:
        report.notes.append(f"{conversion.picked_spectra:,} profile spectra: centroid points picked, "
                            "profile points kept")
