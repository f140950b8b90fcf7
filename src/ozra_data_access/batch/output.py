"""Batch results written as Parquet: the large table as a dataset of one part per task, written by
the workers themselves, and the small tables beside it; nothing appears under the final names
until every part is written, and `force` replaces only what an earlier batch wrote."""

from __future__ import annotations

import json
import os
import shutil
from typing import Union

import pandas

from ozra_data_access.batch.swap import exchange
from ozra_data_access.writer.temporaries import remove_stale, temporary_path

PathLike = Union[str, "os.PathLike[str]"]

# Written into every dataset folder this layer makes; it names the tables written beside the
# dataset. Parquet readers skip files whose names start with "." or "_".
MARKER = ".ozra-batch"


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
    next to `out` and moved into place by commit(). An existing output is refused unless `force`, and
    even then only an output this layer wrote (its dataset folder holds the marker naming the tables
    beside it) is replaced: never a folder or file of the user's."""

    def __init__(self, out: PathLike, beside_names: tuple[str, ...], *, force: bool = False):
        self.final = {"dataset": os.path.abspath(os.fspath(out))}
        self.final.update({name: os.path.abspath(beside(out, name)) for name in beside_names})
        existing = [path for path in self.final.values() if os.path.lexists(path)]
        if existing and not force:
            raise FileExistsError(f"{existing[0]} exists (pass force=True, or --force, to replace it)")
        for path in existing:
            _check_replaceable(path, self.final["dataset"])
        parent, name = os.path.split(self.final["dataset"])
        os.makedirs(parent, exist_ok=True)
        remove_stale(parent, name, "partial")
        self.staging = temporary_path(parent, name, "partial")
        os.mkdir(self.staging, 0o700)
        os.mkdir(os.path.join(self.staging, "dataset"))

    def part(self, number: int) -> str:
        """Where the worker of task `number` writes its part of the dataset."""
        return os.path.join(self.staging, "dataset", f"part-{number:06d}.parquet")

    def commit(self, empty: pandas.DataFrame, tables: dict[str, pandas.DataFrame]) -> dict[str, str]:
        """Writes the tables beside the dataset (and `empty`, giving the dataset its columns, when no
        task wrote a part), then moves everything to its final name; returns the final paths.

        Each path is replaced in one step (a folder by an exchange of names): a final name is never
        missing, and what it replaced is removed only after the new one is in place. The dataset,
        which holds the marker, comes last."""
        dataset = os.path.join(self.staging, "dataset")
        if not os.listdir(dataset):
            write_part(empty, self.part(0))
        names = sorted(self.final.keys() - {"dataset"})
        with open(os.path.join(dataset, MARKER), "w", encoding="utf-8") as marker:
            json.dump({"beside": [os.path.basename(self.final[name]) for name in names]}, marker)
        for name, table in tables.items():
            table.to_parquet(os.path.join(self.staging, f"{name}.parquet"), engine="pyarrow", index=False)
        for name in [*names, "dataset"]:
            staged = dataset if name == "dataset" else os.path.join(self.staging, f"{name}.parquet")
            _put_in_place(staged, self.final[name])
        shutil.rmtree(self.staging)
        return dict(self.final)

    def abandon(self) -> None:
        shutil.rmtree(self.staging, ignore_errors=True)


def _check_replaceable(path: str, dataset: str) -> None:
    """Refuses to replace `path` unless an earlier batch wrote it."""
    marker = os.path.join(dataset, MARKER)
    if not (os.path.isdir(dataset) and not os.path.islink(dataset) and os.path.isfile(marker)):
        raise FileExistsError(f"{path} exists and was not written by a batch command (its dataset folder "
                              f"{dataset} holds no {MARKER} marker); it is never replaced, not even with --force")
    if path == dataset:
        return
    try:
        with open(marker, encoding="utf-8") as stream:
            written_beside = json.load(stream)["beside"]
    except (OSError, ValueError, KeyError, TypeError) as error:
        raise FileExistsError(f"{path} exists and the marker {marker} cannot be read ({error})") from None
    if os.path.basename(path) not in written_beside or not os.path.isfile(path) or os.path.islink(path):
        raise FileExistsError(f"{path} exists and was not written by the batch that wrote {dataset}; "
                              "it is never replaced, not even with --force")


def _put_in_place(staged: str, final: str) -> None:
    if not os.path.lexists(final) or not os.path.isdir(staged):
        os.replace(staged, final)  # a file over a file (or over nothing): one atomic rename
        return
    exchange(staged, final)
    shutil.rmtree(staged)  # now the replaced dataset
