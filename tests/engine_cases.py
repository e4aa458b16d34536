"""Payloads for the reliability tests: a valid input per operation, build and
parse payloads around them, and a mix of calls that meets every kind of
answer the engine gives (and every TypeError of the binding)."""

from __future__ import annotations

import json
import os
from collections.abc import Callable
from typing import Any

from quillon.accounts import _native

# Set by scripts/sanitize_pytest.sh: memory and time figures mean little there.
SANITIZED = os.environ.get("QUILLON_SANITIZED") == "1"

NIT, ACC, ACC2 = "1234567", "12345678", "87654321"
CONFIG: dict[str, Any] = {"client_id": "cid-1", "base_url": "https://gw.test/root"}
TOKEN: dict[str, Any] = {"access_token": "tok-1", "token_type": "Bearer", "expires_at": 0}
RANGE = {"date_from": "2024-01-01", "date_to": "2024-01-07"}

# One input per operation that builds a request.
VALID: dict[str, dict[str, Any]] = {
    "get": {"nit": NIT, "account_number": ACC},
    "list": {"nit": NIT},
    "create": {
        "nit": NIT,
        "establishment_id": 15,
        "accounts": [{"alias": "Main", "category": "Retail"}],
    },
    "set_status": {
        "nit": NIT,
        "changes": [{"account_number": ACC, "status": "blocked", "reason": "Lost card"}],
    },
    "reconcile": {"nit": NIT, **RANGE},
    "credits": {"nit": NIT, "account_number": ACC, **RANGE},
    "debits": {"nit": NIT, "account_number": ACC, **RANGE},
    "balances": {"nit": NIT, "account_numbers": [ACC, ACC2]},
}
OPS = list(VALID)

# A gateway answer that each operation turns into a result.
ACCOUNT = {"numeroCuenta": ACC, "alias": "Caja", "estado": "ACTIVA"}
MOVEMENT = {
    "transactionId": "T-1",
    "tipoOperacion": "CREDITO",
    "estado": "PAGADO",
    "importe": "150.50",
    "importeComision": 1.5,
    "cuentaOrigen": "555",
}
BALANCE = {
    "numeroCuenta": ACC,
    "saldoDisponible": "15230.75",
    "saldoContable": 15380.75,
    "saldoRetenido": "150.00",
}
DATA: dict[str, Any] = {
    "get": {"nit": NIT, "idEstablecimiento": 15, "cuenta": ACCOUNT},
    "list": {"nit": NIT, "establecimientos": [{"idEstablecimiento": 15, "cuentas": [ACCOUNT]}]},
    "create": {"nit": NIT, "idEstablecimiento": 15, "cuentas": [ACCOUNT]},
    "set_status": [{"numeroCuenta": ACC, "estado": "BLOQUEADA"}],
    "reconcile": {"movimientos": [MOVEMENT], "saldos": [BALANCE]},
    "credits": [MOVEMENT],
    "debits": [MOVEMENT],
    "balances": [BALANCE],
}


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


# Every member of a movement and of a balance, each with a value of its own,
# so that a misspelled or swapped member name shows.
FULL_MOVEMENT = {
    "transactionId": "T-77",
    "tipoOperacion": "CREDITO",
    "estado": "PAGADO",
    "mensaje": "Abono recibido",
    "fechaHoraTransaccion": "2024-01-02T10:00:00",
    "importe": "1500.25",
    "importeComision": "1.50",
    "importeTotal": "1501.75",
    "moneda": "BOB",
    "cuentaOrigen": "55500011",
    "ciClienteOrigen": "CI-1001",
    "nombreClienteOrigen": "Ana Rios",
    "codigoBancoOrigen": "1001",
    "nombreBancoOrigen": "Banco Andino",
    "cuentaDestino": "66600022",
    "ciClienteDestino": "CI-2002",
    "nombreClienteDestino": "Luis Vaca",
    "codigoBancoDestino": "2002",
    "nombreBancoDestino": "Banco Oriente",
    "numeroReferencia": "REF-9",
    "numOrdenAch": "ACH-3",
    "numOrdenDestinatario": "ORD-4",
}
FULL_BALANCE = {
    "numeroCuenta": "10000009",
    "estado": "BLOQUEADA",
    "moneda": "USD",
    "saldoDisponible": "10.50",
    "saldoContable": "20.75",
    "saldoRetenido": "-5.10",
    "fechaUltimoCredito": "2024-01-01",
    "fechaUltimoDebito": "2024-01-03",
}
