"""Recorded engine cases (tests/vectors/*.jsonl) through the native call.

payload-decoding: a malformed payload is refused with exactly the recorded
message, a well-formed one never as a payload. parse-stage and build-stage:
each call answers exactly the recorded text, and the fast path
(``_objects``) makes the same result objects from the same body; it leaves
a failed answer to the call, and a successful one only when the body
repeats a key. A case gives its payload as
text, or as its parts: "input" with "status" and "body" (parse), or
"config", "token" and "input" (build). "repeat": [[unit, n], ...] stands
for each unit written n times at the payload's successive @REPEAT@ marks.
"""

import json
import pickle
from pathlib import Path
from typing import Any

import pytest

_native = pytest.importorskip("quillon.accounts._native")
from quillon.accounts import OPERATIONS, _objects  # noqa: E402

VECTORS = Path(__file__).parent / "vectors"


def load(name: str) -> list[dict[str, Any]]:
    with (VECTORS / name).open(encoding="utf-8") as lines:
        return [json.loads(line) for line in lines if line.strip()]


def payload_of(case: dict[str, Any]) -> str:
    if "payload" in case:
        text: str = case["payload"]
        for unit, times in case.get("repeat", []):
            text = text.replace("@REPEAT@", unit * times, 1)
        return text
    if "body" in case:
        response = {"status": case["status"], "body": case["body"]}
        return json.dumps({"input": case["input"], "response": response})
    return json.dumps({k: case[k] for k in ("config", "token", "input")})


PAYLOADS = load("payload-decoding.jsonl")
STAGES = load("parse-stage.jsonl") + load("build-stage.jsonl")


@pytest.mark.parametrize("case", PAYLOADS, ids=[f"{i}-{c['op']}" for i, c in enumerate(PAYLOADS)])
def test_recorded_payload_case(case: dict[str, Any]) -> None:
    answer: dict[str, Any] = json.loads(_native.call(case["op"], case["payload"]))
    expected = case["message"]
    if expected is None:
        if not answer["ok"]:
            assert not answer["error"]["message"].startswith("invalid payload")
    else:
        assert answer["error"] == {"kind": "ffi", "message": expected, "retryable": False}


@pytest.mark.parametrize("case", STAGES, ids=[f"{i}-{c['op']}" for i, c in enumerate(STAGES)])
def test_recorded_stage_case(case: dict[str, Any]) -> None:
    assert _native.call(case["op"], payload_of(case)) == case["answer"]


PARSED = [c for c in STAGES if "body" in c]


@pytest.mark.parametrize("case", PARSED, ids=[f"{i}-{c['op']}" for i, c in enumerate(PARSED)])
def test_the_fast_path_gives_the_recorded_result(case: dict[str, Any]) -> None:
    name = case["op"].removesuffix(".parse")
    fast = _objects.parse(name, case["status"], case["body"].encode())
    answer = json.loads(case["answer"])
    if not answer["ok"]:
        assert fast is None
        return
    if fast is None:
        repeats: list[bool] = []
        json.loads(
            case["body"], object_pairs_hook=lambda kv: repeats.append(len(dict(kv)) < len(kv))
        )
        assert any(repeats)
        return
    expected = OPERATIONS[name].result_from_json(answer["value"])
    assert (type(fast), fast, repr(fast)) == (type(expected), expected, repr(expected))
    assert pickle.loads(pickle.dumps(fast)) == fast


def test_every_recorded_case_is_loaded() -> None:
    assert len(PAYLOADS) >= 300
    assert len(STAGES) >= 380
    assert any(c["message"] is None for c in PAYLOADS)
