"""The gateway simulator seen from plain HTTP: envelope, Spanish records, refusals, faults."""

from __future__ import annotations

import json
from typing import Any

import httpx
import pytest

from conftest import MAIN, NIT, SAVINGS
from quillon.accounts import Client
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


@pytest.mark.parametrize(
    ("token", "client_id", "status"),
    [
        ("", "cid", 401),
        (None, None, 403),
    ],
)
def test_credentials_are_checked(
    sim: GatewaySimulator, token: str | None, client_id: str | None, status: int
) -> None:
    if token == "":
        token = sim.issue_token(ttl=-1).access_token  # already expired
    answer = send(sim, "GET", f"/{NIT}", token=token, client_id=client_id)
    assert answer.status_code == status
    assert "code" not in answer.json()


GOOD_RANGE = {"nit": NIT, "numeroCuenta": [MAIN], "fechaInicio": "2024-01-01", "tipo": "D"}


@pytest.mark.parametrize(
    ("method", "path", "body", "status"),
    [
        ("POST", "/debitos", "{not json", 400),
        ("POST", "/debitos", GOOD_RANGE | {"fechaFin": "2024-03-01"}, 400),
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
    # The client tests meet every kind of fault; this is the one tied to a path.
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
