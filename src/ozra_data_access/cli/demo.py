"""`ozra demo` and `ozra show`: a generated sample walked end to end, or any file walked the same way."""

from __future__ import annotations

import os
import shutil
import sys
import tempfile
import time

from ozra_data_access.cli.arguments import add_command, add_file


def register(commands, common) -> None:
    parser = add_command(commands, common, "demo", demo, help="generate a sample file and walk it",
                         description="Generate a sample measurement, print its walk, and remove it again unless "
                                     "--output-dir names where to keep it.")
    parser.add_argument("--output-dir", metavar="DIR", help="keep sample.ozra in DIR (default: a temporary folder, "
                                                            "removed after the walk)")
    parser.add_argument("--seed", type=int, default=7, help="seed of the generated sample (default 7)")
    parser = add_command(commands, common, "show", show, help="walk a file: every analysis with a sample of its data")
    add_file(parser)


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
                show_condition_groups(analysis, out)
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


def show_condition_groups(analysis, out) -> None:
    """Each condition with its TIC sum; the conditions of an MS level and polarity that has many
    (one per precursor in DDA runs) on one line."""
    from ozra_data_access.cli.info import group_key, group_note

    groups: dict[tuple, list] = {}
    for condition in analysis.unique_acquisition_conditions:
        groups.setdefault(group_key(condition), []).append(condition)
    for conditions in groups.values():
        tics = [analysis.get_tic(condition) for condition in conditions]
        spectra = sum(len(tic) for tic in tics)
        total = sum(point.intensity for tic in tics for point in tic)
        print(f"      {group_note(conditions)}: {spectra} spectra, summed TIC {total:.4g}", file=out)


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


def demo(args) -> int:
    """Generate a sample file, walk it, and remove it unless --output-dir keeps it."""
    from ozra_data_access.samples import write_sample

    folder = args.output_dir or tempfile.mkdtemp(prefix="ozra-demo-")
    path = os.path.join(folder, "sample.ozra")
    try:
        started = time.perf_counter()
        write_sample(path, seed=args.seed)
        print(f"wrote {path} ({os.path.getsize(path):,} bytes) in {time.perf_counter() - started:.2f} s")
        walk(path)
    finally:
        if not args.output_dir:
            shutil.rmtree(folder, ignore_errors=True)
    print(f"kept {path}" if args.output_dir else f"removed {folder} (keep the sample with --output-dir DIR)",
          file=sys.stderr)
    return 0


def show(args) -> int:
    """Walk an existing file."""
    walk(args.file)
    return 0
