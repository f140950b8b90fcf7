"""The `ozra` command: walk an Ozra file, generate a sample and walk it, or convert an mzML file."""

from __future__ import annotations

import argparse
import os
import sys
import tempfile
import time


def walk(path: str, out=None) -> None:
    """Print the versions, measurements, analyses and counts of the file at `path`."""
    out = out or sys.stdout
    from ozra_data_access.access import OzraFile

    with OzraFile(path) as ozra_file:
        print(f"file              {ozra_file}", file=out)
        print(f"format version    {ozra_file.get_file_format_version()}", file=out)
        print(f"converter version {ozra_file.get_converter_version()}", file=out)
        print(f"measurements      {ozra_file.get_measurement_count()}", file=out)
        for m_index in range(ozra_file.get_measurement_count()):
            measurement = ozra_file.get_measurement(m_index)
            print(f"  measurement {m_index}: {measurement}", file=out)
            for q_index in range(measurement.get_qual_analysis_count()):
                analysis = measurement.get_qual_analysis(q_index)
                print(f"    MS analysis {analysis}", file=out)
                for condition in analysis.unique_acquisition_conditions:
                    tic = analysis.get_tic(condition)
                    total = sum(point.intensity for point in tic)
                    print(f"      {condition}: {len(tic)} spectra, summed TIC {total:.4g}", file=out)
                show_spectrum_and_xic(analysis, out)
            for d_index in range(measurement.get_dad_analysis_count()):
                analysis = measurement.get_dad_analysis(d_index)
                print(f"    DAD analysis {analysis}", file=out)
                show_dad_chromatograms(analysis, out)
            for kind, count in (
                ("quantitative", measurement.get_quan_analysis_count()),
                ("analog", measurement.get_analog_analysis_count()),
            ):
                if count:
                    print(f"    {count} {kind} analyses", file=out)


def middle_retention_time(analysis) -> float | None:
    """The retention time halfway through the analysis's run, or None without spectra."""
    count = analysis.get_spectra_count()
    times = [analysis.get_spectrum(i).retention_time for i in (0, count - 1)] if count else []
    times = [t for t in times if t is not None]
    return sum(times) / len(times) if times else None


def show_spectrum_and_xic(analysis, out) -> None:
    """The spectrum nearest the middle of the run, and the XIC of its base peak."""
    from ozra_data_access.common import ValueRange
    from ozra_data_access.qual import ChromatogramFilterOption

    middle = middle_retention_time(analysis)
    if middle is None:
        return
    spectrum = analysis.find_nearest_spectrum(middle)
    points = spectrum.get_spectrum_points()
    print(f"      nearest spectrum to {middle:.3f} min: {spectrum} at {spectrum.retention_time:.3f} min", file=out)
    if len(points) == 0:
        return
    base = max(range(len(points)), key=lambda i: points[i].intensity)
    mz = points[base].x
    request = ChromatogramFilterOption(spectrum.acquisition_condition, ValueRange(mz - 0.01, mz + 0.01))
    xic = analysis.get_xic(request)
    apex = max(xic, key=lambda point: point.intensity)
    print(f"      XIC of m/z {mz:.4f} +/- 0.01: {len(xic)} points, apex {apex.intensity:.4g} "
          f"at {apex.retention_time:.3f} min", file=out)


def show_dad_chromatograms(analysis, out) -> None:
    """The 250-260 nm chromatogram and the max plot of the whole range."""
    from ozra_data_access.common import ValueRange

    for name, points in (
        ("chromatogram 250-260 nm", analysis.get_chromatogram(ValueRange(250.0, 260.0))),
        ("max plot 190-600 nm", analysis.get_max_plot(ValueRange(190.0, 600.0), 2.0)),
    ):
        if points:
            apex = max(points, key=lambda point: point.intensity)
            print(f"      {name}: {len(points)} points, apex {apex.intensity:.4g} at "
                  f"{apex.retention_time:.3f} min ({apex.x:.1f} nm)", file=out)


def demo(args: argparse.Namespace) -> int:
    """Generate a sample file and walk it."""
    from ozra_data_access.samples import write_sample

    folder = args.output_dir or tempfile.mkdtemp(prefix="ozra-demo-")
    path = os.path.join(folder, "sample.ozra")
    started = time.perf_counter()
    write_sample(path, seed=args.seed)
    print(f"wrote {path} ({os.path.getsize(path):,} bytes) in {time.perf_counter() - started:.2f} s")
    walk(path)
    return 0


def show(args: argparse.Namespace) -> int:
    """Walk an existing file."""
    walk(args.path)
    return 0


def convert(args: argparse.Namespace) -> int:
    """Convert an mzML file and report what it held."""
    from ozra_data_access.convert import MzmlConversion

    started = time.perf_counter()
    conversion = MzmlConversion(args.source, point_encoding=args.point_encoding, intensity_width=args.intensity_width)
    conversion.write(args.target)
    print(f"wrote {args.target} ({os.path.getsize(args.target):,} bytes) in {time.perf_counter() - started:.2f} s: "
          f"{conversion.ms_spectra} MS spectra, {conversion.dad_spectra} DAD spectra, "
          f"{conversion.quan_traces} quantitative traces, {conversion.analog_traces} analog traces")
    if conversion.sorted_ids:
        print(f"{len(conversion.sorted_ids)} spectra or chromatograms had x values out of order and were sorted")
    for identifier, reason in conversion.skipped_chromatograms:
        print(f"chromatogram {identifier!r} not stored: {reason}")
    return 0


def main(argv: list[str] | None = None) -> int:
    """Entry point of the `ozra` command."""
    parser = argparse.ArgumentParser(prog="ozra", description=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    demo_parser = commands.add_parser("demo", help="generate a sample file and walk it")
    demo_parser.add_argument("--output-dir", help="where to write sample.ozra (default: a new temporary folder)")
    demo_parser.add_argument("--seed", type=int, default=7, help="seed of the generated sample")
    demo_parser.set_defaults(run=demo)
    show_parser = commands.add_parser("show", help="walk an Ozra file")
    show_parser.add_argument("path")
    show_parser.set_defaults(run=show)
    convert_parser = commands.add_parser("convert", help="convert an mzML file (.mzML or .mzML.gz) to an Ozra file")
    convert_parser.add_argument("source")
    convert_parser.add_argument("target")
    convert_parser.add_argument("--point-encoding", choices=("zstd", "raw"), default="zstd")
    convert_parser.add_argument("--intensity-width", type=int, choices=(4, 8), default=None,
                                help="bytes per stored intensity (default: 4 where that keeps every value, else 8)")
    convert_parser.set_defaults(run=convert)
    args = parser.parse_args(argv)
    return args.run(args)
