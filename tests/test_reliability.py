"""The engine keeps nothing between calls: a long run of calls of every kind
leaves the process's memory where it was, and many threads calling at once
get exactly the answers of the same calls made one after another."""

from __future__ import annotations

import gc
import os
import random
import sys
import threading
from pathlib import Path

import pytest

from engine_cases import SANITIZED, binding_errors, build_payload, mixed_calls, parse_payload
from quillon.accounts import _native

PAGE = os.sysconf("SC_PAGE_SIZE") if hasattr(os, "sysconf") else 4096
STATM = Path("/proc/self/statm")


def rss() -> int:
    return int(STATM.read_text().split()[1]) * PAGE


def one_round(i: int, pad: str) -> None:
    # Every text is new in every round, so a reference kept by mistake piles up.
    tag = f"{i}:{pad}"
    for op, payload in mixed_calls(tag):
        _native.call(op, payload)
    for refused in binding_errors(tag):
        with pytest.raises((TypeError, UnicodeEncodeError)):
            refused()


@pytest.mark.skipif(SANITIZED, reason="the sanitizer's quarantine holds freed memory on purpose")
@pytest.mark.skipif(not STATM.exists(), reason="needs /proc/self/statm")
def test_a_long_run_of_calls_of_every_kind_does_not_grow_memory() -> None:
    pad = "p" * 40_000
    for i in range(100):  # warm up allocator pools and caches
        one_round(i, pad)
    gc.collect()
    blocks_before, rss_before = sys.getallocatedblocks(), rss()
    for i in range(100, 400):
        one_round(i, pad)
    gc.collect()
    blocks_growth = sys.getallocatedblocks() - blocks_before
    rss_growth = rss() - rss_before
    # One 40 kB text kept per round would be 12 MB, one object per call 9,000 blocks.
    assert blocks_growth < 1_000, f"{blocks_growth} more Python objects"
    assert rss_growth < 8 * 1024 * 1024, f"resident memory grew by {rss_growth} bytes"


def test_threads_calling_at_once_get_the_answers_of_sequential_calls() -> None:
    cases = [call for i in range(3) for call in mixed_calls(str(i))]
    # larger texts, so that calls last long enough to overlap
    cases.append(("accounts.get.build", build_payload("get", trace="t" * 500_000)))
    cases.append(("accounts.get.parse", parse_payload("get", "x" * 500_000, 502)))
    expected = [_native.call(op, payload) for op, payload in cases]
    refusals = [type(e).__name__ + str(e) for e in map(_refusal, binding_errors("t"))]
    threads_count, rounds = 12, 4
    start = threading.Barrier(threads_count)
    mismatches: list[str] = []
    lock = threading.Lock()

    def worker(seed: int) -> None:
        order = list(range(len(cases)))
        random.Random(seed).shuffle(order)
        start.wait()
        for _ in range(rounds):
            for i in order:
                if _native.call(*cases[i]) != expected[i]:
                    with lock:
                        mismatches.append(f"{cases[i][0]} ({seed})")
            got = [type(e).__name__ + str(e) for e in map(_refusal, binding_errors("t"))]
            if got != refusals:
                with lock:
                    mismatches.append(f"binding errors ({seed})")

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(threads_count)]
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # threads take turns as often as the interpreter allows
    try:
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=120)
    finally:
        sys.setswitchinterval(interval)
    assert not any(t.is_alive() for t in threads)
    assert mismatches == []


def _refusal(refused: object) -> BaseException:
    try:
        refused()  # type: ignore[operator]
    except (TypeError, UnicodeEncodeError) as e:
        return e
    raise AssertionError("the binding accepted what it should refuse")
