"""The runs a viewer shows: every measurement of the Ozra files it was given, kept open while it serves.

Each run is one measurement; its analyses are looked up by index from the page's requests. The
readers are shared by the server's threads, so each file's reads are taken one at a time.
"""

from __future__ import annotations

import contextlib
import os
import threading
from dataclasses import dataclass, field
from typing import Any, Iterator


class RequestError(ValueError):
    """A request the page made that cannot be answered; its text is shown in the page."""


@dataclass
class Run:
    """One measurement of one open file."""

    name: str
    measurement: Any
    lock: threading.Lock
    # The run's retention-time and m/z extents per (analysis, condition), found once.
    extents: dict = field(default_factory=dict)

    def qual(self, index: int):
        return _analysis(self, "MS", self.measurement.get_qual_analysis_count(), self.measurement.get_qual_analysis, index)

    def dad(self, index: int):
        return _analysis(self, "DAD", self.measurement.get_dad_analysis_count(), self.measurement.get_dad_analysis, index)

    def trace(self, kind: str, analysis: int, index: int):
        getters = {"quan": (self.measurement.get_quan_analysis_count, self.measurement.get_quan_analysis),
                   "analog": (self.measurement.get_analog_analysis_count, self.measurement.get_analog_analysis)}
        if kind not in getters:
            raise RequestError(f"no trace kind {kind!r}: quan or analog")
        count, get = getters[kind]
        chosen = _analysis(self, kind, count(), get, analysis)
        if not 0 <= index < chosen.get_trace_count():
            raise RequestError(f"{self.name}: no trace {index} in {kind} analysis {analysis}")
        return chosen.get_trace(index)

    def condition(self, analysis, index: int):
        conditions = analysis.unique_acquisition_conditions
        if not 0 <= index < len(conditions):
            raise RequestError(f"{self.name}: no acquisition condition {index} (the analysis has {len(conditions)})")
        return conditions[index]


def _analysis(run: Run, what: str, count: int, get, index: int):
    if not 0 <= index < count:
        raise RequestError(f"{run.name}: no {what} analysis {index} (the run has {count})")
    return get(index)


class Runs:
    """The files given, open, and their measurements as runs (the file's name, with the
    measurement's index when the file holds several)."""

    def __init__(self, paths: list[str]):
        from ozra_data_access.access import OzraFile

        self._files = []
        self.runs: list[Run] = []
        try:
            for path in paths:
                ozra_file = OzraFile(path)
                self._files.append(ozra_file)
                lock = threading.Lock()
                count = ozra_file.get_measurement_count()
                for m in range(count):
                    name = os.path.basename(path) + (f" [{m}]" if count > 1 else "")
                    self.runs.append(Run(name, ozra_file.get_measurement(m), lock))
        except BaseException:
            self.close()
            raise

    def close(self) -> None:
        for ozra_file in self._files:
            ozra_file.close()
        self._files.clear()

    @contextlib.contextmanager
    def run(self, index: int) -> Iterator[Run]:
        """The run at `index`, its file's reads to itself for the block."""
        if not 0 <= index < len(self.runs):
            raise RequestError(f"no run {index}: the viewer shows {len(self.runs)}")
        chosen = self.runs[index]
        with chosen.lock:
            yield chosen
