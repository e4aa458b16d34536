"""Secrets stay where they belong, checked over random values, even when the gateway echoes them."""

from __future__ import annotations

import json
import logging
import string
from collections.abc import Callable, Iterator
from typing import Any

import httpx
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from conftest import MAIN, NIT, fast_retry
from engine_cases import OPS, TOKEN, VALID, build_payload
from quillon.accounts import (
    GET_ACCOUNT,
    AccessToken,
    AccountRef,
    Client,
    ClientConfig,
    QuillonError,
    _native,
    build,
)
from quillon.accounts.simulator import GatewaySimulator

# Any text (no lone surrogates), between markers no engine text holds.
any_text = st.text(
    st.characters(codec="utf-8", exclude_characters="\u27e6\u27e7\u27ea\u27eb"), max_size=24
)
secret = any_text.map(lambda s: f"\u27e6{s}\u27e7")
access = any_text.map(lambda s: f"\u27ea{s}\u27eb")  # never one of the others, nor holds one
BROKEN: dict[str, dict[str, Any]] = {
    "nit": {"nit": "12x"},
    "account_number": {"account_number": "1"},
    "date_to": {"date_to": "2023-12-01"},
    "accounts": {"accounts": []},
    "changes": {"changes": [{"account_number": "12345678", "status": "unknown", "reason": "x"}]},
    "account_numbers": {"account_numbers": ["1"] * 11},
}


@st.composite
def inputs(draw: st.DrawFn, op: str) -> dict[str, Any]:
    valid = VALID[op]
    breaks = [k for k, change in BROKEN.items() if set(change) <= set(valid)]
    broken = draw(st.sampled_from([None, *breaks]))
    return valid if broken is None else {**valid, **BROKEN[broken]}


def shows(text: str, value: str) -> bool:
    """Whether `value` appears in `text`, as it is or as the JSON writer escapes it."""
    return value in text or json.dumps(value, ensure_ascii=False)[1:-1] in text


@settings(max_examples=300, deadline=None)
@given(
    data=st.data(),
    op=st.sampled_from(OPS),
    client_secret=secret,
    basic_token=secret,
    access_token=st.one_of(
        access, access.map(lambda s: s + "\r\n"), access.map(lambda s: "\0" + s)
    ),
    cut=st.one_of(st.none(), st.integers(min_value=0)),
)
def test_each_secret_stays_in_its_place(
    data: st.DataObject,
    op: str,
    client_secret: str,
    basic_token: str,
    access_token: str,
    cut: int | None,
) -> None:
    inp = data.draw(inputs(op))
    form = data.draw(st.sampled_from(["object", "array"]))  # of the configuration and token
    environment = data.draw(st.sampled_from(["development", "sandbox", "production"]))
    base_url = data.draw(st.one_of(st.none(), any_text))
    token: Any = data.draw(st.sampled_from([{**TOKEN, "access_token": access_token}, None]))
    if token is not None and form == "array":
        token = [access_token, "Bearer", 0, None]

    def run(cs: str | None, bt: str | None) -> str:
        config: Any = ["cid", cs, bt, environment, base_url]
        if form == "object":
            given = {"client_secret": cs, "basic_token": bt, "base_url": base_url}
            config = {"client_id": "cid", "environment": environment} | {
                k: v for k, v in given.items() if v is not None
            }
        payload = build_payload(op, inp, config=config, token=token)
        if cut is not None:
            payload = payload[: cut % (len(payload) + 1)]  # a payload broken off anywhere
        return _native.call(f"accounts.{op}.build", payload)

    # The client secret and basic token are for the token endpoint only.
    text = run(client_secret, basic_token)
    assert not shows(text, client_secret)
    assert not shows(text, basic_token)
    if cut is None:
        assert text == run(None, None)
    # The access token goes into the credential headers and never into an error.
    out = json.loads(text)
    if not out["ok"]:
        assert not shows(json.dumps(out["error"], ensure_ascii=False), access_token)
        return
    request = out["value"]
    headers = request.pop("headers")
    assert headers.pop("access_token") == access_token
    assert headers.pop("Authorization") == "Bearer " + access_token
    assert not shows(json.dumps([request, headers], ensure_ascii=False), access_token)
    assert not any(c in access_token for c in "\r\n\0")


ECHOES: dict[str, Callable[[str], object]] = {
    "message": lambda s: {"message": f"token {s} refused"},
    "error_description": lambda s: {"error_description": s, "error": "invalid_token"},
    "errorMessage": lambda s: {"code": "05", "errorMessage": f"bad credentials: {s}"},
    "data": lambda s: {"code": "05", "errorMessage": "bad", "data": [s, f"{s}; {s}"]},
    "errorCode": lambda s: {"code": "05", "errorMessage": "bad", "errorCode": s},
    "page": lambda s: f"<html>{s}</html>",
}


header_text = st.text(
    st.sampled_from(string.ascii_letters + string.digits + "-._~+/=!$%&*"), min_size=1, max_size=40
)


@pytest.fixture(scope="module")
def http() -> Iterator[httpx.Client]:
    with httpx.Client() as client:
        yield client


@pytest.mark.parametrize("status", [200, 401, 503])
@pytest.mark.parametrize("echo", list(ECHOES))
@settings(
    max_examples=3, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture]
)
@given(
    access_token=header_text.map(lambda s: f"[[tok{s}]]"),
    client_secret=header_text.map(lambda s: f"[[sec{s}]]"),
    basic_token=header_text.map(lambda s: f"[[bas{s}]]"),
)
def test_the_package_masks_secrets_the_gateway_echoes(
    sim: GatewaySimulator,
    http: httpx.Client,
    caplog: pytest.LogCaptureFixture,
    status: int,
    echo: str,
    access_token: str,
    client_secret: str,
    basic_token: str,
) -> None:
    secrets = (access_token, client_secret, basic_token)
    body = ECHOES[echo](" ".join(secrets))
    sim.clear()
    sim.issue_token(value=access_token)
    # every attempt gets the echo, retries included
    sim.fail_next(status, count=5, body=body if isinstance(body, str) else json.dumps(body))
    caplog.clear()
    client = Client(
        client_id="cid",
        token=AccessToken(access_token),
        base_url=sim.url,
        client_secret=client_secret,
        basic_token=basic_token,
        http_client=http,
        retry=fast_retry(max_attempts=2),
        sleep=lambda _: None,
    )
    with (
        caplog.at_level(logging.DEBUG, logger="quillon.accounts"),
        pytest.raises(QuillonError) as raised,
    ):
        client.get_account(nit=NIT, account_number=MAIN)
    logged = [r.getMessage() for r in caplog.records]
    assert any(m.startswith("sending accounts.get") for m in logged)
    assert any(m.startswith("accounts.get answered HTTP") for m in logged)
    config = ClientConfig(client_id="cid", client_secret=client_secret, basic_token=basic_token)
    request = build(GET_ACCOUNT, config, AccessToken(access_token), AccountRef(NIT, MAIN))
    assert request.headers["Authorization"] == f"Bearer {access_token}"
    shown = [
        str(raised.value),
        repr(raised.value),
        repr(raised.value.args),
        json.dumps(raised.value.to_dict(), ensure_ascii=False),
        repr(client),
        repr(config),
        repr(AccessToken(access_token)),
        repr(request),
        *(r.getMessage() for r in caplog.records),
    ]
    for text in shown:
        for value in secrets:
            assert not shows(text, value), (echo, text)
