"""The result objects built straight from the answer bytes (``_objects.parse``)
against the engine's ``call`` read by the package, over the parse corpora,
the hostile bodies and mutations of the success bodies: the same values, or
both refuse."""

from __future__ import annotations

import json
from typing import Any

import pytest

from engine_cases import OPS
from parse_corpus import parse_corpus
from quillon.accounts import _objects
from quillon.accounts.errors import QuillonError
from test_fast_results import old_path, same

CASES = list(parse_corpus(per_body=60))
REFUSED = "refused"


def call_path(op: str, status: int, body: bytes) -> Any:
    try:
        return old_path(op, status, body)
    except QuillonError:
        return REFUSED


def repeats_a_key(body: bytes) -> bool:
    def pairs(items: list[tuple[str, Any]]) -> dict[str, Any]:
        if len({k for k, _ in items}) < len(items):
            raise KeyError("repeated")
        return dict(items)

    try:
        json.loads(body, object_pairs_hook=pairs)
    except KeyError:
        return True
    except ValueError:
        pass
    return False


def disagreements(op: str) -> list[str]:
    found: list[str] = []
    for name, status, body in CASES:
        if name != op:
            continue
        fast = _objects.parse(f"accounts.{op}", status, body)
        try:
            body.decode()
        except UnicodeDecodeError:  # only UTF-8 bodies are taken
            if fast is not None:
                found.append(f"{status} {body[:200]!r}: built from bytes that are not UTF-8")
            continue
        called = call_path(op, status, body)
        if fast is None:
            # Left to the call: a success it leaves is one it cannot read in one
            # pass (a repeated key, where the last one counts).
            if called is not REFUSED and not repeats_a_key(body):
                found.append(f"{status} {body[:200]!r}: left a success to the call")
            continue
        if called is REFUSED:
            found.append(f"{status} {body[:200]!r}: built what the call refuses")
            continue
        try:
            same(fast, called)
        except AssertionError:
            found.append(f"{status} {body[:200]!r}: {fast!r:.300} != {called!r:.300}")
    return found


def test_the_corpus_meets_both_outcomes() -> None:
    for op in OPS:
        outcomes = {call_path(op, s, b) is REFUSED for n, s, b in CASES if n == op}
        assert outcomes == {True, False}, op


@pytest.mark.parametrize("op", OPS)
def test_the_fast_path_agrees_with_the_call(op: str) -> None:
    found = disagreements(op)
    assert not found, f"{len(found)} disagreements, the first: " + "\n".join(found[:5])
