"""Results out: a table on the terminal, CSV, and a picture.

Numbers are written in their shortest exact form (repr), so that a CSV read back gives the library's
values to the last bit; a missing value is an empty CSV field and '-' in the table.
"""

from __future__ import annotations

import contextlib
import csv
import dataclasses
import io
import os
import sys
from typing import Any, Iterator, Sequence

from ozra_data_access.cli.arguments import CommandError
from ozra_data_access.writer.atomic import atomic_output


@dataclasses.dataclass
class Table:
    columns: Sequence[str]
    rows: Sequence[Sequence[Any]]


@dataclasses.dataclass
class Series:
    label: str | None
    x: Sequence[float]
    y: Sequence[float]


@dataclasses.dataclass
class Plot:
    title: str
    x_label: str
    y_label: str
    series: Sequence[Series]
    sticks: bool = False  # a mass spectrum: one vertical line per point


def emit(args, table: Table, plot: Plot | None = None) -> None:
    """Print the table, or write it as CSV (--csv), and draw the plot (--plot)."""
    csv_target = getattr(args, "csv", None)
    plot_target = getattr(args, "plot", None)
    if plot_target is not None and plot is not None:
        write_plot(plot_target, plot)
        status(f"wrote {plot_target}")
    if csv_target == "-":
        write_csv(sys.stdout, table)
    elif csv_target is not None:
        with atomic_output(csv_target) as raw:
            text = io.TextIOWrapper(raw, encoding="utf-8", newline="")
            write_csv(text, table)
            text.flush()
            text.detach()  # the atomic writer closes the file itself
        status(f"wrote {csv_target} ({len(table.rows):,} rows)")
    elif plot_target is None:
        print_table(table)


def status(line: str) -> None:
    """A note for the user, kept off standard output (which may carry CSV)."""
    print(line, file=sys.stderr)


def cell(value: Any) -> str:
    if value is None:
        return ""
    if isinstance(value, float):
        return repr(value)
    return str(value)


def write_csv(out, table: Table) -> None:
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(table.columns)
    writer.writerows([cell(value) for value in row] for row in table.rows)


def print_table(table: Table, out=None) -> None:
    """Aligned columns: numbers to the right, text to the left."""
    out = out or sys.stdout
    texts = [[cell(value) or "-" for value in row] for row in table.rows]
    widths = [max([len(name)] + [len(row[i]) for row in texts]) for i, name in enumerate(table.columns)]
    numeric = [all(isinstance(row[i], (int, float)) or row[i] is None for row in table.rows)
               for i in range(len(table.columns))]

    def line(values):
        parts = [value.rjust(width) if right else value.ljust(width)
                 for value, width, right in zip(values, widths, numeric)]
        return "  ".join(parts).rstrip()

    out.write(line(table.columns) + "\n")
    for row in texts:
        out.write(line(row) + "\n")


def write_plot(path: str, plot: Plot) -> None:
    """The plot as an image; the format follows the file name's suffix (PNG when it has none)."""
    try:
        import matplotlib
    except ImportError:
        raise CommandError("--plot needs matplotlib: pip install 'ozra_data_access[plot]'") from None
    matplotlib.use("Agg")
    from matplotlib.figure import Figure

    figure = Figure(figsize=(8, 4), dpi=100, layout="constrained")
    axes = figure.add_subplot()
    for series in plot.series:
        if plot.sticks:
            axes.vlines(series.x, 0, series.y, linewidth=0.8, label=series.label)
        else:
            axes.plot(series.x, series.y, linewidth=1.0, label=series.label)
    axes.set_title(plot.title)
    axes.set_xlabel(plot.x_label)
    axes.set_ylabel(plot.y_label)
    axes.ticklabel_format(axis="y", style="sci", scilimits=(-3, 4))
    if any(series.label for series in plot.series):
        axes.legend(fontsize="small")
    suffix = os.path.splitext(path)[1].lstrip(".").lower() or "png"
    if suffix not in figure.canvas.get_supported_filetypes():
        raise CommandError(f"{path}: cannot draw a .{suffix} picture; name the file .png")
    with atomic_output(path) as file:
        figure.savefig(file, format=suffix)


@contextlib.contextmanager
def progress_bar(description: str, unit: str = "spectra") -> Iterator:
    """A `progress(done, total)` callback drawing a bar on stderr when it is a terminal, else None."""
    if not sys.stderr.isatty():
        yield None
        return
    from tqdm import tqdm

    with tqdm(desc=description, unit=f" {unit}", leave=False, file=sys.stderr) as bar:
        def progress(done: int, total: int | None) -> None:
            if total is not None and bar.total != total:
                bar.total = total
            bar.update(done - bar.n)

        yield progress
