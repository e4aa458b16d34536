"""The gateway simulator seen from plain HTTP: envelope, Spanish records, refusals, faults."""

from __future__ import annotations

import asyncio
import json
import socket
import time
from typing import Any

import httpx
import pytest

from conftest import MAIN, NIT, SAVINGS
from quillon.accounts import NO_RETRY, AsyncClient, Client, TransportError
from quillon.accounts.simulator import API_PATH, GatewaySimulator


def send(
    sim: GatewaySimulator,
    method: str,
    path: str = "",
    body: Any = None,
    *,
    token: str | None = None,
    client_id: str | None = "cid",
) -> httpx.Response:
    headers = {"Authorization": f"Bearer {token or sim.token.access_token}"}
    if client_id is not None:
        headers["client_id"] = client_id
    content = None if body is None else (body if isinstance(body, str) else json.dumps(body))
    return httpx.request(method, sim.url + API_PATH + path, headers=headers, content=content)


def test_credentials_are_checked(sim: GatewaySimulator) -> None:
    expired = sim.issue_token(ttl=-1).access_token
    for answer, status in [
        (send(sim, "GET", f"/{NIT}", token=expired), 401),
        (send(sim, "GET", f"/{NIT}", client_id=None), 403),
    ]:
        assert answer.status_code == status
        assert "code" not in answer.json()


RANGE = {"nit": NIT, "numeroCuenta": [MAIN], "fechaInicio": "2024-01-01", "tipo": "D"}


@pytest.mark.parametrize(
    ("method", "path", "body", "status"),
    [
        ("POST", "/debitos", "{not json", 400),
        ("POST", "/debitos", RANGE | {"fechaFin": "2024-03-01"}, 400),
        (
            "PATCH",
            "/estados",
            {
                "nit": NIT,
                "cuentas": [{"numeroCuenta": MAIN, "estado": "ACTIVO", "descripcionMotivo": "x"}],
            },
            400,
        ),
        (
            "POST",
            "",
            {"nit": NIT, "establecimiento": {"idEstablecimiento": 99, "cuentas": []}},
            404,
        ),
        ("DELETE", "/saldos", None, 405),
    ],
)
def test_bad_input_is_rejected_by_code(
    sim: GatewaySimulator, method: str, path: str, body: Any, status: int
) -> None:
    answer = send(sim, method, path, body)
    assert answer.status_code == status
    payload = answer.json()
    assert payload["code"] != "00"
    assert payload["errorMessage"].strip()
    assert payload["errorCode"].strip()


def test_several_problems_are_listed_and_nothing_half_applied(sim: GatewaySimulator) -> None:
    bad_create = {
        "nit": NIT,
        "establecimiento": {
            "idEstablecimiento": 15,
            "cuentas": [{"alias": " ", "moneda": "999", "rubro": "x"}],
        },
    }
    payload = send(sim, "POST", "", bad_create).json()
    assert len(payload["data"]) == 2
    assert payload["errorMessage"] == "; ".join(payload["data"])

    changes = [
        {"numeroCuenta": SAVINGS, "estado": "ACTIVA", "descripcionMotivo": "ok"},
        {"numeroCuenta": "99999999", "estado": "CERRADA", "descripcionMotivo": "no such"},
    ]
    assert send(sim, "PATCH", "/estados", {"nit": NIT, "cuentas": changes}).status_code == 404
    assert sim.account_status(SAVINGS) == "BLOQUEADA"


def test_scripted_faults_wait_for_their_path(sim: GatewaySimulator) -> None:
    sim.fail_next(503, retry_after=7, path="/saldos")
    assert send(sim, "GET", f"/{NIT}").status_code == 200
    unavailable = send(sim, "POST", "/saldos", {"nit": NIT, "numeroCuentas": [MAIN]})
    assert (unavailable.status_code, unavailable.headers["Retry-After"]) == (503, "7")
    assert "code" not in unavailable.json()  # a failure by status, so a retryable one


