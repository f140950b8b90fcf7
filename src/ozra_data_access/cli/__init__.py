"""The `ozra` command: look into Ozra files, take chromatograms and spectra out, convert and verify.

Every subcommand lives in a module of this package with a `register(commands, common)` function that
adds its parser; `main` builds the parser from the modules named in COMMANDS and turns every failure
into one line on stderr (exit status 1; 2 for a usage error) unless --debug asks for the traceback.
"""

from __future__ import annotations

import importlib
import os
import sys

from ozra_data_access.cli.arguments import CommandError, Parser, UsageError, common_options

# The subcommand modules, in the order `ozra --help` lists them.
COMMANDS = ("info", "chromatograms", "spectrum", "dad", "trace", "convert", "verify", "batch", "demo")

# 128 + SIGPIPE, what a command killed by a closed pipe reports to the shell.
CLOSED_PIPE_STATUS = 141
INTERRUPTED_STATUS = 130


def build_parser() -> Parser:
    """The `ozra` parser with every subcommand registered."""
    from ozra_data_access import __version__

    parser = Parser(prog="ozra", description="Look into Ozra files: chromatograms, spectra, conversion, checks.")
    parser.add_argument("--version", action="version", version=f"ozra {__version__}")
    parser.add_argument("--debug", action="store_true", help="show the full traceback of an error")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND", help="the command to run")
    common = common_options()
    for name in COMMANDS:
        importlib.import_module(f"{__name__}.{name}").register(commands, common)
    return parser


def main(argv: list[str] | None = None) -> int:
    """Entry point of the `ozra` command; returns the exit status."""
    args = build_parser().parse_args(argv)
    try:
        return args.run(args)
    except BrokenPipeError:
        return _closed_pipe()
    except UsageError as error:
        _report(f"ozra {args.command}: error: {error} (see ozra {args.command} --help)")
        return 2
    except KeyboardInterrupt:
        if args.debug:
            raise
        print("ozra: interrupted", file=sys.stderr)
        return INTERRUPTED_STATUS
    except Exception as error:  # noqa: BLE001 - every failure becomes one line unless --debug
        if args.debug:
            raise
        _report(f"ozra {args.command}: {describe(error, args)}")
        return 1


def describe(error: BaseException, args) -> str:
    """One line naming the file concerned and what is wrong with it."""
    if isinstance(error, CommandError):
        return str(error)
    if isinstance(error, OSError) and error.strerror:
        where = error.filename if error.filename is not None else getattr(args, "file", None)
        return f"{os.fsdecode(where)}: {error.strerror}" if where is not None else error.strerror
    text = " ".join(str(error).split()) or type(error).__name__
    where = getattr(args, "file", None)
    return text if where is None or str(where) in text else f"{where}: {text}"


def _report(line: str) -> None:
    try:
        print(line, file=sys.stderr)
    except BrokenPipeError:
        pass


def _closed_pipe() -> int:
    """The reader of stdout went away: stop quietly, and keep the interpreter's final flush quiet too."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)
    return CLOSED_PIPE_STATUS
