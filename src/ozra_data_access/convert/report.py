"""What a conversion stored, and what it could not store."""

from __future__ import annotations

import os
from dataclasses import dataclass, field


@dataclass
class ConversionReport:
    """The outcome of one conversion.

    `analyses` has one line per analysis written ("MS analysis 0: 1,688 spectra, 3 conditions"),
    read back from the written file; `not_stored` lists (what, reason) for each part of the
    source that was left out; `notes` lists what was changed on the way (points sorted, peaks
    picked). `str(report)` is a readable summary of all of it.
    """

    source: str
    target: str
    analyses: list = field(default_factory=list)
    not_stored: list = field(default_factory=list)
    notes: list = field(default_factory=list)
    spectra: int = 0
    seconds: float = 0.0

    def __str__(self) -> str:
        size = os.path.getsize(self.target) if os.path.exists(self.target) else 0
        lines = [f"{self.source} -> {self.target} ({size:,} bytes, {self.seconds:.2f} s)"]
        lines += [f"  {line}" for line in self.analyses] or ["  no analyses"]
        lines += [f"  note: {note}" for note in self.notes]
        if self.not_stored:
            lines.append("not stored:")
            lines += [f"  {what}: {reason}" for what, reason in self.not_stored]
        return "\n".join(lines)


def describe_analyses(path: str) -> list:
    """One line per analysis of the Ozra file at `path`, read back through the public classes."""
    from ozra_data_access.access import OzraFile

    lines = []
    with OzraFile(path) as ozra_file:
        several = ozra_file.get_measurement_count() > 1
        for m_index in range(ozra_file.get_measurement_count()):
            measurement = ozra_file.get_measurement(m_index)
            prefix = f"measurement {m_index}, " if several else ""
            for index in range(measurement.get_qual_analysis_count()):
                analysis = measurement.get_qual_analysis(index)
                conditions = len(analysis.unique_acquisition_conditions)
                lines.append(f"{prefix}MS analysis {index}: {analysis.get_spectra_count():,} spectra, "
                             f"{conditions:,} condition{_plural(conditions)}")
            for index in range(measurement.get_dad_analysis_count()):
                analysis = measurement.get_dad_analysis(index)
                lines.append(f"{prefix}DAD analysis {index}: {analysis.get_spectra_count():,} spectra")
            for kind, count, get in (("quantitative", measurement.get_quan_analysis_count(),
                                      measurement.get_quan_analysis),
                                     ("analog", measurement.get_analog_analysis_count(),
                                      measurement.get_analog_analysis)):
                for index in range(count):
                    traces = get(index).traces
                    names = ", ".join(trace.label for trace in traces[:3]) + (", ..." if len(traces) > 3 else "")
                    lines.append(f"{prefix}{kind} analysis {index}: {len(traces):,} trace{_plural(len(traces))}"
                                 + (f" ({names})" if names else ""))
    return lines


def _plural(count: int) -> str:
    return "" if count == 1 else "s"
