"""Columnar results end to end: ``Client.tables.debits`` to a pyarrow table, against peers.

Every path starts from the same keyword arguments and the same body, served by
an in-memory ``httpx.MockTransport``, and ends with a table:

- quillon: ``pa.table(client.tables.debits(...))``;
- (a) the package's objects: ``client.debits(...)``, then
  ``pa.Table.from_pylist([to_data(m) for m in movements])``;
- (b) the pure-Python client (``client_plain.py``), then ``from_pylist``;
- (c) polars reading the raw body: ``pl.read_json``, explode, unnest (no
  cleaning; amounts as binary floats, the gateway's names);
- (d) the msgspec client (``client_msgspec.py``), then ``from_pylist``.

Each path's values are checked against the package's before anything is timed
((c) reads floats: its amounts are compared within a relative 1e-9). Then the
readers of our table (pyarrow, polars, pandas, DuckDB), the engine's own
decoding and conversion of the same body as the floor, the peak memory of
each path in a fresh process, and two threads building tables at once.

    python bench/tables.py [--quick] [--out FILE]
"""

from __future__ import annotations

import argparse
import dataclasses
import hashlib
import io
import os
import subprocess
import sys
import tempfile
import threading
import time
from collections.abc import Callable
from datetime import datetime
from decimal import Decimal
from enum import Enum
from pathlib import Path
from typing import Any

import duckdb
import httpx
import pandas
import polars as pl
import pyarrow as pa

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import clients  # noqa: E402
import workloads as wl  # noqa: E402

from quillon.accounts import AccessToken, Client, _native, _objects, to_data  # noqa: E402

KWARGS = {"nit": clients.NIT, "account_number": clients.ACCOUNT, **clients.RANGE}
PATHS = ("quillon", "(a) objects", "(b) plain", "(c) polars", "(d) msgspec")


def body_of(n: int) -> bytes:
    return wl.debits_parse(n, False).body.encode()


def plain_row(m: Any) -> dict[str, Any]:
    """A peer's record (dataclass or msgspec Struct) as a row: enums by value, nested
    records (the parties) as dicts."""
    names = (
        [f.name for f in dataclasses.fields(m)]
        if dataclasses.is_dataclass(m)
        else list(m.__struct_fields__)
    )
    out: dict[str, Any] = {}
    for name in names:
        value = getattr(m, name)
        if isinstance(value, Enum):
            value = value.value
        elif dataclasses.is_dataclass(value) or hasattr(value, "__struct_fields__"):
            value = plain_row(value)
        out[name] = value
    return out


def paths(body: bytes) -> dict[str, Callable[[], Any]]:
    """The five ways to a table, each a call of no arguments."""
    token = AccessToken(access_token=clients.TOKEN, token_type="Bearer", expires_at=2**62)
    quillon = Client(
        client_id=clients.CLIENT_ID,
        base_url=clients.BASE,
        token=token,
        http_client=httpx.Client(transport=clients.transport(body)),
    )
    peers = clients.sync_clients(body)
    raw = httpx.Client(transport=clients.transport(body))

    def polars_route() -> pl.DataFrame:
        resp = raw.post(f"{clients.BASE}/debitos", json={"nit": clients.NIT})
        frame = pl.read_json(io.BytesIO(resp.content))
        return frame.select("data").explode("data").unnest("data")

    return {
        "quillon": lambda: pa.table(quillon.tables.debits(**KWARGS)),
        "(a) objects": lambda: pa.Table.from_pylist([to_data(m) for m in quillon.debits(**KWARGS)]),
        "(b) plain": lambda: pa.Table.from_pylist(
            [plain_row(m) for m in peers["(1) plain"].debits(**KWARGS)]
        ),
        "(c) polars": polars_route,
        "(d) msgspec": lambda: pa.Table.from_pylist(
            [plain_row(m) for m in peers["(2) msgspec"].debits(**KWARGS)]
        ),
        "_objects": lambda: quillon.debits(**KWARGS),
        "_table": lambda: quillon.tables.debits(**KWARGS),
    }


