"""Timing helpers the python benchmark drivers share."""
import time


def best_of(fn, rounds=3):
    """The shortest of `rounds` wall times of fn()."""
    best = None
    for _ in range(rounds):
        start = time.perf_counter()
        fn()
        t = time.perf_counter() - start
        best = t if best is None else min(best, t)
    return best
