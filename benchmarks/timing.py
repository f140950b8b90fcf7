"""Timing shared by the benchmarks."""

import time


def best_of(repeats, call):
    """The best wall time of `repeats` calls of `call`, and the last call's result."""
    best, result = float("inf"), None
    for _ in range(repeats):
        start = time.perf_counter()
        result = call()
        best = min(best, time.perf_counter() - start)
    return best, result