def check(runs: dict[str, Callable[[], Any]]) -> None:
    """Every path gives the package's values (amounts by value; (c) within 1e-9)."""
    objects = runs["_objects"]()
    ours = runs["_table"]().to_pylist()
    for got, movement in zip(ours, objects, strict=True):
        for name, want in clients.flat(movement).items():
            cell = got[name]
            if isinstance(want, tuple):  # ("decimal", value): by value
                want = want[1]
            if isinstance(cell, datetime):
                want = datetime.fromisoformat(want)
            if cell != want:
                raise SystemExit(f"quillon's table differs at {name}: {cell!r} != {want!r}")
    if runs["quillon"]().to_pylist() != ours:
        raise SystemExit("pyarrow reads other values than the table's own")
    for name in ("(a) objects", "(b) plain", "(d) msgspec"):
        rows = runs[name]().to_pylist()
        for key in ("transaction_id", "amount", "fee", "raw_status"):
            got = [r[key] if r[key] is None else str(r[key]) for r in rows]
            if [Decimal(v) if v and key in ("amount", "fee") else v for v in got] != [
                r[key] for r in ours
            ]:
                raise SystemExit(f"{name}: {key} differs from the package's")
        if [r["origin"]["name"] for r in rows] != [r["origin"]["name"] for r in ours]:
            raise SystemExit(f"{name}: the origin's names differ from the package's")
    floats = runs["(c) polars"]()["importe"].cast(pl.Float64).to_list()
    if len(floats) != len(ours) or any(
        abs(f - float(r["amount"])) > 1e-9 * max(1.0, abs(f))
        for f, r in zip(floats, ours, strict=True)
    ):
        raise SystemExit("(c) polars: amounts differ from the package's beyond 1e-9")


def timed(call: Callable[[], Any]) -> Callable[[int], float]:
    return clients.runner(None, call)


def readers(table: Any) -> dict[str, Callable[[], Any]]:
    def duck() -> Any:
        t = table  # noqa: F841 (DuckDB finds it by its name)
        return duckdb.sql("select sum(amount) from t").fetchall()

    return {
        "pa.table(t)": lambda: pa.table(table),
        "pl.DataFrame(t)": lambda: pl.DataFrame(table),
        "t.to_pandas()": table.to_pandas,
        'duckdb.sql("select sum(amount) from t")': duck,
    }


# ---- peak memory in a fresh process -----------------------------------------------------

MEMORY_CHILD = """
import ctypes, gc, sys
sys.path.insert(0, sys.argv[1])
import tables
which, path = sys.argv[2], sys.argv[3]
with open(path, "rb") as f:
    body = f.read()
runs = tables.paths(body)
tables.paths(tables.body_of(10))[which]()  # warm: imports, first-call caches

def status(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key):
                return int(line.split()[1]) * 1024
    return 0

gc.collect()
try:
    ctypes.CDLL("libc.so.6").malloc_trim(0)
except OSError:
    pass
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # the high-water mark starts again from here
before = status("VmRSS:")
out = runs[which]()
print(status("VmHWM:") - before)
"""


def peak_memory(which: str, body: bytes, scratch: Path) -> int:
    """Growth of resident memory's high-water mark over one call, in a fresh process
    holding the body already (Linux: /proc/self/clear_refs, then VmHWM)."""
    path = scratch / "body.json"
    if not path.exists() or path.stat().st_size != len(body):
        path.write_bytes(body)
    res = subprocess.run(
        [sys.executable, "-c", MEMORY_CHILD, str(HERE), which, str(path)],
        capture_output=True,
        text=True,
        check=True,
    )
    return int(res.stdout.split()[-1])


# ---- threads ----------------------------------------------------------------------------


def throughput(work: Callable[[], Any], threads: int, seconds: float = 2.0) -> tuple[float, float]:
    """Calls per second of ``threads`` threads each calling ``work`` for ``seconds``, and
    the CPUs the process used meanwhile (CPU seconds per second)."""
    counts = [0] * threads
    start = threading.Barrier(threads + 1)
    until = [0.0]

    def loop(i: int) -> None:
        start.wait()
        while time.perf_counter() < until[0]:
            work()
            counts[i] += 1

    pool = [threading.Thread(target=loop, args=(i,)) for i in range(threads)]
    for thread in pool:
        thread.start()
    until[0] = time.perf_counter() + seconds
    begun, cpu = time.perf_counter(), time.process_time()
    start.wait()
    for thread in pool:
        thread.join()
    wall = time.perf_counter() - begun
    return sum(counts) / wall, (time.process_time() - cpu) / wall


