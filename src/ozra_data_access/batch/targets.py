"""The target table of a targeted extraction: what to extract, checked before any file is read."""

from __future__ import annotations

import math
import os
from dataclasses import dataclass
from typing import Any, Iterable, Mapping, Optional, Union

from ozra_data_access._internal._enum import PolarityTypes

TARGET_COLUMNS = ("id", "mz", "ppm", "da", "rt_min", "rt_max", "ms_level", "polarity")

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

    def selects(self, condition: Any) -> bool:
        """Whether spectra of the acquisition condition `condition` belong to this target."""
        if condition.ms_level != (1 if self.ms_level is None else self.ms_level):
            return False
        return self.polarity is None or condition.polarity == self.polarity

    @property
    def has_retention_time_window(self) -> bool:
        return self.rt_min is not None or self.rt_max is not None


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


def make_target(row: int, fields: Mapping[str, Any]) -> Target:
    """The target of one table row (`row` counts from 1 and only names the row in messages)."""
    unknown = sorted(set(fields) - set(TARGET_COLUMNS))
    if unknown:
        raise TargetError(f"target row {row}: unknown column(s) {', '.join(map(repr, unknown))}; "
                          f"known: {', '.join(TARGET_COLUMNS)}")
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
    )


TargetsLike = Union[str, "os.PathLike[str]", Iterable[Union[Target, Mapping[str, Any]]], Any]


def read_targets(targets: TargetsLike) -> list[Target]:
    """The targets of a CSV file (a path), a pandas DataFrame, or an iterable of rows (mappings with
    the columns id, mz, ppm or da, and optionally rt_min, rt_max, ms_level, polarity) or `Target`s.

    Raises `TargetError` naming the row and column of the first unusable value, and for duplicate ids.
    """
    if isinstance(targets, (str, os.PathLike)):
        import pandas

        try:
            frame = pandas.read_csv(targets, dtype={"id": str}, skipinitialspace=True)
        except (OSError, ValueError) as error:
            raise TargetError(f"cannot read the target table {os.fspath(targets)!r}: {error}") from error
        rows: Iterable[Any] = frame.to_dict("records")
    elif hasattr(targets, "to_dict") and hasattr(targets, "columns"):
        rows = targets.to_dict("records")
    else:
        rows = targets
    result = []
    for number, row in enumerate(rows, start=1):
        result.append(row if isinstance(row, Target) else make_target(number, row))
    if not result:
        raise TargetError("the target table has no rows")
    seen: dict[str, int] = {}
    for number, target in enumerate(result, start=1):
        if target.id in seen:
            raise TargetError(f"target row {number}: id {target.id!r} repeats row {seen[target.id]}")
        seen[target.id] = number
    return result
