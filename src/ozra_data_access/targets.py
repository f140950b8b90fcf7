"""The target table of a targeted extraction (`ozra xic --targets`, `ozra batch xic`, the batch
layer): what to extract, checked before any file is read.

One CSV format, a header row naming the columns:

    id, mz, ppm | da, rt_min, rt_max, ms_level, polarity

`id` names the target, `mz` is the centre of its window, `ppm` or `da` its half-width (exactly one
per row; a command's --ppm/--da stand for rows that give neither), `rt_min`/`rt_max` an optional
retention-time window in minutes (either end may be open), `ms_level` the MS level of the spectra
(empty: MS1), `polarity` positive or negative (+, -, 1, 2; empty: either). The names `name`,
`rt_start` and `rt_end` of earlier tables are accepted for `id`, `rt_min` and `rt_max`. Any other
column is refused, naming it and the accepted ones.
"""

from __future__ import annotations

import csv
import math
import os
from dataclasses import dataclass
from typing import Any, Iterable, Mapping, Optional, Union

from ozra_data_access._internal._enum import PolarityTypes

TARGET_COLUMNS = ("id", "mz", "ppm", "da", "rt_min", "rt_max", "ms_level", "polarity")
#: Earlier names of columns, read as the column they stand for.
COLUMN_ALIASES = {"name": "id", "rt_start": "rt_min", "rt_end": "rt_max"}

_POLARITY_NAMES = {
    "positive": PolarityTypes.POSITIVE, "pos": PolarityTypes.POSITIVE, "+": PolarityTypes.POSITIVE,
    "1": PolarityTypes.POSITIVE,
    "negative": PolarityTypes.NEGATIVE, "neg": PolarityTypes.NEGATIVE, "-": PolarityTypes.NEGATIVE,
    "2": PolarityTypes.NEGATIVE,
}


class TargetError(ValueError):
    """A target table that cannot be used; the message names the row and the column."""


@dataclass(frozen=True)
class Target:
    """One compound to extract: an m/z window, an optional retention-time window (minutes), and
    which spectra: `ms_level` None means MS1, `polarity` None means either polarity."""

    id: str
    mz_min: float
    mz_max: float
    rt_min: Optional[float] = None
    rt_max: Optional[float] = None
    ms_level: Optional[int] = None
    polarity: Optional[PolarityTypes] = None
    mz: Optional[float] = None  # the centre of the window, as the table gave it

    def selects(self, condition: Any) -> bool:
        """Whether spectra of the acquisition condition `condition` belong to this target."""
        if condition.ms_level != (1 if self.ms_level is None else self.ms_level):
            return False
        return self.polarity is None or condition.polarity == self.polarity

    @property
    def has_retention_time_window(self) -> bool:
        return self.rt_min is not None or self.rt_max is not None

    @property
    def chooses_spectra(self) -> bool:
        """Whether the target names its MS level or polarity itself."""
        return self.ms_level is not None or self.polarity is not None

    def request(self, condition: Any) -> Any:
        """The ChromatogramFilterOption that extracts this target from the spectra of `condition`."""
        from ozra_data_access.common import ValueRange
        from ozra_data_access.qual import ChromatogramFilterOption

        rt_range = None
        if self.has_retention_time_window:
            rt_range = ValueRange(-math.inf if self.rt_min is None else self.rt_min,
                                  math.inf if self.rt_max is None else self.rt_max)
        return ChromatogramFilterOption(condition, ValueRange(self.mz_min, self.mz_max), rt_range)


def _missing(value: Any) -> bool:
    if value is None:
        return True
    if isinstance(value, str):
        return value.strip() == ""
    try:
        return math.isnan(value)
    except TypeError:
        return False


def _number(row: int, column: str, value: Any) -> Optional[float]:
    if _missing(value):
        return None
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise TargetError(f"target row {row}: column {column!r} must be a number, found {value!r}") from None
    if not math.isfinite(number):
        raise TargetError(f"target row {row}: column {column!r} must be finite, found {value!r}")
    return number


def _polarity(row: int, value: Any) -> Optional[PolarityTypes]:
    if _missing(value):
        return None
    if isinstance(value, PolarityTypes):
        return value
    text = str(int(value)) if isinstance(value, float) and value.is_integer() else str(value)
    try:
        return _POLARITY_NAMES[text.strip().lower()]
    except KeyError:
        raise TargetError(f"target row {row}: column 'polarity' must be positive or negative "
                          f"(or +, -, 1, 2), found {value!r}") from None


