"""Running one task per file on Dask, locally or on a cluster, with failed files as error rows."""

from __future__ import annotations

import contextlib
import sys
import uuid
from dataclasses import dataclass
from typing import Any, Callable, Optional, Sequence

import dask
import pandas

from ozra_data_access.batch.extract import frame, row_frame
from ozra_data_access.batch.output import write_part

# Dask's local schedulers, by the names dask.compute accepts; any other scheduler text is an address.
LOCAL_SCHEDULERS = ("threads", "processes", "sync", "synchronous", "single-threaded")

Work = Callable[..., dict[str, pandas.DataFrame]]


class FileTask:
    """One unit of work: `work(path, *args)` returns named tables; those named in `parts` are written
    by the worker to the Parquet file given there and not sent back.

    A plain class, not a dataclass: Dask walks into dataclasses (and the targets inside) when it
    builds a graph, which cost more than the work of a small file."""

    __slots__ = ("path", "work", "args", "parts")

    def __init__(self, path: str, work: Work, args: tuple = (), parts: Optional[dict[str, str]] = None):
        self.path = path
        self.work = work
        self.args = args
        self.parts = parts or {}

    def writing(self, parts: dict[str, str]) -> "FileTask":
        """The same work, its tables named in `parts` written to those paths."""
        return FileTask(self.path, self.work, self.args, parts)


@dataclass
class Outcome:
    """What a task sends back: its tables, or the error row of its file."""

    path: str
    tables: dict[str, pandas.DataFrame]
    error: Optional[dict[str, str]] = None


def error_row(path: str, error: BaseException) -> dict[str, str]:
    return {"file": path, "error": type(error).__name__, "message": str(error)}


def run_task(task: FileTask) -> Outcome:
    """Runs one task where it is scheduled; any failure of the file becomes the outcome's error."""
    try:
        tables = task.work(task.path, *task.args)
        for name, part in task.parts.items():
            write_part(tables.pop(name), part)
    except Exception as error:  # one file's failure, whatever it is, must not stop the others
        return Outcome(task.path, {}, error_row(task.path, error))
    return Outcome(task.path, tables)


def _progress_to_stderr():
    return contextlib.redirect_stdout(sys.stderr)


def _run_local(graph: list, scheduler: str, progress: bool) -> list[Outcome]:
    from dask.diagnostics import ProgressBar

    with ProgressBar(out=sys.stderr) if progress else contextlib.nullcontext():
        return list(dask.compute(*graph, scheduler=scheduler))


def _run_on_client(client: Any, graph: list, tasks: Sequence[FileTask], progress: bool) -> list[Outcome]:
    import distributed

    futures = client.compute(graph)
    if progress:
        with _progress_to_stderr():
            distributed.progress(futures, notebook=False)
    outcomes = []
    for task, future in zip(tasks, futures):
        try:
            outcomes.append(future.result())
        except Exception as error:  # a lost worker or a task that died with it
            outcomes.append(Outcome(task.path, {}, error_row(task.path, error)))
    return outcomes


def run_tasks(tasks: Sequence[FileTask], *, client: Any = None, scheduler: Optional[str] = None,
              progress: bool = False) -> list[Outcome]:
    """The outcomes of `tasks`, in task order.

    `client`: a distributed.Client to run on. `scheduler`: one of Dask's local schedulers
    ("threads", the default, "processes", "sync") or the address of a running distributed scheduler
    ("tcp://host:8786"), to which a client is connected for this call. `progress`: Dask's own progress
    bar on stderr.
    """
    if client is not None and scheduler is not None:
        raise ValueError("give a client or a scheduler, not both")
    call = uuid.uuid4().hex  # keys of their own: a cluster keeps the results of earlier calls' keys
    graph = [dask.delayed(run_task)(task, dask_key_name=f"ozra-file-{number}-{call}") for number, task in enumerate(tasks)]
    if client is not None:
        return _run_on_client(client, graph, tasks, progress)
    if scheduler is None or scheduler in LOCAL_SCHEDULERS:
        return _run_local(graph, scheduler or "threads", progress)
    import distributed

    with distributed.Client(scheduler) as connected:
        return _run_on_client(connected, graph, tasks, progress)


def errors_frame(outcomes: Sequence[Outcome]) -> pandas.DataFrame:
    """One row per failed file (a file whose several tasks failed alike is named once)."""
    rows = [outcome.error for outcome in outcomes if outcome.error is not None]
    return row_frame("errors", rows).drop_duplicates(ignore_index=True)


def gathered(outcomes: Sequence[Outcome], name: str) -> pandas.DataFrame:
    """The table `name` of every outcome, one after the other in task order."""
    pieces = [outcome.tables[name] for outcome in outcomes if name in outcome.tables]
    if not pieces:
        return frame(name)
    return pandas.concat(pieces, ignore_index=True) if len(pieces) > 1 else pieces[0]
