"""Hostile answers from the token endpoint end in a typed error, never a raw one or a
token kept forever."""

from __future__ import annotations

import json
import socket
import time
from typing import Any

import pytest

from quillon.accounts import (
    NO_RETRY,
    AccessToken,
    ApiError,
    Client,
    DecodeError,
    QuillonError,
)
from rawserver import RawServer, response

GOOD = "tok-abcdefgh"


def granted(**members: Any) -> tuple[int, dict[str, Any]]:
    return 200, {"access_token": GOOD, "token_type": "Bearer", "expires_in": 3600} | members


ANSWERS: dict[str, tuple[tuple[int, Any], type[QuillonError], str]] = {
    "400 digits": (granted(expires_in=int("9" * 400)), DecodeError, "expires_in"),
    "superscript two": (granted(expires_in="²"), DecodeError, "expires_in"),
    "fraction": (granted(expires_in=3599.5), DecodeError, "expires_in"),
    "NaN": (granted(expires_in=float("nan")), DecodeError, "expires_in"),
    "boolean": (granted(expires_in=True), DecodeError, "expires_in"),
    "negative": (granted(expires_in=-5), DecodeError, "expires_in"),
    "empty token": (granted(access_token=""), DecodeError, "is empty"),
    "blank token": (granted(access_token="   "), DecodeError, "white space"),
    "header break": (granted(access_token="tok\r\nX-Injected: 1"), DecodeError, "control"),
    "not ASCII": (granted(access_token="tök-abcdef"), DecodeError, "ASCII"),
    "error a list": ((400, {"error": ["invalid_client"]}), ApiError, "refused"),
    "rate limited": ((429, {"error": "slow_down"}), ApiError, "slow_down"),
}


@pytest.mark.parametrize("case", list(ANSWERS))
def test_a_hostile_token_answer_is_a_typed_error(case: str) -> None:
    (status, body), kind, words = ANSWERS[case]

    def endpoint(conn: socket.socket, _: bytes) -> None:
        conn.sendall(response(status, json.dumps(body).encode(), "Content-Type: application/json"))

    with (
        RawServer(endpoint, connections=2, lifetime=10) as server,
        Client(
            client_id="cid",
            base_url=server.url,
            basic_token="basic-abcdefgh",
            token_url=server.url + "/oauth/token",
            retry=NO_RETRY,
            timeout=5.0,
        ) as client,
        pytest.raises(QuillonError) as raised,
    ):
        client.list_accounts(nit="1234567")
    assert type(raised.value) is kind
    assert words in str(raised.value)
    assert raised.value.retryable is (status == 429)
    # the token endpoint was asked once, and nothing was sent with what it gave
    assert [r.split(b" ", 2)[1] for r in server.requests] == [b"/oauth/token"]


def test_stated_lifetimes_that_are_whole_numbers_are_kept() -> None:
    for stated in (3600, "3600", 3600.0):
        token = AccessToken.from_json({"access_token": GOOD, "expires_in": stated})
        assert 3590 < token.expires_at - time.time() <= 3600
    for broken in ({"expires_in": "1e9"}, {"expires_at": "soon"}, {"access_token": None}):
        with pytest.raises(DecodeError):
            AccessToken.from_json({"access_token": GOOD} | broken)
