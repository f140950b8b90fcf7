"""`ozra tic`, `ozra bpc` and `ozra xic`: chromatograms of an MS analysis."""

from __future__ import annotations

import csv
import dataclasses

from ozra_data_access.cli import selection
from ozra_data_access.cli.arguments import (
    CommandError, UsageError, add_analysis_choice, add_command, add_condition_choice, add_file, add_output,
    non_negative_float, positive_float, value_range,
)
from ozra_data_access.cli.output import Plot, Series, Table, emit

POINT_COLUMNS = ("spectrum_index", "retention_time", "intensity", "x")


def register(commands, common) -> None:
    for name, what in (("tic", "total-ion"), ("bpc", "base-peak")):
        parser = add_command(commands, common, name, run_simple_chromatogram,
                             help=f"the {what} chromatogram of an MS analysis",
                             description=f"The {what} chromatogram of an MS analysis: one point per spectrum of "
                                         "the chosen acquisition conditions (x is the base peak's m/z for a BPC).")
        add_file(parser)
        add_analysis_choice(parser, "MS")
        add_condition_choice(parser)
        parser.add_argument("--rt", type=value_range, metavar="A:B",
                            help="only spectra with retention times from A to B minutes (both included)")
        add_output(parser)

    parser = add_command(commands, common, "xic", run_xic, help="extracted-ion chromatograms of an MS analysis",
                         description="Extracted-ion chromatograms: for each m/z, the summed intensity inside the "
                                     "window in every spectrum of the chosen conditions.")
    add_file(parser)
    add_analysis_choice(parser, "MS")
    add_condition_choice(parser)
    parser.add_argument("--mz", type=positive_float, action="append", metavar="M",
                        help="the m/z to extract (repeat for several)")
    parser.add_argument("--targets", metavar="CSV",
                        help="a CSV file of targets with columns mz and, optionally, name, rt_start, rt_end")
    window = parser.add_mutually_exclusive_group(required=True)
    window.add_argument("--ppm", type=non_negative_float, metavar="P", help="window half-width in ppm of the m/z")
    window.add_argument("--da", type=non_negative_float, metavar="D", help="window half-width in Da (m/z units)")
    parser.add_argument("--rt", type=value_range, metavar="A:B",
                        help="only spectra with retention times from A to B minutes (both included)")
    add_output(parser)


def run_simple_chromatogram(args) -> int:
    from ozra_data_access.common import ValueRange

    rt_range = ValueRange(*args.rt) if args.rt else None
    with selection.open_file(args.file) as ozra_file:
        analysis = selection.qual_analysis(ozra_file, args)
        chosen = selection.conditions(analysis, args)
        build = analysis.get_tic if args.command == "tic" else analysis.get_bpc
        points = selection.merged([build(condition, rt_range) for condition in chosen])
        name = "TIC" if args.command == "tic" else "BPC"
        emit(args, chromatogram_table(points),
             chromatogram_plot(f"{name} {condition_summary(chosen)}", [Series(None, *coordinates(points))]))
    return 0


def chromatogram_table(points, prefix: tuple = (), prefix_columns: tuple = ()) -> Table:
    return Table(prefix_columns + POINT_COLUMNS,
                 [prefix + (p.spectrum_index, p.retention_time, p.intensity, p.x) for p in points])


def coordinates(points) -> tuple[list, list]:
    return [p.retention_time for p in points], [p.intensity for p in points]


def chromatogram_plot(title: str, series: list[Series]) -> Plot:
    return Plot(title, "retention time (min)", "intensity", series)


def condition_summary(chosen) -> str:
    labels = sorted({selection.condition_label(condition) for condition in chosen})
    more = f" ({len(chosen)} conditions)" if len(chosen) > 1 else ""
    return " ".join(labels) + more


@dataclasses.dataclass
class Target:
    name: str
    mz: float
    rt: tuple[float, float] | None


def run_xic(args) -> int:
    from ozra_data_access.common import ValueRange
    from ozra_data_access.qual import ChromatogramFilterOption

    targets = [Target(f"{mz!r}", mz, args.rt) for mz in args.mz or ()]
    if args.targets:
        targets += read_targets(args.targets, args.rt)
    if not targets:
        raise UsageError("xic needs --mz M (one or more) or --targets FILE")
    with selection.open_file(args.file) as ozra_file:
        analysis = selection.qual_analysis(ozra_file, args)
        chosen = selection.conditions(analysis, args)
        requests = [ChromatogramFilterOption(condition, ValueRange(*window(args, target.mz)),
                                             ValueRange(*target.rt) if target.rt else None)
                    for target in targets for condition in chosen]
        results = analysis.get_multiple_xic(requests)
    per_target = [selection.merged(results[i * len(chosen):(i + 1) * len(chosen)]) for i in range(len(targets))]
    rows = [(target.name, target.mz, *row)
            for target, points in zip(targets, per_target)
            for row in chromatogram_table(points).rows]
    title = f"XIC {condition_summary(chosen)}, " + (f"±{args.ppm!r} ppm" if args.ppm is not None else f"±{args.da!r} Da")
    emit(args, Table(("target", "mz") + POINT_COLUMNS, rows),
         chromatogram_plot(title, [Series(target.name, *coordinates(points))
                                   for target, points in zip(targets, per_target)]))
    return 0


def window(args, mz: float) -> tuple[float, float]:
    half = mz * args.ppm / 1e6 if args.ppm is not None else args.da
    return mz - half, mz + half


def read_targets(path: str, default_rt) -> list[Target]:
    """The targets of a CSV file: a header row naming mz and, optionally, name, rt_start and rt_end."""
    with open(path, newline="", encoding="utf-8") as file:
        reader = csv.DictReader(file)
        if not reader.fieldnames or "mz" not in reader.fieldnames:
            raise CommandError(f"{path}: the first row must name the columns, one of them mz")
        targets = []
        for line, row in enumerate(reader, start=2):
            try:
                mz = float(row["mz"])
                start, end = row.get("rt_start") or None, row.get("rt_end") or None
                rt = (float(start), float(end)) if start is not None and end is not None else default_rt
            except (TypeError, ValueError):
                raise CommandError(f"{path}, line {line}: mz, rt_start and rt_end must be numbers") from None
            if (start is None) != (end is None):
                raise CommandError(f"{path}, line {line}: give both rt_start and rt_end, or neither")
            if not mz > 0 or (rt is not None and not rt[0] <= rt[1]):
                raise CommandError(f"{path}, line {line}: m/z must be above 0 and rt_start at most rt_end")
            targets.append(Target(row.get("name") or f"{mz!r}", mz, rt))
    if not targets:
        raise CommandError(f"{path}: no targets")
    return targets
