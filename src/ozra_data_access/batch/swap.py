"""Swapping two paths in one step, so a replaced folder is never missing from its place."""

from __future__ import annotations

import ctypes
import ctypes.util
import errno
import os
from typing import Optional

_AT_FDCWD = -100
_RENAME_EXCHANGE = 2


def _renameat2() -> Optional[ctypes._CFuncPtr]:
    try:
        libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
        function = libc.renameat2
    except (OSError, AttributeError):
        return None
    function.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_uint]
    function.restype = ctypes.c_int
    return function


_RENAMEAT2 = _renameat2()


def exchange(first: str, second: str) -> None:
    """Exchanges the names `first` and `second` (both must exist).

    Atomic where the system offers it (Linux's renameat2 with RENAME_EXCHANGE); elsewhere `second` is
    moved aside, `first` takes its name and the old `second` takes `first`'s name, so a stop between
    the steps leaves the old content under a name beside it, never deleted."""
    if _RENAMEAT2 is not None:
        if _RENAMEAT2(_AT_FDCWD, os.fsencode(first), _AT_FDCWD, os.fsencode(second), _RENAME_EXCHANGE) == 0:
            return
        code = ctypes.get_errno()
        if code not in (errno.ENOSYS, errno.EINVAL, errno.ENOTSUP):
            raise OSError(code, os.strerror(code), second)
    aside = f"{first}.replaced"
    os.rename(second, aside)
    os.rename(first, second)
    os.rename(aside, first)
