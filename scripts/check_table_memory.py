"""Builds and exports tables over and over and reports the process's resident
memory: it must level off (no growth from one call to the next).

    python scripts/check_table_memory.py [--calls N] [--rows R]

Each call builds a table of R movements with ``_objects.table``, exports it
twice through the Arrow stream interface (read by pyarrow when installed,
else dropped unread), reads its schema and drops it. Exits non-zero when the
resident memory after N calls exceeds that after the first tenth by more
than 8 MiB.
"""

from __future__ import annotations

import argparse
import json
import sys
from pathlib import Path

from quillon.accounts import _objects

try:
    import pyarrow as pa  # type: ignore[import-untyped]
except ImportError:
    pa = None


def rss_kib() -> int:
    for line in Path("/proc/self/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def body(rows: int) -> bytes:
    movement = {
        "transactionId": "T-1",
        "tipoOperacion": "CREDITO",
        "estado": "PAGADO",
        "importe": "150.50",
        "importeComision": 1.5,
        "moneda": "BOB",
        "fechaHoraTransaccion": "2024-01-01T10:00:00",
        "cuentaOrigen": "555",
    }
    return json.dumps({"code": "00", "data": [movement] * rows}).encode()


def one_call(data: bytes) -> None:
    table = _objects.table("accounts.debits", 200, data)
    assert isinstance(table, _objects.Columns)
    if pa is not None:
        assert pa.table(table).num_rows == len(table)
    else:
        table.__arrow_c_stream__()
    table.__arrow_c_stream__()
    table.__arrow_c_schema__()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=100_000)
    parser.add_argument("--rows", type=int, default=20)
    args = parser.parse_args()
    data = body(args.rows)
    warm = max(1, args.calls // 10)
    for _ in range(warm):
        one_call(data)
    after_warm = rss_kib()
    for _ in range(args.calls - warm):
        one_call(data)
    after_all = rss_kib()
    growth = after_all - after_warm
    print(
        f"{args.calls} calls of {args.rows} rows: resident {after_warm} KiB after {warm}, "
        f"{after_all} KiB after all ({growth:+d} KiB); pyarrow {'used' if pa else 'absent'}"
    )
    return 0 if growth <= 8 * 1024 else 1


if __name__ == "__main__":
    sys.exit(main())
