"""The `ozra` command: look into Ozra files, take chromatograms and spectra out, convert and verify.

Every subcommand lives in a module of this package with a `register(commands, common)` function that
adds its parser; `main` builds the parser from the modules named in COMMANDS and turns every failure
into one line on stderr (exit status 1; 2 for a usage error) unless --debug asks for the traceback.
"""

from __future__ import annotations

import contextlib
import importlib
import os
import signal
import sys
import threading
from typing import Iterator

from ozra_data_access.cli.arguments import CommandError, Parser, UsageError, common_options

# The subcommand modules, in the order `ozra --help` lists them.
COMMANDS = ("info", "chromatograms", "spectrum", "dad", "trace", "view", "convert", "export", "verify", "batch", "demo")

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


class Stopped(BaseException):
    """The process was asked to stop (SIGTERM, SIGHUP): raised where it runs, so that what it was
    writing is cleaned up as for an interruption."""

    def __init__(self, signum: int):
        super().__init__(signum)
        self.signum = signum


@contextlib.contextmanager
def stop_on_signals() -> Iterator[None]:
    """Turns SIGTERM and SIGHUP into `Stopped` for the block (in the main thread, where the handlers
    of a signal the process still leaves to the system default are set, and restored after)."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    def stop(signum, frame):
        raise Stopped(signum)

    previous = {}
    for name in ("SIGTERM", "SIGHUP"):
        number = getattr(signal, name, None)
        if number is not None and signal.getsignal(number) is signal.SIG_DFL:
            previous[number] = signal.signal(number, stop)
    try:
        yield
    finally:
        for number, handler in previous.items():
            signal.signal(number, handler)


def main(argv: list[str] | None = None) -> int:
    """Entry point of the `ozra` command; returns the exit status."""
    args = build_parser().parse_args(argv)
    try:
        with stop_on_signals():
            return args.run(args)
    except Stopped as stopped:
        _report(f"ozra {args.command}: stopped by {signal.Signals(stopped.signum).name}")
        return 128 + stopped.signum
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
