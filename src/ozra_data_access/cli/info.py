"""`ozra info`: what a file holds, in one screen."""

from __future__ import annotations

import sys

from ozra_data_access.cli import selection
from ozra_data_access.cli.arguments import add_analysis_choice, add_command, add_file, add_output
from ozra_data_access.cli.output import Table, emit

COLUMNS = ("measurement", "kind", "analysis", "ms_level", "polarity", "conditions", "spectra",
           "rt_start", "rt_end", "note")


def register(commands, common) -> None:
    parser = add_command(commands, common, "info", run, help="versions, measurements, analyses and conditions of a file",
                         description="What a file holds: its versions, its measurements, their analyses of each kind "
                                     "with their counts and time ranges, and the acquisition conditions grouped by MS "
                                     "level and polarity (precursor conditions collapse into one line with a count).")
    add_file(parser)
    parser.add_argument("--conditions", action="store_true",
                        help="list every acquisition condition of one MS analysis with the index --condition takes")
    add_analysis_choice(parser, "MS (with --conditions)")
    # Without --measurement every measurement is listed (--conditions reads measurement 0).
    parser.set_defaults(measurement=None)
    add_output(parser, plot=False)


def run(args) -> int:
    with selection.open_file(args.file) as ozra_file:
        if args.measurement is not None:
            selection.measurement(ozra_file, args)  # refuses an index the file does not have
        if args.conditions:
            args.measurement = args.measurement or 0
            table = conditions_table(selection.qual_analysis(ozra_file, args))
        else:
            if args.csv != "-":
                print_header(ozra_file)
            indices = [args.measurement] if args.measurement is not None else range(ozra_file.get_measurement_count())
            table = Table(COLUMNS, [row for index in indices
                                    for row in measurement_rows(ozra_file.get_measurement(index), index)])
        emit(args, table)
    return 0


def print_header(ozra_file) -> None:
    out = sys.stdout
    print(f"file               {ozra_file.file_path}", file=out)
    print(f"format version     {ozra_file.get_file_format_version()}", file=out)
    print(f"converter version  {ozra_file.get_converter_version()}", file=out)
    print(f"measurements       {ozra_file.get_measurement_count()}", file=out)
    for index in range(ozra_file.get_measurement_count()):
        print(f"  {index}: {ozra_file.get_measurement(index)}", file=out)
    print(file=out)


def measurement_rows(measurement, m: int) -> list[tuple]:
    rows = []
    for a in range(measurement.get_qual_analysis_count()):
        rows += ms_rows(measurement.get_qual_analysis(a), m, a)
    for a in range(measurement.get_dad_analysis_count()):
        rows.append(dad_row(measurement.get_dad_analysis(a), m, a))
    for kind, count, get in (("quantitative", measurement.get_quan_analysis_count(), measurement.get_quan_analysis),
                             ("analog", measurement.get_analog_analysis_count(), measurement.get_analog_analysis)):
        for a in range(count):
            rows.append(trace_row(get(a), kind, m, a))
    return rows


def ms_rows(analysis, m: int, a: int) -> list[tuple]:
    """One row per MS level and polarity: its conditions, spectra and retention-time span."""
    groups: dict[tuple, dict] = {}
    for condition in analysis.unique_acquisition_conditions:
        group = groups.setdefault(group_key(condition), {"conditions": [], "spectra": 0, "times": []})
        group["conditions"].append(condition)
    for index in range(analysis.get_spectra_count()):
        spectrum = analysis.get_spectrum(index)
        group = groups[group_key(spectrum.acquisition_condition)]
        group["spectra"] += 1
        if spectrum.retention_time is not None:
            group["times"].append(spectrum.retention_time)
    rows = []
    for (level, polarity), group in sorted(groups.items(), key=lambda item: (item[0][0], item[0][1] or "")):
        times = group["times"]
        rows.append((m, "MS", a, level, polarity, len(group["conditions"]), group["spectra"],
                     min(times) if times else None, max(times) if times else None, group_note(group["conditions"])))
    return rows


def group_key(condition) -> tuple:
    return condition.ms_level, getattr(condition.polarity, "name", None)


def group_note(conditions) -> str:
    if len(conditions) == 1:
        return str(conditions[0])
    precursors = [c.precursor_value for c in conditions if c.precursor_value is not None]
    if precursors:
        return f"{len(conditions)} precursor conditions, precursor m/z {min(precursors):.4f}-{max(precursors):.4f}"
    return f"{len(conditions)} conditions"


def dad_row(analysis, m: int, a: int) -> tuple:
    count = analysis.get_spectra_count()
    times = [t for t in (analysis.get_spectrum(i).retention_time for i in {0, count - 1} if count) if t is not None]
    note = ""
    if count:
        points = analysis.get_spectrum(0).get_spectrum_points()
        if len(points):
            note = f"{points[0].x:g}-{points[len(points) - 1].x:g} nm, {len(points)} wavelengths"
    return (m, "DAD", a, None, None, None, count, min(times, default=None), max(times, default=None), note)


def trace_row(analysis, kind: str, m: int, a: int) -> tuple:
    traces = getattr(analysis, "get_trace_count", None)
    note = f"{traces()} trace{'' if traces() == 1 else 's'}" if traces else ""
    return (m, kind, a, None, None, None, None, None, None, note)


def conditions_table(analysis) -> Table:
    return Table(("condition", "ms_level", "polarity", "precursor_mz", "description"),
                 [(index, c.ms_level, getattr(c.polarity, "name", None), c.precursor_value, str(c))
                  for index, c in enumerate(analysis.unique_acquisition_conditions)])
