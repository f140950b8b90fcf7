"""`ozra trace`: the traces of quantitative (targeted MS) and analog-detector analyses."""

from __future__ import annotations

from ozra_data_access.cli import selection
from ozra_data_access.cli.arguments import (
    CommandError, add_command, add_file, add_output, non_negative_int,
)
from ozra_data_access.cli.chromatograms import chromatogram_plot
from ozra_data_access.cli.output import Series, Table, emit

KINDS = {"quan": ("quantitative", "get_quan_analysis_count", "get_quan_analysis"),
         "analog": ("analog", "get_analog_analysis_count", "get_analog_analysis")}


def register(commands, common) -> None:
    parser = add_command(commands, common, "trace", run, help="list or read the traces of quantitative and analog analyses",
                         description="Without --trace: every trace of the file's quantitative and analog analyses. "
                                     "With --trace: the chosen traces' points (retention time, intensity).")
    add_file(parser)
    parser.add_argument("--measurement", type=non_negative_int, default=0, metavar="N",
                        help="index of the measurement (default 0)")
    parser.add_argument("--kind", choices=tuple(KINDS), default="quan",
                        help="with --trace: a quantitative (quan, the default) or an analog analysis")
    parser.add_argument("--analysis", type=non_negative_int, default=0, metavar="N",
                        help="with --trace: index of the analysis of that kind (default 0)")
    parser.add_argument("--trace", type=non_negative_int, action="append", metavar="I",
                        help="the trace to read (repeat for several; `ozra trace FILE` lists them)")
    add_output(parser)


def run(args) -> int:
    with selection.open_file(args.file) as ozra_file:
        measurement = selection.measurement(ozra_file, args)
        if args.trace is None:
            listed = trace_list(measurement, args.measurement)
            if not listed.rows:
                raise CommandError(f"{args.file}: measurement {args.measurement} holds no traces "
                                   "(no quantitative or analog analysis)")
            emit(args, listed)
            return 0
        traces = chosen_traces(measurement, args)
        read = [(trace, trace.retention_times, trace.intensities) for trace in traces]
    rows = [(trace.index, trace.label, float(rt), float(value))
            for trace, times, values in read for rt, value in zip(times.tolist(), values.tolist())]
    emit(args, Table(("trace", "label", "retention_time", "intensity"), rows),
         chromatogram_plot(f"{KINDS[args.kind][0]} analysis {args.analysis}",
                           [Series(trace.label, times, values) for trace, times, values in read]))
    return 0


def trace_list(measurement, m: int) -> Table:
    rows = []
    for kind, (name, count, get) in KINDS.items():
        for a in range(getattr(measurement, count)()):
            for trace in getattr(measurement, get)(a).traces:
                rows.append((m, kind, a, trace.index, trace.label, trace.detector_type, trace.unit))
    return Table(("measurement", "kind", "analysis", "trace", "label", "detector", "unit"), rows)


def chosen_traces(measurement, args) -> list:
    name, count, get = KINDS[args.kind]
    available = getattr(measurement, count)()
    if args.analysis >= available:
        raise CommandError(f"{args.file}: no {name} analysis {args.analysis}: measurement {args.measurement} has "
                           + (f"{available}" if available else "none"))
    analysis = getattr(measurement, get)(args.analysis)
    traces = analysis.get_trace_count()
    for index in args.trace:
        if index >= traces:
            raise CommandError(f"{args.file}: no trace {index}: {name} analysis {args.analysis} has {traces}")
    return [analysis.get_trace(index) for index in args.trace]
