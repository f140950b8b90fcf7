"""`ozra tic`, `ozra bpc` and `ozra xic`: chromatograms of an MS analysis."""

from __future__ import annotations

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
                                         "the chosen acquisition conditions (x is the base peak's m/z for a BPC). "
                                         "The values are those stored with each spectrum's description, as the "
                                         "instrument or converter gave them (a stored base peak can differ from "
                                         "the largest point); --from-points rebuilds them from the points.")
        add_file(parser)
        add_analysis_choice(parser, "MS")
        add_condition_choice(parser)
        parser.add_argument("--rt", type=value_range, metavar="A:B",
                            help="only spectra with retention times from A to B minutes (both included)")
        parser.add_argument("--from-points", action="store_true",
                            help="the sum (TIC) or the largest point (BPC) of each spectrum's centroid points, "
                                 "instead of the values stored with its description")
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
                        help="a CSV file of targets: columns id, mz and, optionally, ppm or da, rt_min, rt_max, "
                             "ms_level, polarity (the table of `ozra batch xic`; name, rt_start and rt_end are "
                             "read as id, rt_min and rt_max)")
    window = parser.add_mutually_exclusive_group()
    window.add_argument("--ppm", type=non_negative_float, metavar="P",
                        help="window half-width in ppm of the m/z (for --targets: of rows that give none)")
    window.add_argument("--da", type=non_negative_float, metavar="D",
                        help="window half-width in Da (m/z units; for --targets: of rows that give none)")
    parser.add_argument("--rt", type=value_range, metavar="A:B",
                        help="only spectra with retention times from A to B minutes (both included)")
    add_output(parser)


def run_simple_chromatogram(args) -> int:
    from ozra_data_access.common import ValueRange

    rt_range = ValueRange(*args.rt) if args.rt else None
    with selection.open_file(args.file) as ozra_file:
        analysis = selection.qual_analysis(ozra_file, args)
        chosen = selection.conditions(analysis, args)
        if args.from_points:
            points = selection.merged([from_points(analysis, condition, rt_range, args.command) for condition in chosen])
        else:
            build = analysis.get_tic if args.command == "tic" else analysis.get_bpc
            points = selection.merged([build(condition, rt_range) for condition in chosen])
        if rt_range is not None and not points:
            raise CommandError(f"{args.file}: no spectrum of the chosen conditions lies in {args.rt[0]:g}-"
                               f"{args.rt[1]:g} min ({_time_span(analysis)})")
        name = "TIC" if args.command == "tic" else "BPC"
        emit(args, chromatogram_table(points),
             chromatogram_plot(f"{name} {condition_summary(chosen)}", [Series(None, *coordinates(points))]))
    return 0


@dataclasses.dataclass(frozen=True)
class PointFromPoints:
    spectrum_index: int
    retention_time: float
    intensity: float
    x: float | None


def from_points(analysis, condition, rt_range, command: str) -> list:
    """The TIC (the sum of every centroid point, through an extraction over all m/z) or the BPC (the
    largest point and its m/z) of one condition, rebuilt from the spectra's points."""
    import math

    import numpy

    from ozra_data_access.arrays import spectrum_view
    from ozra_data_access.common import ValueRange
    from ozra_data_access.qual import ChromatogramFilterOption

    every_mz = ChromatogramFilterOption(condition, ValueRange(-math.inf, math.inf), rt_range)
    sums = analysis.get_xic(every_mz)
    if command == "tic":
        return [PointFromPoints(p.spectrum_index, p.retention_time, p.intensity, None) for p in sums]
    points = []
    for summed in sums:
        view = spectrum_view(analysis.get_spectrum(summed.spectrum_index).get_spectrum_points())
        if len(view) == 0:
            points.append(PointFromPoints(summed.spectrum_index, summed.retention_time, 0.0, None))
            continue
        top = int(numpy.argmax(view["intensity"]))
        points.append(PointFromPoints(summed.spectrum_index, summed.retention_time, float(view["intensity"][top]),
                                      float(view["x"][top])))
    return points


def _time_span(analysis) -> str:
    count = analysis.get_spectra_count()
    if not count:
        return "the analysis has no spectra"
    first, last = analysis.get_spectrum(0).retention_time, analysis.get_spectrum(count - 1).retention_time
    return f"the analysis's spectra lie in {first:g}-{last:g} min"


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


def run_xic(args) -> int:
    from ozra_data_access.targets import TargetError, read_targets

    if args.mz and args.ppm is None and args.da is None:
        raise UsageError("one of the arguments --ppm --da is required for --mz (the window half-width)")
    defaults = {"ppm": args.ppm} if args.ppm is not None else {"da": args.da} if args.da is not None else {}
    if args.rt:
        defaults.update(rt_min=args.rt[0], rt_max=args.rt[1])
    rows = [{"id": f"{mz!r}", "mz": mz} for mz in args.mz or ()]
    try:
        targets = read_targets(rows, defaults) if rows else []
        if args.targets:
            targets += read_targets(args.targets, defaults)
    except TargetError as error:
        raise CommandError(f"{args.targets}: {error}" if args.targets and str(args.targets) not in str(error)
                           else str(error)) from None
    if not targets:
        raise UsageError("xic needs --mz M (one or more) or --targets FILE")
    with selection.open_file(args.file) as ozra_file:
        analysis = selection.qual_analysis(ozra_file, args)
        chosen = selection.conditions(analysis, args)
        # A target that names its MS level or polarity takes every condition it selects; the others
        # take the conditions chosen on the command line.
        per_target_conditions = [
            [c for c in analysis.unique_acquisition_conditions if target.selects(c)] if target.chooses_spectra
            else chosen for target in targets]
        requests = [target.request(condition)
                    for target, conditions in zip(targets, per_target_conditions) for condition in conditions]
        results = iter(analysis.get_multiple_xic(requests))
        per_target = [selection.merged([next(results) for _ in conditions]) for conditions in per_target_conditions]
    rows = [(target.id, target.mz, *row)
            for target, points in zip(targets, per_target)
            for row in chromatogram_table(points).rows]
    tolerance = (f"±{args.ppm!r} ppm" if args.ppm is not None else f"±{args.da!r} Da" if args.da is not None
                 else "tolerances of the targets")
    title = f"XIC {condition_summary(chosen)}, {tolerance}"
    emit(args, Table(("target", "mz") + POINT_COLUMNS, rows),
         chromatogram_plot(title, [Series(target.id, *coordinates(points))
                                   for target, points in zip(targets, per_target)]))
    return 0


def window(args, mz: float) -> tuple[float, float]:
    half = mz * args.ppm / 1e6 if args.ppm is not None else args.da
    return mz - half, mz + half