def test_prefix_mimics_an_environment_path() -> None:
    with GatewaySimulator(prefix="sandbox/") as sim:
        assert sim.url.endswith("/sandbox")
        with Client(client_id="c", token=sim.token, base_url=sim.url + "/") as client:
            assert client.list_accounts(nit=NIT).nit == NIT
        assert sim.requests[0].path == f"/sandbox{API_PATH}/{NIT}"


@pytest.mark.parametrize(
    ("headers", "body", "status"),
    [
        ("Content-Length: abc", b"", 400),
        ("Content-Length: -5", b"", 400),
        ("Content-Length: 30000", b"", 413),  # above the cap given below; refused unread
        ("Transfer-Encoding: chunked", b"0\r\n\r\n", 411),
        ("Content-Length: 100", b'{"a":', 400),  # the rest never comes
        ("Content-Length: {n}", b"[" * 5000 + b"]" * 5000, 400),  # nested past the parser
    ],
)
def test_malformed_requests_are_answered_not_dropped(
    headers: str, body: bytes, status: int
) -> None:
    with GatewaySimulator(max_body=20_000) as sim:
        head = (
            f"POST {API_PATH}/saldos HTTP/1.1\r\nHost: x\r\nConnection: close\r\nclient_id: c\r\n"
            f"Authorization: Bearer {sim.token.access_token}\r\n"
            + headers.format(n=len(body))
            + "\r\n\r\n"
        )
        with socket.create_connection(("127.0.0.1", sim.port), timeout=5) as conn:
            conn.sendall(head.encode() + body)
            answer = b"".join(iter(lambda: conn.recv(65536), b""))
    assert answer.startswith(f"HTTP/1.1 {status} ".encode()), answer[:100]


def test_log_is_bounded_and_faults_wait_for_a_valid_token() -> None:
    with GatewaySimulator(log_size=3) as sim:
        sim.fail_next(503)
        refused = send(sim, "POST", "/saldos", "x" * 1000, token="not-a-token")
        assert refused.status_code == 401  # the fault is still waiting
        assert send(sim, "GET", f"/{NIT}").status_code == 503
        for _ in range(3):
            assert send(sim, "GET", f"/{NIT}").status_code == 200
        assert len(sim.requests) == 3
        assert all(r.authorized for r in sim.requests)
        sim.clear()
        send(sim, "POST", "/saldos", "x" * 1000, token="not-a-token")
        assert sim.requests[0].body == ""  # an unauthorized body is not kept


@pytest.mark.asyncio
async def test_a_burst_of_concurrent_calls_is_served(sim: GatewaySimulator) -> None:
    # as a load test opens them: 300 connections at once, none waiting for the pool
    lent = httpx.AsyncClient(limits=httpx.Limits(max_connections=None))
    async with (
        lent,
        AsyncClient(client_id="cid", token=sim.token, base_url=sim.url, http_client=lent) as c,
    ):
        calls = [c.get_account(nit=NIT, account_number=MAIN) for _ in range(300)]
        # a guard against hanging only; the benchmarks measure speed
        answers = await asyncio.wait_for(asyncio.gather(*calls), timeout=120)
    assert {a.account.number for a in answers} == {MAIN}
    assert len(sim.requests_to(f"/{MAIN}")) == 300


def test_a_reset_restores_the_settings_and_outlives_a_delayed_request(
    sim: GatewaySimulator,
) -> None:
    first = (sim.client_secret, sim.token_ttl)
    sim.client_secret, sim.token_ttl = "another-secret", 5.0
    accounts = sim.account_numbers()
    sim.slow_next(0.5)
    new = [{"alias": "Tarde", "category": "Gastos"}]
    with (
        Client(client_id="c", token=sim.token, base_url=sim.url, timeout=0.1, retry=NO_RETRY) as c,
        pytest.raises(TransportError),
    ):
        c.create_accounts(nit=NIT, establishment_id=16, accounts=new)  # gives up first
    sim.reset()  # as the pytest plugin does before the next test
    assert (sim.client_secret, sim.token_ttl) == first
    time.sleep(1.0)  # the delayed request wakes up meanwhile, in the new state
    assert sim.account_numbers() == accounts
    assert sim.requests == []
