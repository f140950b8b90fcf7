"""Batch results written as Parquet: the large table as a dataset of one part per task, written by
the workers themselves, and the small tables beside it; nothing appears under the final names
until every part is written."""

from __future__ import annotations

import os
import shutil
import tempfile
from typing import Union

import pandas

PathLike = Union[str, "os.PathLike[str]"]


def write_part(frame: pandas.DataFrame, path: str) -> None:
    """Writes one part of a dataset (under a temporary name first: a part is whole or absent)."""
    partial = path + ".partial"
    frame.to_parquet(partial, engine="pyarrow", index=False)
    os.replace(partial, path)


def beside(out: PathLike, name: str) -> str:
    """The path of the table `name` beside the dataset `out`: results.parquet -> results.errors.parquet."""
    text = os.fspath(out).rstrip(os.sep)
    stem = text[: -len(".parquet")] if text.endswith(".parquet") else text
    return f"{stem}.{name}.parquet"


class ParquetOutput:
    """The dataset `out` (a folder of part files) and the tables beside it, built in a staging folder
    next to `out` and moved into place by commit(). An existing output is refused unless `force`."""

    def __init__(self, out: PathLike, beside_names: tuple[str, ...], *, force: bool = False):
        self.final = {"dataset": os.path.abspath(os.fspath(out))}
        self.final.update({name: os.path.abspath(beside(out, name)) for name in beside_names})
        existing = [path for path in self.final.values() if os.path.lexists(path)]
        if existing and not force:
            raise FileExistsError(f"{existing[0]} exists (pass force=True, or --force, to replace it)")
        parent = os.path.dirname(self.final["dataset"])
        os.makedirs(parent, exist_ok=True)
        self.staging = tempfile.mkdtemp(prefix=f".{os.path.basename(self.final['dataset'])}.partial-", dir=parent)
        os.mkdir(os.path.join(self.staging, "dataset"))

    def part(self, number: int) -> str:
        """Where the worker of task `number` writes its part of the dataset."""
        return os.path.join(self.staging, "dataset", f"part-{number:06d}.parquet")

    def commit(self, empty: pandas.DataFrame, tables: dict[str, pandas.DataFrame]) -> dict[str, str]:
        """Writes the tables beside the dataset (and `empty`, giving the dataset its columns, when no
        task wrote a part), then moves everything to its final name; returns the final paths."""
        dataset = os.path.join(self.staging, "dataset")
        if not os.listdir(dataset):
            write_part(empty, self.part(0))
        for name, table in tables.items():
            table.to_parquet(os.path.join(self.staging, f"{name}.parquet"), engine="pyarrow", index=False)
        for name, final in self.final.items():
            staged = dataset if name == "dataset" else os.path.join(self.staging, f"{name}.parquet")
            _remove(final)
            os.replace(staged, final)
        os.rmdir(self.staging)
        return dict(self.final)

    def abandon(self) -> None:
        shutil.rmtree(self.staging, ignore_errors=True)


def _remove(path: str) -> None:
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.unlink(path)
