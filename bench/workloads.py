"""Deterministic workloads: the same seed always gives the same texts.

A workload is one ``op`` with its payload for the engine, plus what the peers
start from: the payload text for a "build", the HTTP status and body text for
a "parse" (what an HTTP client hands over).
"""

from __future__ import annotations

import json
import random
from dataclasses import dataclass
from typing import Any

CONFIG: dict[str, Any] = {"client_id": "bench-client", "environment": "sandbox"}
TOKEN: dict[str, Any] = {"access_token": "tok-6f1c2a", "token_type": "Bearer", "expires_at": 0}
NIT = "1234567"
RANGE = {"date_from": "2024-01-01", "date_to": "2024-01-07"}


@dataclass(frozen=True)
class Workload:
    name: str
    op: str  # e.g. "accounts.debits.parse"
    payload: str  # what the engine's call takes
    status: int = 0  # parse workloads: the HTTP answer the peers start from
    body: str = ""

    @property
    def stage(self) -> str:
        """ "build", "parse", or "" for a pseudo-operation."""
        return self.op.rsplit(".", 1)[1] if "." in self.op else ""

    @property
    def operation(self) -> str:
        return self.op.rsplit(".", 1)[0]

    @property
    def size(self) -> int:
        """Bytes of UTF-8 the throughput is counted on: the body, or the payload of a build."""
        return len((self.body if self.stage == "parse" else self.payload).encode())


class Num:
    """A JSON number written with exactly this text (``1.50`` stays ``1.50``)."""

    __slots__ = ("text",)

    def __init__(self, text: str) -> None:
        self.text = text


def dump(value: Any) -> str:
    """Compact JSON like the gateway's, with numbers kept as their literal text."""
    if isinstance(value, Num):
        return value.text
    if isinstance(value, dict):
        return "{" + ",".join(f"{json.dumps(k)}:{dump(v)}" for k, v in value.items()) + "}"
    if isinstance(value, list):
        return "[" + ",".join(dump(v) for v in value) + "]"
    return json.dumps(value, ensure_ascii=False)


def parse_payload(input: dict[str, Any], status: int, body: str) -> str:
    return json.dumps(
        {"input": input, "response": {"status": status, "body": body}}, ensure_ascii=False
    )


def build_payload(input: dict[str, Any]) -> str:
    return json.dumps({"config": CONFIG, "token": TOKEN, "input": input}, ensure_ascii=False)


# ---- gateway data -----------------------------------------------------------

FIRST = ["María", "José", "Ana", "Luis", "Carmen", "Jorge", "Lucía", "Pedro", "Sofía", "Andrés"]
LAST = ["Peña", "Gutiérrez", "Rojas", "Vargas", "Quispe", "Mamani", "López", "Suárez", "Díaz"]
BANKS = ["Banco Unión", "Banco Mercantil", "Banco Nacional", "Banco Económico", "Banco Sol"]
PAY_WORDS = [
    "PAGADO",
    "PAGADO",
    "PAGADO",
    "APROBADA",
    "pendiente ",
    "EN_PROCESO",
    "RECHAZADO",
    "REVERTIDO",
    "COMPLETADO",
    "desconocido",
]
ACCOUNT_WORDS = [
    "ACTIVA",
    "ACTIVA",
    " activa ",
    "BLOQUEADA",
    "SUSPENDIDA",
    "CERRADA",
    "ACTIVO",
    "X",
]
MESSAGES = [
    "Transferencia procesada",
    "Pago de servicios",
    "Abono por planilla",
    "Débito automático",
    "Cobro QR",
    "Comisión por transferencia",
]


