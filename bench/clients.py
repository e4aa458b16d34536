"""Client-level benchmark: ``Client``/``AsyncClient`` methods end to end against two peers.

Peers: (1) an idiomatic pure-Python client (``client_plain.py``) and (2) a
client written by hand with msgspec (``client_msgspec.py``). All three talk
to the same in-memory ``httpx.MockTransport`` serving the same body, so the
network is out of the picture; one more table runs them over real loopback
HTTP against the package's gateway simulator. Every peer's result is checked
equal to the package's, field by field, before anything is timed.

    python bench/clients.py [--quick] [--out FILE]
"""

from __future__ import annotations

import argparse
import asyncio
import gc
import os
import statistics
import subprocess
import sys
import time
from collections.abc import Callable
from dataclasses import dataclass, fields, is_dataclass
from decimal import Decimal
from enum import Enum
from pathlib import Path
from typing import Any

import httpx
import msgspec

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import client_msgspec  # noqa: E402
import client_plain  # noqa: E402
import workloads as wl  # noqa: E402

from quillon.accounts import AccessToken, AsyncClient, Client  # noqa: E402

BASE = "https://gw.bench.test/root"
CLIENT_ID = "bench-client"
TOKEN = "tok-6f1c2a"
NIT, ACCOUNT = wl.NIT, "12345678"
RANGE = {"date_from": "2024-01-01", "date_to": "2024-01-07"}
IMPLS = ("quillon", "(1) plain", "(2) msgspec")


@dataclass(frozen=True)
class Case:
    name: str
    method: str
    kwargs: dict[str, Any]
    body: bytes
    size: int  # movements in the answer, for the memory table


def cases(quick: bool) -> list[Case]:
    sizes = (1, 100, 1_000) if quick else (1, 100, 10_000, 100_000)
    out = [
        Case(
            "get_account",
            "get_account",
            {"nit": NIT, "account_number": ACCOUNT},
            wl.get_parse().body.encode(),
            0,
        )
    ]
    for n in sizes:
        out.append(
            Case(
                f"debits {n:,}",
                "debits",
                {"nit": NIT, "account_number": ACCOUNT, **RANGE},
                wl.debits_parse(n, False).body.encode(),
                n,
            )
        )
    n = 1_000 if quick else 10_000
    out.append(
        Case(
            f"reconcile {n:,} + 100",
            "reconcile",
            {"nit": NIT, **RANGE},
            wl.reconcile_parse(n, 100, False).body.encode(),
            n,
        )
    )
    return out


def transport(body: bytes) -> httpx.MockTransport:
    headers = {"content-type": "application/json"}
    return httpx.MockTransport(lambda request: httpx.Response(200, content=body, headers=headers))


def sync_clients(body: bytes) -> dict[str, Any]:
    def http() -> httpx.Client:
        return httpx.Client(transport=transport(body))

    token = AccessToken(access_token=TOKEN, token_type="Bearer", expires_at=2**62)
    return {
        "quillon": Client(client_id=CLIENT_ID, base_url=BASE, token=token, http_client=http()),
        "(1) plain": client_plain.PlainClient(http(), BASE, CLIENT_ID, TOKEN),
        "(2) msgspec": client_msgspec.MsgspecClient(http(), BASE, CLIENT_ID, TOKEN),
    }


def async_clients(body: bytes) -> dict[str, Any]:
    def http() -> httpx.AsyncClient:
        return httpx.AsyncClient(transport=transport(body))

    token = AccessToken(access_token=TOKEN, token_type="Bearer", expires_at=2**62)
    return {
        "quillon": AsyncClient(client_id=CLIENT_ID, base_url=BASE, token=token, http_client=http()),
        "(1) plain": client_plain.AsyncPlainClient(http(), BASE, CLIENT_ID, TOKEN),
        "(2) msgspec": client_msgspec.AsyncMsgspecClient(http(), BASE, CLIENT_ID, TOKEN),
    }


# ---- equality, field by field --------------------------------------------------------


