"""Writes the fuzzers' seed corpus, drawn from the tests.

Seeds for call_fuzzer are the recorded payload cases of tests/vectors and,
when the engine can be imported, every (op, payload) that the Python tests
hand to it (recorded by the record_calls plugin). Seeds for parse_fuzzer are
the response bodies among those calls, with their operation and status.

    python fuzz/make_corpus.py OUT_DIR
"""

from __future__ import annotations

import hashlib
import json
import os
import subprocess
import sys
import tempfile
from collections.abc import Iterable, Iterator
from pathlib import Path
from typing import Any

ROOT = Path(__file__).resolve().parent.parent
OPERATIONS = [
    "accounts.get",
    "accounts.list",
    "accounts.create",
    "accounts.set_status",
    "accounts.reconcile",
    "accounts.credits",
    "accounts.debits",
    "accounts.balances",
]
# call_fuzzer's first byte: the stages, "describe", "version", 12 malformed
# names, then a free-form name on the first line.
STAGES = [f"{name}.{stage}" for name in OPERATIONS for stage in ("build", "parse")]
FREE_FORM = len(STAGES) + 2 + 12
# parse_fuzzer's second byte, when its top bit is clear.
STATUSES = [200, 201, 204, 299, 199, 300, 400, 401, 403, 404, 408, 429, 500, 502, 503, 65535]
# Test files whose calls are recorded: those that go through the engine.
RECORDED_TESTS = [
    "tests/test_vectors.py",
    "tests/test_client.py",
    "tests/test_async_client.py",
    # every operation's payload shapes, hostile bodies and mutations
    "tests/test_fast_path_agrees.py",
]
# Larger seeds only slow the fuzzers down; hostile sizes are tested elsewhere.
MAX_SEED = 16 * 1024


def call_seed(op: str, payload: str) -> bytes:
    data = payload.encode("utf-8")
    if op == "describe":
        return bytes([len(STAGES)]) + data
    if op == "version":
        return bytes([len(STAGES) + 1]) + data
    if op in STAGES:
        return bytes([STAGES.index(op)]) + data
    return bytes([FREE_FORM]) + op.encode("utf-8") + b"\n" + data


def parse_seed(op: str, payload: str) -> bytes | None:
    name, _, stage = op.rpartition(".")
    if stage != "parse" or name not in OPERATIONS:
        return None
    try:
        response = json.loads(payload)["response"]
    except (ValueError, KeyError, TypeError, IndexError):
        try:
            response = json.loads(payload)[1]
        except (ValueError, KeyError, TypeError, IndexError):
            return None
    if isinstance(response, dict):
        status, body = response.get("status"), response.get("body")
    elif isinstance(response, list) and len(response) == 2:
        status, body = response
    else:
        return None
    if not isinstance(status, int) or not isinstance(body, str) or not 0 <= status <= 65535:
        return None
    if status in STATUSES:
        header = bytes([OPERATIONS.index(name), STATUSES.index(status)])
    elif status < 0x8000:
        header = bytes([OPERATIONS.index(name), 0x80 | status >> 8, status & 0xFF])
    else:
        return None
    try:
        return header + body.encode("utf-8")
    except UnicodeEncodeError:  # a lone surrogate: never reaches the engine from Python
        return None


def vector_calls() -> Iterator[tuple[str, str]]:
    with (ROOT / "tests" / "vectors" / "payload-decoding.jsonl").open(encoding="utf-8") as lines:
        for line in lines:
            if line.strip():
                case = json.loads(line)
                yield case["op"], case["payload"]


def recorded_calls() -> list[tuple[str, str]]:
    """The calls of the Python tests, or none when the engine is not installed."""
    probe = subprocess.run(
        [sys.executable, "-c", "import quillon.accounts._native"], capture_output=True
    )
    if probe.returncode != 0:
        print("make_corpus: the engine is not importable; seeds from the vectors only")
        return []
    with tempfile.TemporaryDirectory() as tmp:
        sink = Path(tmp) / "calls.jsonl"
        env = dict(os.environ, QUILLON_RECORD_CALLS=str(sink))
        env["PYTHONPATH"] = os.pathsep.join(
            p for p in (str(ROOT / "fuzz"), env.get("PYTHONPATH", "")) if p
        )
        # Failures do not matter here: only the calls are wanted.
        subprocess.run(
            [
                sys.executable,
                "-m",
                "pytest",
                "-q",
                "-p",
                "record_calls",
                "-p",
                "no:cacheprovider",
                *RECORDED_TESTS,
            ],
            cwd=ROOT,
            env=env,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        if not sink.exists():
            return []
        with sink.open(encoding="utf-8") as lines:
            return [(c["op"], c["payload"]) for c in map(json.loads, lines)]


def write(seeds: Iterable[bytes], folder: Path) -> int:
    folder.mkdir(parents=True, exist_ok=True)
    count = 0
    for seed in seeds:
        if len(seed) > MAX_SEED:
            continue
        path = folder / hashlib.sha1(seed).hexdigest()
        if not path.exists():
            path.write_bytes(seed)
            count += 1
    return count


def main(argv: list[str]) -> int:
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    out = Path(argv[1])
    calls: list[tuple[str, Any]] = [*vector_calls(), *recorded_calls()]
    n_call = write((call_seed(op, payload) for op, payload in calls), out / "call")
    parse = (parse_seed(op, payload) for op, payload in calls)
    n_parse = write((seed for seed in parse if seed is not None), out / "parse")
    print(f"make_corpus: {len(calls)} calls -> {n_call} call seeds, {n_parse} parse seeds in {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