def _named(row: int, fields: Mapping[str, Any]) -> dict:
    """The row's values under the columns' own names (aliases read as the column they stand for)."""
    named: dict = {}
    for column, value in fields.items():
        key = COLUMN_ALIASES.get(column.strip() if isinstance(column, str) else column, column)
        if key in named:
            raise TargetError(f"target row {row}: column {key!r} is given twice (as {column!r} too)")
        named[key] = value
    unknown = sorted(set(named) - set(TARGET_COLUMNS), key=str)
    if unknown:
        raise TargetError(f"target row {row}: unknown column(s) {', '.join(map(repr, unknown))}; accepted: "
                          f"{', '.join(TARGET_COLUMNS)} (and {', '.join(COLUMN_ALIASES)} for "
                          f"{', '.join(COLUMN_ALIASES.values())})")
    return named


def make_target(row: int, fields: Mapping[str, Any], defaults: Optional[Mapping[str, Any]] = None) -> Target:
    """The target of one table row (`row` counts from 1 and only names the row in messages).
    `defaults` gives the tolerance (ppm or da) of a row that gives neither, and the retention-time
    window (rt_min, rt_max) of a row that gives no end of one."""
    fields = _named(row, fields)
    defaults = defaults or {}
    if _missing(fields.get("ppm")) and _missing(fields.get("da")):
        fields.update({key: defaults[key] for key in ("ppm", "da") if key in defaults})
    if _missing(fields.get("rt_min")) and _missing(fields.get("rt_max")):
        fields.update({key: defaults[key] for key in ("rt_min", "rt_max") if key in defaults})
    identifier = fields.get("id")
    if _missing(identifier):
        raise TargetError(f"target row {row}: column 'id' is empty")
    mz = _number(row, "mz", fields.get("mz"))
    if mz is None or mz <= 0:
        raise TargetError(f"target row {row}: column 'mz' must be a positive number, found {fields.get('mz')!r}")
    ppm = _number(row, "ppm", fields.get("ppm"))
    da = _number(row, "da", fields.get("da"))
    if (ppm is None) == (da is None):
        raise TargetError(f"target row {row}: give exactly one of 'ppm' and 'da'")
    half_width = mz * ppm / 1e6 if ppm is not None else da
    if half_width < 0:
        raise TargetError(f"target row {row}: the m/z tolerance must not be negative")
    rt_min = _number(row, "rt_min", fields.get("rt_min"))
    rt_max = _number(row, "rt_max", fields.get("rt_max"))
    if rt_min is not None and rt_max is not None and rt_min > rt_max:
        raise TargetError(f"target row {row}: rt_min {rt_min} is above rt_max {rt_max}")
    ms_level = _number(row, "ms_level", fields.get("ms_level"))
    if ms_level is not None and (not ms_level.is_integer() or ms_level < 1):
        raise TargetError(f"target row {row}: column 'ms_level' must be a whole number >= 1, "
                          f"found {fields.get('ms_level')!r}")
    return Target(
        id=str(identifier).strip() if isinstance(identifier, str) else str(identifier),
        mz_min=mz - half_width,
        mz_max=mz + half_width,
        rt_min=rt_min,
        rt_max=rt_max,
        ms_level=None if ms_level is None else int(ms_level),
        polarity=_polarity(row, fields.get("polarity")),
        mz=mz,
    )


TargetsLike = Union[str, "os.PathLike[str]", Iterable[Union[Target, Mapping[str, Any]]], Any]


def read_targets(targets: TargetsLike, defaults: Optional[Mapping[str, Any]] = None) -> list[Target]:
    """The targets of a CSV file (a path), a pandas DataFrame, or an iterable of rows (mappings with
    the columns of the module's table) or `Target`s; `defaults` as for `make_target`.

    Raises `TargetError` naming the row and column of the first unusable value, and for duplicate ids.
    """
    if isinstance(targets, (str, os.PathLike)):
        rows: Iterable[Any] = _csv_rows(os.fspath(targets))
    elif hasattr(targets, "to_dict") and hasattr(targets, "columns"):
        rows = targets.to_dict("records")
    else:
        rows = targets
    result = []
    for number, row in enumerate(rows, start=1):
        result.append(row if isinstance(row, Target) else make_target(number, row, defaults))
    if not result:
        raise TargetError("the target table has no rows")
    seen: dict[str, int] = {}
    for number, target in enumerate(result, start=1):
        if target.id in seen:
            raise TargetError(f"target row {number}: id {target.id!r} repeats row {seen[target.id]}")
        seen[target.id] = number
    return result


def _csv_rows(path: str) -> list[dict]:
    try:
        with open(path, newline="", encoding="utf-8-sig") as stream:
            reader = csv.DictReader(stream, skipinitialspace=True)
            if not reader.fieldnames or "mz" not in [name.strip() for name in reader.fieldnames]:
                raise TargetError(f"{path}: the first row must name the columns, one of them mz (accepted: "
                                  f"{', '.join(TARGET_COLUMNS)})")
            rows = []
            for row in reader:
                if None in row:
                    raise TargetError(f"{path}, line {reader.line_num}: more values than the header names")
                rows.append(row)
            return rows
    except (OSError, UnicodeDecodeError, csv.Error) as error:
        raise TargetError(f"cannot read the target table {path!r}: {error}") from error
