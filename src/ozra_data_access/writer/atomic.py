"""Writing a file so that it appears whole or not at all."""

from __future__ import annotations

import contextlib
import os
from typing import BinaryIO, Iterator

from ozra_data_access.writer.temporaries import remove_stale, temporary_path


@contextlib.contextmanager
def atomic_output(path: "str | os.PathLike[str]") -> Iterator[BinaryIO]:
    """Yields a binary file that becomes `path` when the block ends without an error.

    The data goes to a temporary name in the same directory (see
    :mod:`ozra_data_access.writer.temporaries`), is flushed to disk, and then renamed over `path` in
    one step. If the block raises, the temporary file is removed and `path`, existing or not, is
    left untouched; temporaries of `path` left by ended processes are removed first.
    """
    target = os.path.abspath(os.fspath(path))
    directory, name = os.path.split(target)
    try:
        temporary, file = _create_temporary(directory, name)
    except OSError as error:
        error.filename = os.fspath(path)  # the path the caller gave, not the temporary one
        raise
    try:
        with file:
            yield file
            file.flush()
            os.fsync(file.fileno())
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        raise
    _sync_directory(directory)


def _create_temporary(directory: str, name: str) -> tuple[str, BinaryIO]:
    """A new file with an unused name, created with the permissions an ordinary file gets."""
    remove_stale(directory, name, "tmp")
    while True:
        temporary = temporary_path(directory, name, "tmp")
        try:
            descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0), 0o666)
        except FileExistsError:
            continue
        return temporary, os.fdopen(descriptor, "wb", buffering=1 << 20)


def _sync_directory(directory: str) -> None:
    """Makes the rename durable where the system allows a directory to be synced."""
    try:
        descriptor = os.open(directory, os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(descriptor)
    except OSError:
        pass
    finally:
        os.close(descriptor)
