"""`ozra spectrum`: the points of one mass spectrum."""

from __future__ import annotations

from ozra_data_access.cli import selection
from ozra_data_access.cli.arguments import (
    CommandError, add_analysis_choice, add_command, add_file, add_output, non_negative_float, non_negative_int,
)
from ozra_data_access.cli.output import Plot, Series, Table, emit, status


def register(commands, common) -> None:
    parser = add_command(commands, common, "spectrum", run, help="the points of one mass spectrum",
                         description="The (m/z, intensity) points of one spectrum of an MS analysis, chosen by its "
                                     "index or as the one nearest a retention time.")
    add_file(parser)
    add_analysis_choice(parser, "MS")
    which = parser.add_mutually_exclusive_group(required=True)
    which.add_argument("--index", type=non_negative_int, metavar="I", help="the spectrum's index in the analysis")
    which.add_argument("--rt", type=non_negative_float, metavar="T",
                       help="take the spectrum nearest this retention time (minutes)")
    parser.add_argument("--profile", action="store_true",
                        help="the profile points instead of the centroid points")
    add_output(parser)


def run(args) -> int:
    with selection.open_file(args.file) as ozra_file:
        analysis = selection.qual_analysis(ozra_file, args)
        count = analysis.get_spectra_count()
        if count == 0:
            raise CommandError(f"{args.file}: the MS analysis has no spectra")
        if args.index is not None and args.index >= count:
            raise CommandError(f"{args.file}: no spectrum {args.index}: the analysis has {count} (0 to {count - 1})")
        spectrum = analysis.get_spectrum(args.index) if args.index is not None else analysis.find_nearest_spectrum(args.rt)
        points = spectrum.get_profile_spectrum_points() if args.profile else spectrum.get_spectrum_points()
        x = [point.x for point in points]
        intensity = [point.intensity for point in points]
        label = selection.condition_label(spectrum.acquisition_condition)
        if args.index is None:
            # Which spectrum the nearest one is: the time asked for may lie far outside the run.
            status(f"the spectrum nearest {args.rt!r} min: spectrum {spectrum.index} at {spectrum.retention_time!r} "
                   f"min, MS level {spectrum.acquisition_condition.ms_level}")
    kind = "profile" if args.profile else "centroid"
    title = f"spectrum {spectrum.index} ({label}, {kind}) at {spectrum.retention_time} min"
    emit(args, Table(("mz", "intensity"), list(zip(x, intensity))),
         Plot(title, "m/z", "intensity", [Series(None, x, intensity)], sticks=not args.profile))
    return 0
