"""Gateway answers as (operation, status, body) triples, for the tests that
hold a fast path (``_objects.parse``, ``_objects.table``) against the engine's
``call``: the success bodies of the fast-result tests, the parse calls among
the engine cases and the recorded payload vectors, the hostile bodies, and
mutations of the success bodies (seeded, so every run sees the same ones)."""

from __future__ import annotations

import json
import random
from collections.abc import Collection, Iterator
from pathlib import Path

from engine_cases import DATA, OPS, mixed_calls
from test_fast_results import BALANCES, MANY, SUCCESS
from test_hostile_input import HOSTILE_BODIES

Case = tuple[str, int, bytes]
VECTORS = Path(__file__).parent / "vectors" / "payload-decoding.jsonl"
PARSE_CASES = Path(__file__).parent / "vectors" / "parse-stage.jsonl"
LIMIT = 127  # nesting levels a document may have, the outermost included
STATUSES = (200, 401, 500)
# What a mutation inserts: JSON's tokens, and texts the decoder treats apart.
TOKENS = [b"[", b"]", b"{", b"}", b",", b":", b'"', b"\\", b"null", b"-0", b"1e400", b'"\\ud800"']


def success(ops: Collection[str]) -> Iterator[Case]:
    for op, doc in SUCCESS:
        if op in ops:
            yield op, 200, json.dumps(doc).encode()


def recorded(ops: Collection[str]) -> Iterator[Case]:
    """The parse calls of the engine cases, the payload vectors and the recorded parse cases."""
    calls = list(mixed_calls())
    with VECTORS.open(encoding="utf-8") as lines:
        calls += [(c["op"], c["payload"]) for c in map(json.loads, filter(str.strip, lines))]
    for full, payload in calls:
        op = full.removeprefix("accounts.").removesuffix(".parse")
        if op not in ops or not full.endswith(".parse"):
            continue
        try:
            response = json.loads(payload)["response"]
            status, body = response["status"], response["body"].encode()
        except (ValueError, KeyError, TypeError, AttributeError, UnicodeEncodeError):
            continue
        if isinstance(status, int) and 0 <= status <= 0xFFFF:
            yield op, status, body
    with PARSE_CASES.open(encoding="utf-8") as lines:
        for case in map(json.loads, filter(str.strip, lines)):
            op = case["op"].removeprefix("accounts.").removesuffix(".parse")
            body, status = case.get("body"), case.get("status")
            if op in ops and isinstance(body, str) and isinstance(status, int):
                yield op, status, body.encode("utf-8", "surrogatepass")


def hostile(ops: Collection[str]) -> Iterator[Case]:
    """The hostile bodies, and lists nested at the limit and past it, under every status."""
    nested = [
        f'{{"code":"00","data":{"[" * levels + "]" * levels}}}'
        for levels in (LIMIT - 1, LIMIT, 500)
    ]
    for op in ops:
        for status in STATUSES:
            for body in [*HOSTILE_BODIES, *nested]:
                yield op, status, body.encode()


def shapes(ops: Collection[str]) -> Iterator[Case]:
    """Payloads of every shape the operations take, and of shapes near them."""
    lists: list[object] = [MANY, BALANCES, [], BALANCES, MANY]
    datas: list[object] = [None, 7, "x", {}, [], [[]], {"movimientos": 1}, {"saldos": [1]}]
    datas += [lists[:n] for n in range(1, 6)] + [lists[2:]]  # a list of n lists
    datas += [{"movimientos": MANY, "saldos": BALANCES, "cuenta": 1}, DATA["list"]]
    datas += [[DATA[op]] for op in ("get", "create")] + list(DATA.values())
    for op in ops:
        for data in datas:
            yield op, 200, json.dumps({"code": "00", "data": data}).encode()


def mutate(body: bytes, rng: random.Random) -> bytes:
    at = rng.randrange(len(body) + 1)
    kind = rng.randrange(4)
    if kind == 0:  # cut
        return body[:at]
    if kind == 1:  # drop a span
        return body[:at] + body[at + rng.randrange(1, 16) :]
    if kind == 2:  # repeat a span
        return body[:at] + body[at : at + rng.randrange(1, 64)] * 2 + body[at:]
    return body[:at] + rng.choice(TOKENS) + body[at:]


def mutated(ops: Collection[str], per_body: int) -> Iterator[Case]:
    """Each success body read as every operation, and `per_body` mutations of it."""
    rng = random.Random(18)
    bodies = [body for _, _, body in success(OPS)]
    for body in bodies:
        for op in ops:
            yield op, 200, body
        for _ in range(per_body):
            yield rng.choice(sorted(ops)), 200, mutate(body, rng)


def parse_corpus(ops: Collection[str] = OPS, per_body: int = 0) -> Iterator[Case]:
    """Every answer above for the operations `ops` (short names: "debits")."""
    yield from success(ops)
    yield from recorded(ops)
    yield from hostile(ops)
    yield from shapes(ops)
    yield from mutated(ops, per_body)
