"""Payloads for the reliability tests: a valid input per operation, build and
parse payloads around them, and a mix of calls that meets every kind of
answer the engine gives (and every TypeError of the binding)."""

from __future__ import annotations

import json
import os
from collections.abc import Callable
from pathlib import Path
from typing import Any

from quillon.accounts import _native

# Set by scripts/sanitize_pytest.sh: memory and time figures mean little there.
SANITIZED = os.environ.get("QUILLON_SANITIZED") == "1"

NIT, ACC = "1234567", "12345678"
CONFIG: dict[str, Any] = {"client_id": "cid-1", "base_url": "https://gw.test/root"}
TOKEN: dict[str, Any] = {"access_token": "tok-1", "token_type": "Bearer", "expires_at": 0}

# One input per operation that builds a request (valid), a gateway answer
# that each operation turns into a result (data), and a movement and a
# balance with every member given a value of its own (full_movement,
# full_balance), so that a misspelled or swapped member name shows.
_CASES: dict[str, Any] = json.loads(
    (Path(__file__).parent / "vectors" / "operations.json").read_text(encoding="utf-8")
)
VALID: dict[str, dict[str, Any]] = _CASES["valid"]
OPS = list(VALID)
DATA: dict[str, Any] = _CASES["data"]
MOVEMENT: dict[str, Any] = DATA["credits"][0]
FULL_MOVEMENT: dict[str, Any] = _CASES["full_movement"]
FULL_BALANCE: dict[str, Any] = _CASES["full_balance"]


def build_payload(
    op: str,
    inp: Any = None,
    *,
    config: Any = CONFIG,
    token: Any = TOKEN,
    **extra: Any,
) -> str:
    return json.dumps(
        {"config": config, "token": token, "input": VALID[op] if inp is None else inp, **extra}
    )


def parse_payload(op: str, body: str, status: int = 200, inp: Any = None, **extra: Any) -> str:
    response = {"status": status, "body": body}
    return json.dumps({"input": VALID[op] if inp is None else inp, "response": response, **extra})


def ok_body(op: str) -> str:
    return json.dumps({"code": "00", "data": DATA[op]})


def answer(op: str, payload: str) -> dict[str, Any]:
    out: dict[str, Any] = json.loads(_native.call(op, payload))
    return out


def mixed_calls(tag: str = "") -> list[tuple[str, str]]:
    """Calls meeting every kind of answer; `tag` makes each payload a new text."""
    calls: list[tuple[str, str]] = []
    for op in OPS:
        calls.append((f"accounts.{op}.build", build_payload(op, trace=tag)))
        calls.append((f"accounts.{op}.parse", parse_payload(op, ok_body(op), trace=tag)))
    get = "accounts.get"
    calls += [
        ("describe", tag),
        ("version", tag),
        # validation: a bad field, then a missing token
        (f"{get}.build", build_payload("get", {"nit": "12", "account_number": tag})),
        (f"{get}.build", build_payload("get", token=None, trace=tag)),
        # authentication, api by status and by code, decode of body and of shape
        (f"{get}.parse", parse_payload("get", json.dumps({"message": tag or "no"}), 401)),
        (f"{get}.parse", parse_payload("get", "<html>" + tag, 503)),
        (f"{get}.parse", parse_payload("get", json.dumps({"code": "07", "data": [tag, "b"]}))),
        (f"{get}.parse", parse_payload("get", "not json " + tag)),
        (f"{get}.parse", parse_payload("get", json.dumps({"code": "00", "data": {"x": tag}}))),
        # ffi: unknown operation and stage, invalid payload
        (f"accounts.nope{tag}.build", "{}"),
        (f"{get}.fetch", tag),
        (f"{get}.build", '{"config": ' + json.dumps(tag)),
    ]
    return calls


def binding_errors(tag: str = "") -> list[Callable[[], object]]:
    """Calls that the binding refuses with TypeError (or UnicodeEncodeError)."""
    call: Any = _native.call
    return [
        lambda: call("version"),
        lambda: call(),
        lambda: call("version", tag, tag),
        lambda: call("version", payload=tag, op="x", extra=1),
        lambda: call("version", tag, op="version"),
        lambda: call(1, tag),
        lambda: call("version", None),
        lambda: call("version", tag.encode()),
        lambda: call("version\ud800", tag),
        lambda: call("version", tag + "\udc00"),
    ]