def flat(value: Any) -> Any:
    """A result as plain data: records by field name, enums by value, sequences as lists."""
    if is_dataclass(value) and not isinstance(value, type):
        return {f.name: flat(getattr(value, f.name)) for f in fields(value)}
    if isinstance(value, msgspec.Struct):
        return {name: flat(getattr(value, name)) for name in value.__struct_fields__}
    if isinstance(value, Enum):
        return value.value
    if isinstance(value, (list, tuple)):
        return [flat(v) for v in value]
    if isinstance(value, Decimal):
        return ("decimal", value)  # equal by value: 10.50 == 10.5
    return value


# ---- timing ------------------------------------------------------------------------------


def runner(
    loop: asyncio.AbstractEventLoop | None, call: Callable[[], Any]
) -> Callable[[int], float]:
    """Seconds per call over `n` calls in a row."""
    if loop is None:

        def run(n: int) -> float:
            t = time.perf_counter()
            for _ in range(n):
                call()
            return (time.perf_counter() - t) / n

        return run

    async def many(n: int) -> None:
        for _ in range(n):
            await call()

    def run_async(n: int) -> float:
        t = time.perf_counter()
        loop.run_until_complete(many(n))
        return (time.perf_counter() - t) / n

    return run_async


def measure(runs: dict[str, Callable[[int], float]], rounds: int) -> dict[str, float]:
    """Medians per call; the implementations interleaved round by round, the
    collector on (as callers run) and collected before each sample."""
    first = next(iter(runs.values()))
    once = first(1)
    number = max(1, int(0.2 / max(once, 1e-7)))
    samples: dict[str, list[float]] = {k: [] for k in runs}
    for _ in range(rounds):
        for name, run in runs.items():
            gc.collect()
            samples[name].append(run(number))
    return {k: statistics.median(v) for k, v in samples.items()}


def bench_case(case: Case, mode: str, rounds: int) -> dict[str, float]:
    loop = asyncio.new_event_loop() if mode == "async" else None
    clients = async_clients(case.body) if loop else sync_clients(case.body)
    calls = {
        name: (lambda c=c: getattr(c, case.method)(**case.kwargs)) for name, c in clients.items()
    }
    results = {
        name: (loop.run_until_complete(call()) if loop else call()) for name, call in calls.items()
    }
    expected = flat(results["quillon"])
    for name, result in results.items():
        if flat(result) != expected:
            raise SystemExit(f"{case.name} ({mode}): {name} does not give the package's result")
    del results
    try:
        return measure({name: runner(loop, call) for name, call in calls.items()}, rounds)
    finally:
        if loop is not None:
            loop.close()


# ---- peak memory in a fresh process -----------------------------------------------------

MEMORY_CHILD = """
import ctypes, gc, sys
sys.path.insert(0, sys.argv[1])
import clients
which, n = sys.argv[2], int(sys.argv[3])
import workloads as wl
body = wl.debits_parse(n, False).body.encode()
client = clients.sync_clients(body)[which]
kwargs = {"nit": clients.NIT, "account_number": clients.ACCOUNT, **clients.RANGE}
client.debits(**kwargs)  # warm: imports, first-call caches

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
    f.write("5")
before = status("VmRSS:")
out = client.debits(**kwargs)
print(status("VmHWM:") - before, len(body))
"""


def peak_memory(which: str, n: int) -> tuple[int, int]:
    res = subprocess.run(
        [sys.executable, "-c", MEMORY_CHILD, str(HERE), which, str(n)],
        capture_output=True,
        text=True,
        check=True,
    )
    peak, size = res.stdout.split()
    return int(peak), int(size)


# ---- loopback HTTP ----------------------------------------------------------------------

SIMULATOR = """
import sys, time
from quillon.accounts.simulator import GatewaySimulator
sim = GatewaySimulator(access_token=sys.argv[1]).start()
print(sim.url, sim.nit, sim.account_numbers()[0], flush=True)
sys.stdin.read()  # until the benchmark closes the pipe
"""


