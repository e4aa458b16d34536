"""pytest plugin: writes every (op, payload) that reaches the engine to the
JSON-lines file named by QUILLON_RECORD_CALLS, for the fuzzers' seed corpus.

    QUILLON_RECORD_CALLS=calls.jsonl python -m pytest -p record_calls ...
"""

from __future__ import annotations

import json
import os
from typing import IO

import pytest

_sink: IO[str] | None = None


def pytest_configure(config: pytest.Config) -> None:
    global _sink
    path = os.environ.get("QUILLON_RECORD_CALLS")
    if not path:
        return
    from quillon.accounts import _native

    real = _native.call
    _sink = open(path, "a", encoding="utf-8")  # noqa: SIM115 - open for the whole session
    sink = _sink

    def call(op: str, payload: str) -> str:
        sink.write(json.dumps({"op": op, "payload": payload}) + "\n")
        return real(op, payload)

    _native.call = call


def pytest_unconfigure(config: pytest.Config) -> None:
    if _sink is not None:
        _sink.close()
