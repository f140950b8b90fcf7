"""Choosing what a command reads: the measurement, the analysis, the acquisition conditions."""

from __future__ import annotations

import contextlib
import os
import re
from typing import Iterator

from ozra_data_access.cli.arguments import CommandError
from ozra_data_access.cli.output import status

POLARITY_NAMES = {"positive": "POSITIVE", "+": "POSITIVE", "negative": "NEGATIVE", "-": "NEGATIVE"}


@contextlib.contextmanager
def open_file(path: str) -> Iterator:
    """The OzraFile at `path`, closed when the block ends. An empty or cut-short file is named as such
    after the reader's own account of where it found the damage."""
    from ozra_data_access.access import OzraFile
    from ozra_data_access.exception import OzraFormatError

    try:
        ozra_file = OzraFile(path)
    except OzraFormatError as error:
        raise CommandError(f"{path}: {error}{_damage_kind(path, str(error))}") from error
    with ozra_file:
        yield ozra_file


def _damage_kind(path: str, message: str) -> str:
    size = os.path.getsize(path)
    if size == 0:
        return " (an empty file)"
    referred = [int(offset) for offset in re.findall(r"byte offset (\d+)", message)]
    if referred and max(referred) >= size:
        return f" (truncated: {size:,} bytes, its header refers to byte {max(referred):,})"
    return ""


def measurement(ozra_file, args):
    count = ozra_file.get_measurement_count()
    _check_index(args, "measurement", args.measurement, count, "the file")
    return ozra_file.get_measurement(args.measurement)


def qual_analysis(ozra_file, args):
    chosen = measurement(ozra_file, args)
    count = chosen.get_qual_analysis_count()
    if count == 0 and chosen.get_quan_analysis_count() + chosen.get_analog_analysis_count():
        # A run converted from chromatograms only keeps its TIC and other chromatograms as traces.
        raise CommandError(f"{args.file}: measurement {args.measurement} has no MS analysis, only traces "
                           f"(stored chromatograms): see `ozra trace {args.file}`")
    _check_index(args, "MS analysis", args.analysis, count, f"measurement {args.measurement}")
    return chosen.get_qual_analysis(args.analysis)


def dad_analysis(ozra_file, args):
    chosen = measurement(ozra_file, args)
    _check_index(args, "DAD analysis", args.analysis, chosen.get_dad_analysis_count(), f"measurement {args.measurement}")
    return chosen.get_dad_analysis(args.analysis)


def _check_index(args, what: str, index: int, count: int, where: str) -> None:
    if index >= count:
        has = f"has no {what}" if count == 0 else f"has {count} ({what} 0 to {count - 1})"
        raise CommandError(f"{args.file}: no {what} {index}: {where} {has}")


def conditions(analysis, args) -> list:
    """The acquisition conditions chosen by --condition, or by --ms-level and --polarity.

    Without any of them: the first condition of the lowest MS level in the analysis.
    """
    available = analysis.unique_acquisition_conditions
    if not available:
        raise CommandError(f"{args.file}: the MS analysis has no spectra")
    if args.condition is not None:
        if args.ms_level is not None or args.polarity is not None:
            raise CommandError("--condition names one condition; leave out --ms-level and --polarity")
        if args.condition >= len(available):
            raise CommandError(f"{args.file}: no condition {args.condition}: the analysis has {len(available)} "
                               f"(0 to {len(available) - 1}, see ozra info --conditions)")
        return [available[args.condition]]
    lowest = min(condition.ms_level for condition in available)
    if args.ms_level is None and args.polarity is None:
        at_level = [condition for condition in available if condition.ms_level == lowest]
        if len(at_level) > 1:
            status(_default_note(at_level, lowest))
        return at_level[:1]
    if args.ms_level is None and args.polarity == "any":
        return [condition for condition in available if condition.ms_level == lowest]
    chosen = [c for c in available if _matches(c, args)]
    if not chosen:
        wanted = ", ".join(f"{name} {value}" for name, value in (("MS level", args.ms_level),
                                                                  ("polarity", args.polarity)) if value is not None)
        raise CommandError(f"{args.file}: no acquisition condition with {wanted} (see ozra info)")
    return chosen


def _default_note(at_level: list, level: int) -> str:
    """What the default choice leaves out, and how to have it."""
    shown = at_level[0]
    polarities = list(dict.fromkeys(_polarity_name(condition) for condition in at_level))
    if len(polarities) > 1:
        others = " or ".join(f"--polarity {name.lower()}" for name in polarities[1:])
        return (f"{len(polarities)} polarities at MS level {level}; showing {polarities[0]}; {others} "
                f"or --polarity any")
    return (f"{len(at_level)} conditions at MS level {level}; showing the first ({shown}); --ms-level {level} "
            "for all of them, or --condition I")


def _polarity_name(condition) -> str:
    return condition.polarity.name if condition.polarity is not None else "UNKNOWN"


def _matches(condition, args) -> bool:
    if args.ms_level is not None and condition.ms_level != args.ms_level:
        return False
    if args.polarity is not None and args.polarity != "any":
        return condition.polarity is not None and condition.polarity.name == POLARITY_NAMES[args.polarity]
    return True


def merged(chromatograms) -> list:
    """Points of several conditions' chromatograms in spectrum order (a spectrum has one condition)."""
    if len(chromatograms) == 1:
        return chromatograms[0]
    return sorted((point for points in chromatograms for point in points), key=lambda point: point.spectrum_index)


def condition_label(condition) -> str:
    polarity = {"POSITIVE": "+", "NEGATIVE": "-"}.get(getattr(condition.polarity, "name", ""), "")
    return f"MS{condition.ms_level}{polarity}"
