"""`ozra dad`: wavelength chromatograms and max plots of a DAD analysis."""

from __future__ import annotations

from ozra_data_access.cli import selection
from ozra_data_access.cli.arguments import (
    CommandError, UsageError, add_analysis_choice, add_command, add_file, add_output, non_negative_float, value_range,
)
from ozra_data_access.cli.chromatograms import chromatogram_plot, chromatogram_table, coordinates
from ozra_data_access.cli.output import Series, emit


def register(commands, common) -> None:
    parser = add_command(commands, common, "dad", run, help="a wavelength chromatogram or max plot of a DAD analysis",
                         description="The absorbance chromatogram of a wavelength window (--wavelength), or the "
                                     "max plot of a window (--max-plot with --tolerance): one point per DAD spectrum; "
                                     "x is the wavelength the value was found at.")
    add_file(parser)
    add_analysis_choice(parser, "DAD")
    which = parser.add_mutually_exclusive_group(required=True)
    which.add_argument("--wavelength", type=value_range, metavar="A:B",
                       help="mean absorbance over the window from A to B nm")
    which.add_argument("--max-plot", type=value_range, metavar="A:B",
                       help="the highest absorbance inside the window from A to B nm (needs --tolerance)")
    parser.add_argument("--tolerance", type=non_negative_float, metavar="T",
                        help="wavelength tolerance of the max plot, in nm")
    add_output(parser)


# The x of every point of a chromatogram whose window holds none of the analysis's wavelengths.
NO_WAVELENGTH = -1.0


def _covered(analysis) -> str:
    points = analysis.get_spectrum(0).get_spectrum_points()
    return f"{points[0].x:g}-{points[len(points) - 1].x:g} nm" if len(points) else "no wavelengths"


def run(args) -> int:
    from ozra_data_access.common import ValueRange

    if args.max_plot is not None and args.tolerance is None:
        raise UsageError("--max-plot needs --tolerance T")
    if args.wavelength is not None and args.tolerance is not None:
        raise UsageError("--tolerance belongs to --max-plot; leave it out of a --wavelength chromatogram")
    with selection.open_file(args.file) as ozra_file:
        analysis = selection.dad_analysis(ozra_file, args)
        if args.wavelength is not None:
            points = analysis.get_chromatogram(ValueRange(*args.wavelength))
            title = "DAD {:g}-{:g} nm".format(*args.wavelength)
        else:
            points = analysis.get_max_plot(ValueRange(*args.max_plot), args.tolerance)
            title = "DAD max plot {:g}-{:g} nm".format(*args.max_plot)
        if points and all(point.x == NO_WAVELENGTH for point in points):
            raise CommandError(f"{args.file}: no wavelength of DAD analysis {analysis.index} lies in "
                               "{:g}-{:g} nm".format(*(args.wavelength or args.max_plot))
                               + f" (it covers {_covered(analysis)})")
    emit(args, chromatogram_table(points), chromatogram_plot(title, [Series(None, *coordinates(points))]))
    return 0
