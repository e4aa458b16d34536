"""The cost of masking a long secret, against the cost of writing it once.

    python bench/masking.py [--sizes 82500,165000,330000,660000]

For each size, a token of that many characters (a quarter of them
backslashes) and a text holding its JSON form cut short before its end (the
slow path: every form is checked for a start of it at the end). Reported: the
median seconds of ``Redactor.scrub(text, cut=True)``, its ratio to the floor
measured in the same run (``json.dumps`` of the token and one
``str.replace`` of that form in the text), and the ratio to the size before:
about 2 when the time grows in proportion to the size, 4 when in its square.
"""

from __future__ import annotations

import argparse
import json
import statistics
import time
from collections.abc import Callable

from quillon.accounts._logging import MASK, Redactor


def median_seconds(work: Callable[[], object], rounds: int = 5) -> float:
    times = []
    for _ in range(rounds):
        started = time.perf_counter()
        work()
        times.append(time.perf_counter() - started)
    return statistics.median(times)


def measure(size: int) -> tuple[float, float]:
    """Median seconds of the masking and of the floor, for a token of ``size`` characters."""
    token = ("ab\\/" * (size // 4 + 1))[:size]
    redactor = Redactor([token])
    form = json.dumps(token)[1:-1]
    text = "x" * 100 + form[:-7] + "Z"
    scrub = median_seconds(lambda: redactor.scrub(text, cut=True))
    floor = median_seconds(lambda: json.dumps(token)[1:-1] in text.replace(form, MASK))
    return scrub, floor


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sizes", default="82500,165000,330000,660000")
    args = parser.parse_args()
    print("| characters | scrub(cut=True) s | x floor | x previous size |")
    print("|---:|---:|---:|---:|")
    before: float | None = None
    for size in (int(s) for s in args.sizes.split(",")):
        scrub, floor = measure(size)
        growth = "" if before is None else f"{scrub / before:.2f}"
        print(f"| {size:,} | {scrub:.3f} | {scrub / floor:.0f} | {growth} |")
        before = scrub


if __name__ == "__main__":
    main()
