"""Wall time, peak memory and the memory-copy ceiling of one call."""

from __future__ import annotations

import os
import time

import numpy as np


def _status_kib(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def run_once(call):
    """(seconds, peak resident memory above the memory before the call in bytes, result).

    The kernel's peak mark (VmHWM) is reset before the call, so the peak is the call's own.
    """
    before = _status_kib("VmRSS")
    try:
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")
    except OSError:
        pass  # no reset: the peak may then be an earlier one
    start = time.perf_counter()
    result = call()
    seconds = time.perf_counter() - start
    peak = max(0, _status_kib("VmHWM") - before) * 1024
    return seconds, peak, result


class TimedIterator:
    """Iterates `iterable`, adding up the seconds spent producing its items (`seconds`).

    A reader's stream is timed this way while its items are compared with ours as they come,
    so that the checked run is also a timed run and no full read is repeated for the check.
    """

    def __init__(self, iterable):
        self.iterator = iter(iterable)
        self.seconds = 0.0

    def __iter__(self):
        return self

    def __next__(self):
        start = time.perf_counter()
        try:
            return next(self.iterator)
        finally:
            self.seconds += time.perf_counter() - start


def copy_seconds(size):
    """The best time of three copies of `size` bytes by numpy: the memory-copy ceiling."""
    count = max(1, size // 8)
    source = np.ones(count)
    target = np.empty_like(source)
    best = float("inf")
    for _ in range(3):
        start = time.perf_counter()
        np.copyto(target, source)
        best = min(best, time.perf_counter() - start)
    return best


def page_cache_read_seconds(path, spans, rounds=3):
    """The best of `rounds` times to read each (position, size) span of the file with one os.preadv,
    in order, into one buffer: the kernel's page-cache copy of the bytes a reader reads, which no
    reader of the file can go below (the file is in the page cache after the tasks' first rounds)."""
    buffer = memoryview(bytearray(max((size for _, size in spans), default=0)))
    views = {size: buffer[:size] for size in {size for _, size in spans}}
    descriptor = os.open(path, os.O_RDONLY)
    try:
        best = float("inf")
        for _ in range(rounds):
            start = time.perf_counter()
            for position, size in spans:
                os.preadv(descriptor, [views[size]], position)
            best = min(best, time.perf_counter() - start)
        return best
    finally:
        os.close(descriptor)