def loopback(rounds: int) -> dict[str, dict[str, float]]:
    """The clients against the gateway simulator over loopback HTTP; the
    simulator runs in its own process, so its work does not share this one's
    interpreter lock."""
    sim = subprocess.Popen(
        [sys.executable, "-c", SIMULATOR, TOKEN],
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        text=True,
    )
    out: dict[str, dict[str, float]] = {}
    try:
        assert sim.stdout is not None
        url, nit, account = sim.stdout.readline().split()
        token = AccessToken(access_token=TOKEN, token_type="Bearer", expires_at=2**62)
        http = [httpx.Client() for _ in IMPLS]
        clients = {
            "quillon": Client(client_id=CLIENT_ID, base_url=url, token=token, http_client=http[0]),
            "(1) plain": client_plain.PlainClient(http[1], url, CLIENT_ID, TOKEN),
            "(2) msgspec": client_msgspec.MsgspecClient(http[2], url, CLIENT_ID, TOKEN),
        }
        month = {"date_from": "2024-01-01", "date_to": "2024-01-31"}
        for label, method, kwargs in [
            ("get_account", "get_account", {"nit": nit, "account_number": account}),
            ("debits of a month", "debits", {"nit": nit, "account_number": account, **month}),
        ]:
            calls = {
                k: (lambda c=c, m=method, kw=kwargs: getattr(c, m)(**kw))
                for k, c in clients.items()
            }
            expected = flat(calls["quillon"]())
            for k, call in calls.items():
                if flat(call()) != expected:
                    raise SystemExit(f"loopback {label}: {k} does not give the package's result")
            out[label] = measure({k: runner(None, call) for k, call in calls.items()}, rounds)
        for h in http:
            h.close()
    finally:
        if sim.stdin is not None:
            sim.stdin.close()
        sim.wait(timeout=10)
    return out


# ---- report ---------------------------------------------------------------------------


def fmt(s: float) -> str:
    if s < 1e-3:
        return f"{s * 1e6:.0f} µs"
    if s < 1:
        return f"{s * 1e3:.1f} ms"
    return f"{s:.2f} s"


def row(label: str, m: dict[str, float]) -> str:
    q = m["quillon"]
    return (
        f"| {label} | {fmt(q)} | {fmt(m['(1) plain'])} | {fmt(m['(2) msgspec'])} "
        f"| **{m['(1) plain'] / q:.2f}x** | **{m['(2) msgspec'] / q:.2f}x** |"
    )


HEAD = (
    "| case | quillon | (1) plain | (2) msgspec | quillon vs (1) | quillon vs (2) |\n"
    "|---|---|---|---|---|---|"
)


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
        f"Python {sys.version.split()[0]}, httpx {httpx.__version__}, "
        f"msgspec {msgspec.__version__}; {time.strftime('%Y-%m-%d %H:%M')}"
    )
    for mode in ("sync", "async"):
        emit()
        emit(
            f"### {'Client' if mode == 'sync' else 'AsyncClient'}, in-memory transport "
            "(ratios: time of the peer / time of quillon)"
        )
        emit()
        emit(HEAD)
        for case in cases(args.quick):
            rounds = 3 if case.size >= 100_000 or args.quick else 7
            emit(row(case.name, bench_case(case, mode, rounds)))

    emit()
    emit("### Peak memory growth of one `Client.debits` call (fresh process)")
    emit()
    emit("| movements | body | quillon | (1) plain | (2) msgspec |")
    emit("|---|---|---|---|---|")
    for n in (1_000,) if args.quick else (10_000, 100_000):
        cells = []
        size = 0
        for which in IMPLS:
            peak, size = peak_memory(which, n)
            cells.append(f"{peak / 1e6:.0f} MB ({peak / size:.2f}x body)")
        emit(f"| {n:,} | {size / 1e6:.1f} MB | " + " | ".join(cells) + " |")

    emit()
    emit("### Over loopback HTTP, against the gateway simulator (`Client`)")
    emit()
    emit(HEAD)
    for label, m in loopback(3 if args.quick else 9).items():
        emit(row(label, m))
    if args.out:
        args.out.parent.mkdir(parents=True, exist_ok=True)
        args.out.write_text("\n".join(lines) + "\n", encoding="utf-8")


if __name__ == "__main__":
    os.environ.setdefault("PYTHONHASHSEED", "0")
    main()
