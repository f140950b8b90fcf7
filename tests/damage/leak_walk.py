"""Walks a file, and every error path we can reach, again and again, and prints how much
memory and how many objects the later rounds added: a leaked reference shows as growth.

    python leak_walk.py SOURCE WORKDIR ROUNDS

Prints one line: "<malloc bytes> <traced bytes> <gc objects>" added over ROUNDS rounds after warm-up.
"""

import ctypes
import gc
import pathlib
import sys
import tracemalloc

from walk_damaged import damaged_copies, walk

from ozra_data_access.access import OzraFile
from ozra_data_access.common import ValueRange
from ozra_data_access.qual import AcquisitionCondition, ChromatogramFilterOption


class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


libc = ctypes.CDLL(None)
libc.mallinfo2.restype = MallInfo2


def malloc_in_use():
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def error_paths(source, damaged):
    """Each call below raises; the walk of each damaged copy raises OzraFormatError."""
    with OzraFile(source) as f:
        m = f.get_measurement(0)
        a = m.get_qual_analysis(0)
        d = m.get_dad_analysis(0)
        condition = a.unique_acquisition_conditions[0]
        looped = a.unique_acquisition_conditions[1]
        looped.additional_conditions.append(looped)
        calls = [
            lambda: f.get_measurement(99), lambda: m.get_qual_analysis("0"), lambda: a.get_spectrum(-1),
            lambda: a.get_spectrum(10**9), lambda: a.get_xic(condition), lambda: a.get_multiple_xic([1]),
            lambda: a.get_multiple_xic([ChromatogramFilterOption(condition, None)]),
            lambda: a.get_tic(condition, retention_time_range=1), lambda: d.get_chromatogram(None),
            lambda: d.get_max_plot(ValueRange(250.0, 300.0), "wide"), lambda: ValueRange(float("nan"), 1.0),
            lambda: ValueRange("1", 2), lambda: AcquisitionCondition(1), lambda: OzraFile(str(source) + ".missing"),
        ]
        # Often enough that a leak of one small object per error shows; the recursion errors, slow, once.
        for call in calls * 20 + [lambda: hash(looped), lambda: str(looped)]:
            try:
                call()
            except Exception:
                pass
            else:
                raise AssertionError("expected an error")
        looped.additional_conditions.pop()
    for path in damaged:
        try:
            walk(path)
        except Exception:
            pass


def main(source, workdir, rounds):
    data = pathlib.Path(source).read_bytes()
    damaged = []
    for k, (_, copy) in enumerate(damaged_copies(data, seed=3)):
        if k % 23 == 0:
            damaged.append(pathlib.Path(workdir) / f"damaged{k}.ozra")
            damaged[-1].write_bytes(copy)

    def one_round():
        walk(source)
        error_paths(source, damaged)
        gc.collect()

    tracemalloc.start()
    for _ in range(3):
        one_round()
    before = (malloc_in_use(), tracemalloc.get_traced_memory()[0], len(gc.get_objects()))
    for _ in range(rounds):
        one_round()
    after = (malloc_in_use(), tracemalloc.get_traced_memory()[0], len(gc.get_objects()))
    print(*(b - a for a, b in zip(before, after)))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]))
