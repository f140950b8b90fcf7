"""Temporary files and folders beside an output, named so that a later run can tell its own.

A temporary of the output NAME is `.NAME.<pid>-<token>@<host>.<kind>`: the process that made it
and the machine it ran on. When a new one is made, those of the same output, made on this machine
by a process that no longer runs (killed before it could clean up), are removed first; nothing
else is ever touched.
"""

from __future__ import annotations

import os
import re
import secrets
import shutil
import socket


def _host() -> str:
    return re.sub(r"[^A-Za-z0-9.]", "_", socket.gethostname()) or "host"


def temporary_path(directory: str, name: str, kind: str) -> str:
    """A new path for a temporary of the output `name` in `directory` (nothing is created)."""
    return os.path.join(directory, f".{name}.{os.getpid()}-{secrets.token_hex(4)}@{_host()}.{kind}")


def remove_stale(directory: str, name: str, kind: str) -> None:
    """Removes the temporaries of the output `name` left in `directory` by processes of this machine
    that have ended."""
    pattern = re.compile(rf"^\.{re.escape(name)}\.(\d+)-[0-9a-f]{{8}}@{re.escape(_host())}\.{re.escape(kind)}$")
    try:
        entries = os.listdir(directory)
    except OSError:
        return
    for entry in entries:
        match = pattern.match(entry)
        if match is None or _running(int(match.group(1))):
            continue
        path = os.path.join(directory, entry)
        try:
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.unlink(path)
        except OSError:
            pass  # another run removed it, or it is not ours to remove after all


def _running(pid: int) -> bool:
    if pid == os.getpid():
        return True
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except (PermissionError, OverflowError):
        return True
    return True
