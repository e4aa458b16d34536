"""Benchmarks of the native engine against the alternatives, all in one run.

    python bench/run.py [--quick] [--only TEXT] [--out FILE]

Every implementation turns the same input into the same envelope text; the
outputs are compared before anything is timed. Rounds interleave the
implementations, so a machine that slows down for a while slows all of them
alike, and every figure is a median. Ratios compare medians of the same run.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time
import timeit
from collections.abc import Callable
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import orjson

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import peer_msgspec  # noqa: E402
import peer_plain  # noqa: E402
import peer_pydantic  # noqa: E402
import workloads as wl  # noqa: E402

from quillon.accounts import _native  # noqa: E402

ENGINE, FROM_BODY, PLAIN, PYDANTIC, MSGSPEC, FLOOR, BUILTIN = (
    "engine",
    "engine from body",
    "(a) json+Decimal",
    "(b) pydantic",
    "(c) msgspec",
    "orjson floor",
    "builtin",
)
PEERS = {PLAIN: peer_plain, PYDANTIC: peer_pydantic, MSGSPEC: peer_msgspec}


@dataclass
class Impl:
    name: str
    stmt: str  # timed with timeit, in `env`
    env: dict[str, Any]
    text: Callable[[], str] | None  # the output compared with the engine's


@dataclass
class Row:
    workload: wl.Workload
    medians: dict[str, float] = field(default_factory=dict)  # seconds per call


def engine_impl(w: wl.Workload) -> Impl:
    env = {"call": _native.call, "op": w.op, "payload": w.payload}
    return Impl(ENGINE, "call(op, payload)", env, lambda: _native.call(w.op, w.payload))


def from_body_impl(w: wl.Workload) -> Impl:
    """What a caller holding the HTTP answer does: form the payload, then call."""
    inp = json.loads(w.payload)["input"]

    def run() -> str:
        payload = json.dumps({"input": inp, "response": {"status": w.status, "body": w.body}})
        return _native.call(w.op, payload)

    return Impl(FROM_BODY, "run()", {"run": run}, run)


def peer_impl(name: str, w: wl.Workload) -> Impl:
    run = PEERS[name].runner(w.operation, w.stage)
    return Impl(name, "run(w)", {"run": run, "w": w}, lambda: run(w))


def floor_impl(w: wl.Workload) -> Impl:
    """Parsing the body and writing the finished result with orjson, nothing else."""
    result = orjson.loads(_native.call(w.op, w.payload))
    body = w.body if w.stage == "parse" else w.payload
    env = {
        "loads": orjson.loads,
        "dumps": orjson.dumps,
        "body": body,
        "result": result,
        "opt": orjson.OPT_SORT_KEYS,
    }
    return Impl(
        FLOOR,
        "loads(body); dumps(result, option=opt)",
        env,
        lambda: orjson.dumps(result, option=orjson.OPT_SORT_KEYS).decode(),
    )


def impls_for(w: wl.Workload, large: bool) -> list[Impl]:
    if w.op == "version":
        return [
            engine_impl(w),
            Impl(
                BUILTIN,
                "getdefaultencoding()",
                {"getdefaultencoding": sys.getdefaultencoding},
                None,
            ),
            *(Impl(n, "run()", {"run": p.version}, p.version) for n, p in PEERS.items()),
        ]
    out = [engine_impl(w)]
    if w.stage == "parse" and large:
        out.append(from_body_impl(w))
    out += [peer_impl(n, w) for n in PEERS]
    out.append(floor_impl(w))
    return out


def check(w: wl.Workload, impls: list[Impl]) -> None:
    expected = _native.call(w.op, w.payload)
    if not expected.startswith('{"ok":true'):
        raise SystemExit(f"{w.name}: the engine failed: {expected[:300]}")
    for impl in impls:
        if impl.text is None:
            continue
        got = impl.text()
        if got != expected:
            at = next(
                (i for i, (a, b) in enumerate(zip(got, expected, strict=False)) if a != b),
                min(len(got), len(expected)),
            )
            raise SystemExit(
                f"{w.name}: {impl.name} differs from the engine at {at}:\n"
                f"  engine: {expected[max(0, at - 80) : at + 80]!r}\n"
                f"  {impl.name}: {got[max(0, at - 80) : at + 80]!r}"
            )


def measure(w: wl.Workload, impls: list[Impl], rounds: int, target: float) -> Row:
    """Median seconds per call; each sample runs enough calls to take `target` seconds."""
    timers = [timeit.Timer(i.stmt, globals=i.env) for i in impls]
    numbers = []
    for t in timers:
        elapsed = t.timeit(1)  # also a warm-up
        numbers.append(max(1, int(target / max(elapsed, 1e-9))))
    samples: dict[str, list[float]] = {i.name: [] for i in impls}
    for _ in range(rounds):
        for impl, t, n in zip(impls, timers, numbers, strict=True):
            gc.collect()
            samples[impl.name].append(t.timeit(n) / n)
    return Row(w, {name: statistics.median(s) for name, s in samples.items()})


# ---- memory -------------------------------------------------------------------------

MEMORY_CHILD = r"""
import os, sys, json
sys.path.insert(0, sys.argv[1])
which, op, path = sys.argv[2], sys.argv[3], sys.argv[4]
with open(path, encoding="utf-8") as f:
    data = json.load(f)

