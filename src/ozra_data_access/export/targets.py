"""Export targets that appear whole or not at all, and are not replaced unless asked."""

from __future__ import annotations

import contextlib
import os
import shutil
from typing import Iterator

from ozra_data_access.export.errors import TargetExistsError
from ozra_data_access.writer.atomic import atomic_output
from ozra_data_access.writer.temporaries import remove_stale, temporary_path


def refuse_existing(target: "str | os.PathLike[str]", force: bool) -> None:
    """Raises TargetExistsError when `target` exists and `force` is false."""
    if not force and os.path.lexists(target):
        raise TargetExistsError(f"{os.fspath(target)}: the target exists (use --force, or force=True in Python, "
                                "to replace it)")


@contextlib.contextmanager
def atomic_file(target: "str | os.PathLike[str]", force: bool):
    """A binary file that becomes `target` only when the block ends without an error."""
    refuse_existing(target, force)
    with atomic_output(target) as file:
        yield file


@contextlib.contextmanager
def atomic_directory(target: "str | os.PathLike[str]", force: bool) -> Iterator[str]:
    """A new directory, yielded by path, that becomes `target` only when the block ends without an
    error; an existing `target` (with `force`) is replaced then, never before."""
    refuse_existing(target, force)
    path = os.path.abspath(os.fspath(target))
    directory, name = os.path.split(path)
    for kind in ("dir", "old"):
        remove_stale(directory, name, kind)
    temporary = temporary_path(directory, name, "dir")
    os.mkdir(temporary)
    try:
        yield temporary
        if not os.path.lexists(path):
            os.replace(temporary, path)
            return
        # A directory cannot be renamed over another (nor over a file): the old target steps aside first.
        old = temporary_path(directory, name, "old")
        os.replace(path, old)
        os.replace(temporary, path)
        if os.path.isdir(old) and not os.path.islink(old):
            shutil.rmtree(old, ignore_errors=True)
        else:
            os.unlink(old)
    except BaseException:
        shutil.rmtree(temporary, ignore_errors=True)
        raise
