"""The peers must do the engine's job exactly, or the timings compare different work.

Run by `make bench` before anything is timed: every peer against the engine
on the benchmark's own data and on the cases where a shortcut would show
(cleaning, absent and null fields, numbers where texts belong, escapes).
"""

from __future__ import annotations

import json
import sys
from pathlib import Path
from typing import Any

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import peer_msgspec
import peer_plain
import peer_pydantic
import workloads as wl

from quillon.accounts import _native

PEERS = {"plain": peer_plain, "pydantic": peer_pydantic, "msgspec": peer_msgspec}

MOVEMENT: dict[str, Any] = {
    "transactionId": " TX1 ",
    "tipoOperacion": "DEBITO",
    "estado": " pagado ",
    "importe": wl.Num("10.50"),
    "moneda": "BOB",
    "cuentaOrigen": "123",
}
BALANCE: dict[str, Any] = {
    "numeroCuenta": "1",
    "saldoDisponible": wl.Num("1"),
    "saldoContable": "2.50",
    "saldoRetenido": wl.Num("0.00"),
}


def movement(**changes: Any) -> dict[str, Any]:
    out = {**MOVEMENT, **changes}
    return {k: v for k, v in out.items() if v is not ...}


MOVEMENT_CASES = {
    "cleaned texts and blank ones": movement(
        mensaje="  ",
        fechaHoraTransaccion=" 2024-01-01 ",
        nombreClienteOrigen="\u00a0Ana\u2003",
        nombreBancoDestino="\x1cBanco\x1f",
    ),
    "reference N/A, lower case kept": [
        movement(numeroReferencia=" N/A "),
        movement(numeroReferencia="n/a"),
    ],
    "numbers where texts belong": movement(
        cuentaOrigen=wl.Num("12345678901234567890"),
        codigoBancoDestino=wl.Num("1005"),
        transactionId=wl.Num("77"),
    ),
    "dropped values of the wrong type": movement(
        ciClienteOrigen=True, cuentaDestino=[], numOrdenAch={}
    ),
    "absent and null amounts": movement(importeComision=None, importeTotal=...),
    "amounts written every way": [
        movement(importe="  42.00 "),
        movement(importe=wl.Num("1E3")),
        movement(importe="-5.10"),
        movement(importe=wl.Num("-0.00")),
    ],
    "escapes and other scripts": movement(
        mensaje='Pago "urgente"\n\tl\u00ednea \u20ac \U0001f600',
        nombreBancoOrigen="Banco \\ Uni\u00f3n",
    ),
    "status words": [movement(estado=w) for w in ["EN_PROCESO", "rechazada", "APROBADO", ""]],
}


def parse_workload(op: str, data: Any, whole: bool = False) -> wl.Workload:
    body = wl.dump(data) if whole else wl.envelope(data)
    inp = (
        {"nit": wl.NIT, **wl.RANGE}
        if op == "reconcile"
        else (
            {"nit": wl.NIT, "account_number": "12345678"}
            if op == "get"
            else {"nit": wl.NIT, "account_number": "12345678", **wl.RANGE}
        )
    )
    return wl.Workload(op, f"accounts.{op}.parse", wl.parse_payload(inp, 200, body), 200, body)


def cases() -> list[Any]:
    out = []
    for name, m in MOVEMENT_CASES.items():
        out.append(
            pytest.param(
                parse_workload("debits", m if isinstance(m, list) else [m]), id=f"debits: {name}"
            )
        )
    out += [
        pytest.param(parse_workload("debits", []), id="debits: empty list"),
        pytest.param(
            parse_workload(
                "reconcile",
                {
                    "movimientos": [MOVEMENT],
                    "saldos": [
                        BALANCE,
                        {**BALANCE, "estado": " activa ", "tipoMoneda": "068"},
                        {**BALANCE, "estado": "ACTIVO", "moneda": " "},
                    ],
                },
            ),
            id="reconcile: balances",
        ),
        pytest.param(
            parse_workload("reconcile", {"code": "00"}, whole=True),
            id="reconcile: no data, the whole body",
        ),
        pytest.param(
            parse_workload(
                "get",
                {
                    "nit": wl.Num("900"),
                    "idEstablecimiento": "0015",
                    "cuenta": {"numeroCuenta": " 1 ", "alias": "   "},
                },
            ),
            id="get: identifier text, no status word",
        ),
        *(pytest.param(w, id=w.name) for w in wl.small()[1:] + wl.large_builds()),
        pytest.param(wl.debits_parse(300, False), id="debits: generated, numbers"),
        pytest.param(wl.reconcile_parse(300, 30, True), id="reconcile: generated, strings"),
    ]
    return out


@pytest.mark.parametrize("peer", PEERS)
@pytest.mark.parametrize("workload", cases())
def test_peer_writes_the_engines_text(peer: str, workload: wl.Workload) -> None:
    expected = _native.call(workload.op, workload.payload)
    assert json.loads(expected)["ok"], expected
    assert PEERS[peer].runner(workload.operation, workload.stage)(workload) == expected


@pytest.mark.parametrize("peer", PEERS)
def test_peer_version(peer: str) -> None:
    assert PEERS[peer].version() == _native.call("version", "")


def test_workloads_are_the_same_every_time() -> None:
    assert wl.debits_parse(50, True).payload == wl.debits_parse(50, True).payload
    assert wl.create_build(20).payload == wl.create_build(20).payload