def status(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key):
                return int(line.split()[1]) * 1024
    return 0

size = len(data["payload"].encode())
if which == "engine":
    from quillon.accounts import _native
    payload = data["payload"]
    del data
    run = lambda: _native.call(op, payload)
else:
    import workloads
    w = workloads.Workload("m", op, data["payload"], data["status"], data["body"])
    if which == "floor":
        import orjson
        run = lambda: orjson.dumps(orjson.loads(w.body), option=orjson.OPT_SORT_KEYS)
    else:
        import importlib
        run = importlib.import_module(which).runner(w.operation, w.stage)
        run = (lambda r: lambda: r(w))(run)
    del data["payload"]
import ctypes, gc
gc.collect()
try:  # freed memory back to the system, so that reusing it shows as growth
    ctypes.CDLL("libc.so.6").malloc_trim(0)
except OSError:
    pass
try:
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # resets the peak to the current size
except OSError:
    pass
before = status("VmRSS:")
out = run()
print(status("VmHWM:") - before, size)
"""


def peak_memory(w: wl.Workload, which: str, ascii: bool = False) -> tuple[int, int]:
    """Bytes by which one call raises the peak resident size of a fresh process,
    and the UTF-8 size of the payload it was given (`ascii`: as json.dumps writes
    it by default)."""
    payload = json.dumps(json.loads(w.payload)) if ascii else w.payload
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False, encoding="utf-8") as f:
        json.dump({"payload": payload, "status": w.status, "body": w.body}, f, ensure_ascii=False)
    try:
        res = subprocess.run(
            [sys.executable, "-c", MEMORY_CHILD, str(HERE), which, w.op, f.name],
            capture_output=True,
            text=True,
            check=True,
        )
        peak, size = res.stdout.split()
        return int(peak), int(size)
    finally:
        os.unlink(f.name)


# ---- report -------------------------------------------------------------------------


def machine() -> str:
    cpu = "?"
    try:
        for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
            if line.startswith("Model name:"):
                cpu = line.split(":", 1)[1].strip()
    except OSError:
        pass
    try:
        cxx = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout
        cxx = cxx.splitlines()[0]
    except (OSError, IndexError):
        cxx = "?"
    import msgspec
    import pydantic

    return (
        f"- CPU: {cpu}, {os.cpu_count()} logical cores; {platform.system()} "
        f"{platform.release()}\n- Python {platform.python_version()}; compiler {cxx}\n"
        f"- pydantic {pydantic.VERSION}, msgspec {msgspec.__version__}, "
        f"orjson {orjson.__version__}\n- run at {time.strftime('%Y-%m-%d %H:%M')}"
    )


def fmt_time(s: float) -> str:
    if s < 1e-6:
        return f"{s * 1e9:.0f} ns"
    if s < 1e-3:
        return f"{s * 1e6:.1f} µs"
    if s < 1:
        return f"{s * 1e3:.1f} ms"
    return f"{s:.2f} s"


def table(rows: list[Row], throughput: bool) -> str:
    names: list[str] = []
    for r in rows:
        names += [n for n in r.medians if n not in names]
    head = "| workload | " + " | ".join(names) + " |"
    lines = [head, "|" + "---|" * (len(names) + 1)]
    for r in rows:
        e = r.medians[ENGINE]
        cells = []
        for n in names:
            if n not in r.medians:
                cells.append("-")
                continue
            t = r.medians[n]
            cell = fmt_time(t)
            if n != ENGINE:
                cell += f" (**{t / e:.2f}x**)"
            if throughput and r.workload.size:
                cell += f"<br>{r.workload.size / t / 1e6:.0f} MB/s"
            cells.append(cell)
        size = f" ({r.workload.size / 1e6:.1f} MB)" if throughput else ""
        lines.append(f"| {r.workload.name}{size} | " + " | ".join(cells) + " |")
    return "\n".join(lines)


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="small sizes and few rounds (a smoke run)")
    ap.add_argument("--only", default="", help="run only workloads whose name contains this")
    ap.add_argument("--out", type=Path, help="also write the report to this file")
    args = ap.parse_args()
    q = args.quick

    out: list[str] = ["# Benchmark run", "", machine(), ""]

    def emit(text: str = "") -> None:
        print(text, flush=True)
        out.append(text)

    print("\n".join(out), flush=True)

    def selected(ws: list[wl.Workload]) -> list[wl.Workload]:
        return [w for w in ws if args.only in w.name]

    groups = [
        ("Small calls", wl.small(), False, 3 if q else 15, 0.005 if q else 0.02),
        ("Large builds", wl.large_builds(), False, 3 if q else 11, 0.02 if q else 0.1),
        (
            "Large parses",
            [wl.reconcile_parse(1000, 10, False), wl.debits_parse(2000, True)]
            if q
            else wl.large_parses(),
            True,
            3 if q else 7,
            0,
        ),
    ]
    emit(
        "Median time per call; in parentheses the ratio to the engine "
        "(above 1: slower than the engine). MB/s counts the response body (parses) "
        "or the payload (builds)."
    )
    for title, ws, large, rounds, target in groups:
        ws = selected(ws)
        if not ws:
            continue
        rows = []
        for w in ws:
            impls = impls_for(w, large)
            check(w, impls)
            rows.append(measure(w, impls, rounds, target))
            print(f"  measured {w.name}", file=sys.stderr, flush=True)
        emit(f"\n## {title}\n")
        emit(table(rows, throughput=title != "Small calls"))

    if not args.only or "growth" in args.only:
        # All sizes in the same rounds, so that a busy spell of the machine
        # does not fall on one size only.
        sizes = [200, 2000, 20000] if q else [1_000, 10_000, 100_000]
        sized: list[Impl] = []
        for n in sizes:
            w = wl.debits_parse(n, False)
            pair = [engine_impl(w), floor_impl(w)]
            check(w, pair)
            for impl in pair:
                impl.name = f"{impl.name} {n}"
            sized += pair
        medians = measure(w, sized, 3 if q else 9, 0.05).medians
        emit("\n## Growth: debits.parse, amounts as numbers\n")
        emit("| movements | body | engine | per movement | x previous size | orjson floor |")
        emit("|---|---|---|---|---|---|")
        prev = None
        for n in sizes:
            size = wl.debits_parse(n, False).size
            e = medians[f"{ENGINE} {n}"]
            step = f"{e / prev:.2f}x" if prev else "-"
            emit(
                f"| {n:,} | {size / 1e6:.1f} MB | {fmt_time(e)} | "
                f"{fmt_time(e / n)} | {step} | {fmt_time(medians[f'{FLOOR} {n}'])} |"
            )
            prev = e

    if not args.only or "memory" in args.only:
        w = wl.debits_parse(20_000 if q else 100_000, False)
        size = len(w.payload.encode())
        emit(
            f"\n## Peak memory of one large parse in a fresh process\n\n{w.name}: payload "
            f"{size / 1e6:.1f} MB of UTF-8. Growth of the peak resident size during the one "
            "call, the returned text included; for the engine also CPython's UTF-8 copy of "
            "a payload str that is not pure ASCII (made by the call). The second engine row "
            "gets the payload as json.dumps writes it by default (ASCII, with \\u escapes), "
            "which CPython hands over without a copy.\n"
        )
        emit("| implementation | peak growth | x payload |")
        emit("|---|---|---|")
        for name, which, ascii in [
            (ENGINE, "engine", False),
            (f"{ENGINE}, ASCII payload", "engine", True),
            (PLAIN, "peer_plain", False),
            (PYDANTIC, "peer_pydantic", False),
            (MSGSPEC, "peer_msgspec", False),
            (FLOOR, "floor", False),
        ]:
            peak, given = peak_memory(w, which, ascii)
            emit(f"| {name} | {peak / 1e6:.0f} MB | {peak / given:.2f}x |")

    if args.out:
        args.out.parent.mkdir(parents=True, exist_ok=True)
        args.out.write_text("\n".join(out) + "\n", encoding="utf-8")


if __name__ == "__main__":
    main()