def amount(rng: random.Random, as_string: bool, lo: int = 1, hi: int = 5_000_000) -> Any:
    """Cents in [lo, hi) written with two decimals, sometimes as a plain integer."""
    cents = rng.randrange(lo, hi)
    text = f"{cents // 100}.{cents % 100:02d}" if rng.random() < 0.85 else str(cents // 100)
    return text if as_string else Num(text)


def digits(rng: random.Random, n: int) -> str:
    return str(rng.randrange(10 ** (n - 1), 10**n))


def person(rng: random.Random) -> str:
    return f"{rng.choice(FIRST)} {rng.choice(LAST)} {rng.choice(LAST)}"


def party(rng: random.Random, side: str) -> dict[str, Any]:
    account: Any = digits(rng, 10)
    if rng.random() < 0.1:
        account = Num(account)  # the gateway sometimes sends account numbers as numbers
    out: dict[str, Any] = {
        f"cuenta{side}": account,
        f"ciCliente{side}": digits(rng, 7),
        f"nombreCliente{side}": person(rng),
        f"codigoBanco{side}": Num(str(rng.randrange(1001, 1020))),
        f"nombreBanco{side}": rng.choice(BANKS),
    }
    if rng.random() < 0.05:
        out[f"ciCliente{side}"] = None
    if rng.random() < 0.05:
        del out[f"nombreCliente{side}"]
    return out


def movement(rng: random.Random, i: int, as_string: bool) -> dict[str, Any]:
    importe = amount(rng, as_string)
    m: dict[str, Any] = {
        "transactionId": f"TX{20240101000000 + i}",
        "tipoOperacion": rng.choice(["DEBITO", "CREDITO"]),
        "estado": rng.choice(PAY_WORDS),
        "mensaje": rng.choice(MESSAGES),
        "fechaHoraTransaccion": f"2024-01-{1 + i % 28:02d}T{i % 24:02d}:{i % 60:02d}:{i % 59:02d}",
        "importe": importe,
        "importeComision": amount(rng, as_string, 0, 1000),
        "importeTotal": amount(rng, as_string),
        "moneda": "BOB",
        **party(rng, "Origen"),
        **party(rng, "Destino"),
        "numeroReferencia": "N/A" if rng.random() < 0.2 else digits(rng, 9),
        "numOrdenAch": digits(rng, 12),
        "numOrdenDestinatario": digits(rng, 8),
    }
    roll = rng.random()
    if roll < 0.05:
        m["mensaje"] = 'Pago "urgente"\nlínea 2\ttab'  # escapes in the body
    elif roll < 0.10:
        m["mensaje"] = "   "  # blank: cleaned to null
    elif roll < 0.15:
        del m["importeComision"]
    elif roll < 0.20:
        m["importeTotal"] = None
    elif roll < 0.22:
        m["transactionId"] = Num(str(900000 + i))
    return m


def balance(rng: random.Random, i: int, as_string: bool) -> dict[str, Any]:
    b: dict[str, Any] = {
        "numeroCuenta": digits(rng, 10),
        "estado": rng.choice(ACCOUNT_WORDS),
        "moneda": "BOB",
        "saldoDisponible": amount(rng, as_string),
        "saldoContable": amount(rng, as_string),
        "saldoRetenido": amount(rng, as_string, 0, 10000),
        "fechaUltimoCredito": f"2024-01-{1 + i % 28:02d}",
        "fechaUltimoDebito": f"2024-01-{1 + (i * 7) % 28:02d}",
    }
    if i % 10 == 3:
        del b["estado"]
    if i % 10 == 5:
        b["tipoMoneda"] = b.pop("moneda")
    return b


def envelope(data: Any) -> str:
    return dump({"code": "00", "message": "OK", "data": data})


# ---- the workloads ----------------------------------------------------------


def debits_parse(n: int, as_string: bool, seed: int = 6) -> Workload:
    rng = random.Random(seed)
    body = envelope([movement(rng, i, as_string) for i in range(n)])
    inp = {"nit": NIT, "account_number": "12345678", **RANGE}
    kind = "str" if as_string else "num"
    return Workload(
        f"debits.parse {n:,} mov, amounts {kind}",
        "accounts.debits.parse",
        parse_payload(inp, 200, body),
        200,
        body,
    )


def reconcile_parse(n: int, balances: int, as_string: bool, seed: int = 7) -> Workload:
    rng = random.Random(seed)
    data = {
        "movimientos": [movement(rng, i, as_string) for i in range(n)],
        "saldos": [balance(rng, i, as_string) for i in range(balances)],
    }
    body = envelope(data)
    kind = "str" if as_string else "num"
    return Workload(
        f"reconcile.parse {n:,} mov + {balances} bal, amounts {kind}",
        "accounts.reconcile.parse",
        parse_payload({"nit": NIT, **RANGE}, 200, body),
        200,
        body,
    )


def get_parse() -> Workload:
    body = envelope(
        {
            "nit": NIT,
            "nombreComercio": " Comercial Peña SRL ",
            "idEstablecimiento": Num("15"),
            "nombreEstablecimiento": "Sucursal Centro",
            "cuenta": {"numeroCuenta": "12345678", "alias": "Caja chica", "estado": " activa "},
        }
    )
    return Workload(
        "get.parse",
        "accounts.get.parse",
        parse_payload({"nit": NIT, "account_number": "12345678"}, 200, body),
        200,
        body,
    )


def get_build() -> Workload:
    return Workload(
        "get.build", "accounts.get.build", build_payload({"nit": NIT, "account_number": "12345678"})
    )


def debits_build() -> Workload:
    return Workload(
        "debits.build",
        "accounts.debits.build",
        build_payload(
            {
                "nit": NIT,
                "account_number": "12345678",
                "date_from": "2024-01-01",
                "date_to": "2024-01-31",
            }
        ),
    )


def create_build(n: int = 1000, seed: int = 8) -> Workload:
    rng = random.Random(seed)
    accounts = [
        {
            "alias": f"  Caja {person(rng)} {i} ",
            "category": rng.choice(["Comercio", "Servicios", "Educación", "Salud"]),
        }
        for i in range(n)
    ]
    inp = {"nit": NIT, "establishment_id": 15, "accounts": accounts}
    return Workload(f"create.build {n:,} accounts", "accounts.create.build", build_payload(inp))


def set_status_build(n: int = 1000, seed: int = 9) -> Workload:
    rng = random.Random(seed)
    changes = [
        {
            "account_number": digits(rng, 10),
            "status": rng.choice(["active", "blocked", "suspended", "closed"]),
            "reason": f" Solicitud del titular nro {i} ",
        }
        for i in range(n)
    ]
    inp = {"nit": NIT, "changes": changes}
    return Workload(
        f"set_status.build {n:,} changes", "accounts.set_status.build", build_payload(inp)
    )


def version() -> Workload:
    return Workload("version", "version", "")


def small() -> list[Workload]:
    return [version(), get_build(), get_parse(), debits_build()]


def large_builds() -> list[Workload]:
    return [create_build(), set_status_build()]


def large_parses() -> list[Workload]:
    return [
        reconcile_parse(10_000, 100, False),
        reconcile_parse(10_000, 100, True),
        debits_parse(100_000, False),
        debits_parse(100_000, True),
    ]