def fmt(s: float) -> str:
    return clients.fmt(s)


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--quick", action="store_true", help="small sizes, few rounds")
    ap.add_argument("--out", type=Path)
    args = ap.parse_args()
    lines: list[str] = []

    def emit(text: str = "") -> None:
        print(text, flush=True)
        lines.append(text)

    emit(
        f"Python {sys.version.split()[0]}, pyarrow {pa.__version__}, polars {pl.__version__}, "
        f"pandas {pandas.__version__}, duckdb {duckdb.__version__}; "
        f"{time.strftime('%Y-%m-%d %H:%M')}, load average {os.getloadavg()[0]:.1f}"
    )
    sizes = (1_000,) if args.quick else (10_000, 100_000)
    emit()
    emit("### To a table, end to end (ratios: the path's time / quillon's)")
    emit()
    emit("| movements | quillon | " + " | ".join(PATHS[1:]) + " |")
    emit("|---|---|" + "---|" * (len(PATHS) - 1))
    floor_rows: list[str] = []
    reader_rows: list[str] = []
    for n in sizes:
        body = body_of(n)
        runs = paths(body)
        check(runs)
        rounds = 3 if n >= 100_000 or args.quick else 5
        m = clients.measure({k: timed(runs[k]) for k in PATHS}, rounds)
        q = m["quillon"]
        cells = [f"{fmt(m[k])} (**{m[k] / q:.1f}x**)" for k in PATHS[1:]]
        emit(f"| {n:,} | {fmt(q)} | " + " | ".join(cells) + " |")

        payload = wl.debits_parse(n, False).payload
        engine = {
            "_native.call (decode, convert, write JSON)": timed(
                lambda p=payload: _native.call("accounts.debits.parse", p)
            ),
            "_objects.table (decode, convert, columns)": timed(
                lambda b=body: _objects.table("accounts.debits", 200, b)
            ),
            "quillon end to end": timed(runs["quillon"]),
        }
        e = clients.measure(engine, rounds)
        base = e["_native.call (decode, convert, write JSON)"]
        for k, v in e.items():
            floor_rows.append(f"| {n:,} | {k} | {fmt(v)} | {v / base:.2f}x |")

        table = runs["_table"]()
        r = clients.measure({k: timed(v) for k, v in readers(table).items()}, rounds)
        for k, v in r.items():
            reader_rows.append(f"| {n:,} | `{k}` | {fmt(v)} |")

    emit()
    emit("### Against the engine's own decoding and conversion of the same body")
    emit()
    emit("| movements | what | time | vs `_native.call` |")
    emit("|---|---|---|---|")
    for line in floor_rows:
        emit(line)

    emit()
    emit("### Reading our table")
    emit()
    emit("| movements | reader | time |")
    emit("|---|---|---|")
    for line in reader_rows:
        emit(line)

    emit()
    emit("### Peak memory growth of one call (fresh process, resident high-water mark)")
    emit()
    emit("| movements | body | " + " | ".join(PATHS) + " |")
    emit("|---|---|" + "---|" * len(PATHS))
    with tempfile.TemporaryDirectory() as scratch:
        for n in sizes:
            body = body_of(n)
            cells = []
            for which in PATHS:
                peak = peak_memory(which, body, Path(scratch))
                cells.append(f"{peak / 1e6:.0f} MB ({peak / len(body):.2f}x)")
            emit(f"| {n:,} | {len(body) / 1e6:.1f} MB | " + " | ".join(cells) + " |")

    emit()
    emit("### Two threads building tables at once (throughput / one thread's)")
    emit()
    emit("| movements | work | 1 thread | 2 threads | ratio |")
    emit("|---|---|---|---|---|")
    n = sizes[-1] if args.quick else 10_000
    body = body_of(n)
    runs = paths(body)
    for label, work in (
        ("`_objects.table`", lambda: _objects.table("accounts.debits", 200, body)),
        ("`Client.tables.debits`", runs["_table"]),
        ("control: `hashlib.sha256` of the body", lambda: hashlib.sha256(body).digest()),
    ):
        (one, cpu1), (two, cpu2) = throughput(work, 1), throughput(work, 2)
        emit(
            f"| {n:,} | {label} | {one:.1f}/s ({cpu1:.2f} CPU) | {two:.1f}/s ({cpu2:.2f} CPU) "
            f"| **{two / one:.2f}x** |"
        )
    emit()
    emit(f"Load average at the end: {os.getloadavg()[0]:.1f}.")
    if args.out:
        args.out.parent.mkdir(parents=True, exist_ok=True)
        args.out.write_text("\n".join(lines) + "\n", encoding="utf-8")


if __name__ == "__main__":
    os.environ.setdefault("PYTHONHASHSEED", "0")
    main()
