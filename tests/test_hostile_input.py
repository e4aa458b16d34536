"""Hostile input: whatever the caller or the gateway sends, the engine answers
one envelope, never a crash, and its peak memory stays a small multiple of
the input. The large cases run in a child process, which measures its own
peak resident memory around the one call."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import pytest

from engine_cases import OPS, SANITIZED, VALID, answer, build_payload
from engine_cases import parse_payload as parse_p

# Under the sanitizers everything is slower and bigger: a tenth of the size.
MB = 100_000 if SANITIZED else 1_000_000


MARK = "@MARK@"
QUOTED = json.dumps(MARK)  # the mark as a JSON string in the payload


def create_with_alias(alias_json: str) -> tuple[str, str]:
    """A create payload whose alias is the given JSON string text."""
    payload = build_payload(
        "create", {**VALID["create"], "accounts": [{"alias": MARK, "category": "b"}]}
    )
    return "accounts.create.build", payload.replace(QUOTED, alias_json)


# ---- large input: an envelope, and memory a small multiple of the input --------


@dataclass(frozen=True)
class Big:
    make: Callable[[], tuple[str, str]]
    expected: str  # "ok", an error kind, or a kind and a message prefix: "decode: invalid JSON"
    factor: float  # peak memory growth allowed, in multiples of the payload's size


def _body_list(op: str, element: str, count: int) -> tuple[str, str]:
    body = '{"code":"00","data":[' + ",".join([element] * count) + "]}"
    return f"accounts.{op}.parse", parse_p(op, body)


BIG: dict[str, Big] = {
    "100 MB ignored string": Big(
        lambda: ("accounts.get.build", build_payload("get", x="x" * (100 * MB))), "ok", 0.5
    ),
    "100 MB text field": Big(
        lambda: create_with_alias('"' + "y" * (100 * MB) + '"'), "validation", 1.5
    ),
    "million account numbers": Big(
        lambda: (
            "accounts.balances.build",
            build_payload("balances", {"nit": "1234567", "account_numbers": ["1"] * MB}),
        ),
        "validation",
        12,
    ),
    "number with a million digits": Big(
        lambda: (
            "accounts.create.build",
            build_payload("create", {**VALID["create"], "establishment_id": MARK}).replace(
                QUOTED, "7" * MB
            ),
        ),
        "ffi: invalid payload: number out of range",
        0.5,
    ),
    "100 MB body that is no JSON, 200": Big(
        lambda: ("accounts.get.parse", parse_p("get", "<" * (100 * MB))),
        "decode: invalid JSON body: expected value",
        2.5,
    ),
    # Malformed lists are refused at their first element; the body's document
    # costs a few words for each of its values, however short their text.
    "a million zeros where movements belong": Big(
        lambda: _body_list("debits", "0", MB), "decode: unexpected payload shape", 16
    ),
    # A result lists every member of every record: the shortest movements
    # grow sevenfold as text, and the text is returned as a Python str.
    "100k movements": Big(
        lambda: _body_list(
            "credits", '{"tipoOperacion":"C","estado":"PAGADO","importe":1}', MB // 10
        ),
        "ok",
        20,
    ),
}

CHILD = """
import gc, json, sys
sys.path.insert(0, sys.argv[1])
import test_hostile_input as t
from quillon.accounts import _native

def status(key):
    with open("/proc/self/status") as f:
        return next(int(l.split()[1]) * 1024 for l in f if l.startswith(key))

op, payload = t.BIG[sys.argv[2]].make()
gc.collect()
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # the peak starts again from here
before = status("VmRSS:")
text = _native.call(op, payload)
growth = status("VmHWM:") - before
out = json.loads(text)
error = None if out["ok"] else {k: str(v)[:300] for k, v in out["error"].items()}
size = len(payload.encode())
print(json.dumps({"input": size, "growth": growth, "ok": out["ok"], "error": error}))
"""


def run_child(name: str) -> dict[str, Any]:
    done = subprocess.run(
        [sys.executable, "-c", CHILD, str(Path(__file__).parent), name],
        capture_output=True,
        text=True,
        timeout=300,
        check=False,
    )
    assert done.returncode == 0, f"the child died ({done.returncode}): {done.stderr[-3000:]}"
    result: dict[str, Any] = json.loads(done.stdout)
    return result


@pytest.mark.skipif(
    not os.access("/proc/self/clear_refs", os.W_OK), reason="needs Linux's resettable peak memory"
)
@pytest.mark.parametrize("name", BIG)
def test_large_input_answers_an_envelope_within_a_small_multiple_of_its_size(name: str) -> None:
    case = BIG[name]
    result = run_child(name)
    kind, _, prefix = case.expected.partition(": ")
    if kind == "ok":
        assert result["ok"], result
    else:
        assert result["error"]["kind"] == kind, result
        assert result["error"]["message"].startswith(prefix), result
    if not SANITIZED:
        ratio = result["growth"] / result["input"]
        assert ratio <= case.factor, f"{name}: peak grew {ratio:.1f} x the input ({result})"


DIGITS = "9" * 5_000


def movement_body(importe: str) -> str:
    movement = '{"tipoOperacion":"C","estado":"PAGADO","importe":' + importe + "}"
    return '{"code":"00","data":[' + movement + "]}"


# Bodies that every operation must survive (the fast path is held against the
# engine over them too: parse_corpus.py).
HOSTILE_BODIES = [
    "\x00",
    "[" * 200,
    '{"code":"00","data":' + "[" * 126 + "]" * 126 + "}",
    '{"code":null,"data":{"a":' * 60 + "1" + "}}" * 60,
    "1e99999",
    '{"code":"00","data":{"cuenta":{"numeroCuenta":{}}}}',
    movement_body(DIGITS),
    movement_body("1e" + DIGITS),
]


def test_every_operation_survives_the_same_hostile_body() -> None:
    for op in OPS:
        for status in (200, 401, 500):
            for body in HOSTILE_BODIES:
                out = answer(f"accounts.{op}.parse", parse_p(op, body, status))
                assert out["ok"] or out["error"]["kind"] in ("decode", "api", "authentication")
