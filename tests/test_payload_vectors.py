"""Recorded payload cases through the native call: a malformed payload is
refused with exactly the recorded message, a well-formed one is never refused
as a payload."""

import json
from pathlib import Path
from typing import Any

import pytest

_native = pytest.importorskip("quillon.accounts._native")

VECTORS = Path(__file__).parent / "vectors" / "payload-decoding.jsonl"


def load_cases() -> list[dict[str, Any]]:
    with VECTORS.open(encoding="utf-8") as lines:
        return [json.loads(line) for line in lines if line.strip()]


CASES = load_cases()


@pytest.mark.parametrize("case", CASES, ids=[f"{i}-{c['op']}" for i, c in enumerate(CASES)])
def test_recorded_payload_case(case: dict[str, Any]) -> None:
    answer: dict[str, Any] = json.loads(_native.call(case["op"], case["payload"]))
    expected = case["message"]
    if expected is None:
        if not answer["ok"]:
            assert not answer["error"]["message"].startswith("invalid payload")
    else:
        assert answer["ok"] is False
        assert answer["error"]["kind"] == "ffi"
        assert answer["error"]["message"] == expected
        assert answer["error"]["retryable"] is False


def test_every_recorded_case_is_loaded() -> None:
    assert len(CASES) >= 300
    assert any(c["message"] is None for c in CASES)
