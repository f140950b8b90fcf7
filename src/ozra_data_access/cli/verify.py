"""`ozra verify`: read every block, frame and point payload of a file and report the first damage."""

from __future__ import annotations

import dataclasses
import os

from ozra_data_access.cli.arguments import add_command, add_file
from ozra_data_access.cli.output import progress_bar, status

DAMAGED_STATUS = 1


def register(commands, common) -> None:
    parser = add_command(commands, common, "verify", run, help="check that every part of a file reads back",
                         description="Read the header, the jump table, every measurement's function index, every "
                                     "analysis's spectrum index and descriptions, and every spectrum's, profile "
                                     "spectrum's and trace's points. Reports the first damage with its byte offset "
                                     "and where in the file it was met; exit status 1 when damaged.")
    add_file(parser)


@dataclasses.dataclass
class Tally:
    measurements: int = 0
    analyses: int = 0
    spectra: int = 0
    profiles: int = 0
    traces: int = 0
    points: int = 0


def run(args) -> int:
    from ozra_data_access.exception import OzraFormatError

    tally = Tally()
    where = ["the file header and jump table"]
    try:
        walk(args.file, tally, where)
    except OzraFormatError as damage:
        print(f"{args.file}: damaged in {where[0]}: {damage}")
        return DAMAGED_STATUS
    print(f"{args.file}: no damage found ({os.path.getsize(args.file):,} bytes): {tally.measurements} measurements, "
          f"{tally.analyses} analyses, {tally.spectra:,} spectra, {tally.profiles:,} profile spectra, "
          f"{tally.traces:,} traces, {tally.points:,} points read")
    return 0


def walk(path: str, tally: Tally, where: list) -> None:
    """Opens every part of the file in reading order; `where[0]` names the part being read."""
    from ozra_data_access.access import OzraFile

    with OzraFile(path) as ozra_file:
        analyses = []
        for m in range(ozra_file.get_measurement_count()):
            where[0] = f"measurement {m}'s function index"
            measurement = ozra_file.get_measurement(m)
            tally.measurements += 1
            for kind, count, get in (("MS", measurement.get_qual_analysis_count, measurement.get_qual_analysis),
                                     ("DAD", measurement.get_dad_analysis_count, measurement.get_dad_analysis),
                                     ("quantitative", measurement.get_quan_analysis_count,
                                      measurement.get_quan_analysis),
                                     ("analog", measurement.get_analog_analysis_count,
                                      measurement.get_analog_analysis)):
                for a in range(count()):
                    name = f"measurement {m}, {kind} analysis {a}"
                    where[0] = f"{name}'s spectrum index"
                    analysis = get(a)
                    if kind in ("quantitative", "analog"):
                        traces = analysis.traces
                        analyses.append((name, len(traces), lambda i, t=traces: read_trace(t[i], tally)))
                    else:
                        analyses.append((name, analysis.get_spectra_count(),
                                         lambda i, s=analysis: read_spectrum(s.get_spectrum(i), tally)))
                    tally.analyses += 1
        total = sum(count for _, count, _ in analyses)
        with progress_bar(f"verifying {os.path.basename(path)}", unit="payloads") as progress:
            done = 0
            for name, count, read in analyses:
                for index in range(count):
                    where[0] = f"{name}, {'trace' if 'quantitative' in name or 'analog' in name else 'spectrum'} {index}"
                    read(index)
                    done += 1
                    if progress and done % 256 == 0:
                        progress(done, total)
            if progress:
                progress(done, total)


def read_spectrum(spectrum, tally: Tally) -> None:
    tally.points += len(spectrum.get_spectrum_points())
    tally.spectra += 1
    profile = getattr(spectrum, "get_profile_spectrum_points", None)
    if profile is None:
        return
    try:
        tally.points += len(profile())
    except Exception as error:
        if type(error) is not Exception or error.args != ("No profile spectrum",):
            raise
        return
    tally.profiles += 1


def read_trace(trace, tally: Tally) -> None:
    tally.points += len(trace.get_points())
    tally.traces += 1
