"""What the subcommands share on their command lines: the parser, the common options, value parsers."""

from __future__ import annotations

import argparse

from ozra_data_access._internal._storage import POINT_ENCODINGS


class CommandError(Exception):
    """A failure the user can act on; its text is the whole message (it names the file itself)."""


class UsageError(CommandError):
    """A command line whose options do not fit together (exit status 2, like the parser's own errors)."""


class Parser(argparse.ArgumentParser):
    """An argument parser whose usage errors are one line (exit status 2)."""

    def error(self, message: str):
        self.exit(2, f"{self.prog}: error: {message} (see {self.prog} --help)\n")


def common_options() -> Parser:
    """The options every subcommand takes (a parent parser)."""
    common = Parser(add_help=False)
    # SUPPRESS keeps a subcommand from resetting a --debug given before its name.
    common.add_argument("--debug", action="store_true", default=argparse.SUPPRESS,
                        help="show the full traceback of an error")
    return common


def add_command(commands, common: Parser, name: str, run, help: str, description: str | None = None) -> Parser:
    """A subcommand parser that runs `run(args)`."""
    parser = commands.add_parser(name, parents=[common], help=help, description=description or help)
    parser.set_defaults(run=run)
    return parser


def add_point_encoding(parser: Parser) -> None:
    """--point-encoding of the converting commands."""
    # The storage module's table rather than the writer's name for it: the command line starts without numpy.
    parser.add_argument("--point-encoding", choices=POINT_ENCODINGS, default="zstd",
                        help="how spectrum points are stored (default zstd; zstd-shuffle is smaller, "
                             "readable only by readers that know it)")


def add_mzml_options(parser: Parser) -> None:
    """How the exporting commands write mzML binary arrays."""
    parser.add_argument("--compression", choices=("zlib", "none"), default="zlib",
                        help="compression of the mzML binary arrays (default zlib)")
    parser.add_argument("--precision", type=int, choices=(32, 64), default=64,
                        help="bits per value of the mzML binary arrays (default 64: every value exact)")
    parser.add_argument("--numpress", action="store_true",
                        help="MS-Numpress the mzML arrays: linear prediction for m/z, wavelengths and times, "
                             "short logged float for intensities (needs pynumpress; arrays with values below "
                             "zero are written without it)")


def add_file(parser: Parser) -> None:
    parser.add_argument("file", metavar="FILE", help="the Ozra file to read")


def add_analysis_choice(parser: Parser, kind: str) -> None:
    """--measurement and --analysis: which analysis of the file a command reads."""
    parser.add_argument("--measurement", type=non_negative_int, default=0, metavar="N",
                        help="index of the measurement (default 0; `ozra info` lists them)")
    parser.add_argument("--analysis", type=non_negative_int, default=0, metavar="N",
                        help=f"index of the {kind} analysis within the measurement (default 0)")


def add_condition_choice(parser: Parser) -> None:
    """Which acquisition conditions' spectra a chromatogram takes."""
    parser.add_argument("--condition", type=non_negative_int, metavar="I",
                        help="index of the acquisition condition as `ozra info --conditions` lists them")
    parser.add_argument("--ms-level", type=positive_int, metavar="L",
                        help="every condition of this MS level (default: the lowest level in the analysis)")
    parser.add_argument("--polarity", choices=("positive", "negative", "+", "-", "any"),
                        help="only conditions of this polarity, or any (default: the first condition's at that "
                             "level; a note on stderr names the others)")


def add_output(parser: Parser, plot: bool = True) -> None:
    """--csv and --plot: where the result goes besides the terminal's table."""
    parser.add_argument("--csv", metavar="FILE",
                        help="write the table as CSV to FILE ('-' for standard output) instead of printing it")
    if plot:
        parser.add_argument("--plot", metavar="FILE.png",
                            help="draw the result into a PNG image (needs matplotlib: the [plot] extra)")


def value_range(text: str) -> tuple[float, float]:
    """'A:B' as two floats with A <= B."""
    parts = text.split(":")
    if len(parts) != 2:
        raise argparse.ArgumentTypeError(f"expected START:END, got {text!r}")
    try:
        start, end = float(parts[0]), float(parts[1])
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected two numbers START:END, got {text!r}") from None
    if not start <= end:
        raise argparse.ArgumentTypeError(f"the start of {text!r} is beyond its end")
    return start, end


def positive_float(text: str) -> float:
    value = _number(text, float)
    if not value > 0:
        raise argparse.ArgumentTypeError(f"expected a number above 0, got {text!r}")
    return value


def non_negative_float(text: str) -> float:
    value = _number(text, float)
    if not value >= 0:
        raise argparse.ArgumentTypeError(f"expected a number of 0 or more, got {text!r}")
    return value


def non_negative_int(text: str) -> int:
    value = _number(text, int)
    if value < 0:
        raise argparse.ArgumentTypeError(f"expected a whole number of 0 or more, got {text!r}")
    return value


def positive_int(text: str) -> int:
    value = _number(text, int)
    if value < 1:
        raise argparse.ArgumentTypeError(f"expected a whole number of 1 or more, got {text!r}")
    return value


def _number(text: str, kind):
    try:
        return kind(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a {'whole ' if kind is int else ''}number, got {text!r}") from None
