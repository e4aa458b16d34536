"""Peer (a): the standard library only: json with Decimal, dataclasses, json.dumps.

Each function takes what a Python caller has (the payload text of a "build",
the HTTP status and body of a "parse") and returns the same envelope text as
the engine's ``call``.
"""

from __future__ import annotations

import json
from collections.abc import Callable
from dataclasses import dataclass
from decimal import Decimal
from typing import Any

import common as c


def dumps(value: Any) -> str:
    return json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False)


def ok(value: Any) -> str:
    return dumps({"ok": True, "value": value})


# ---- wire field kinds ---------------------------------------------------------


def req_text(obj: dict[str, Any], key: str) -> str:
    if key not in obj:
        raise ValueError(f"missing field `{key}`")
    text = c.opt_text(obj[key])
    if text is None:
        raise ValueError("expected a string or number")
    return text


def opt_string(obj: dict[str, Any], key: str) -> str | None:
    value = obj.get(key)
    if value is not None and not isinstance(value, str):
        raise ValueError(f"invalid type: {value!r}, expected a string")
    return value


def req_string(obj: dict[str, Any], key: str) -> str:
    if key not in obj:
        raise ValueError(f"missing field `{key}`")
    value = obj[key]
    if not isinstance(value, str):
        raise ValueError(f"invalid type: {value!r}, expected a string")
    return value


def req_amount(obj: dict[str, Any], key: str) -> Decimal:
    if key not in obj:
        raise ValueError(f"missing field `{key}`")
    return c.amount_from(obj[key])


def opt_amount(obj: dict[str, Any], key: str) -> Decimal | None:
    value = obj.get(key)
    return None if value is None else c.amount_from(value)


def records(obj: dict[str, Any], key: str) -> list[dict[str, Any]]:
    value = obj.get(key, [])
    if not isinstance(value, list) or not all(isinstance(v, dict) for v in value):
        raise ValueError(f"invalid type for `{key}`, expected a sequence of objects")
    return value


# ---- result records -------------------------------------------------------------


@dataclass(slots=True)
class Party:
    account: str | None
    document_id: str | None
    name: str | None
    bank_code: str | None
    bank_name: str | None

    @classmethod
    def from_wire(cls, w: dict[str, Any], side: str) -> Party:
        return cls(
            c.non_empty(c.opt_text(w.get("cuenta" + side))),
            c.non_empty(c.opt_text(w.get("ciCliente" + side))),
            c.non_empty(opt_string(w, "nombreCliente" + side)),
            c.non_empty(c.opt_text(w.get("codigoBanco" + side))),
            c.non_empty(opt_string(w, "nombreBanco" + side)),
        )

    def to_json(self) -> dict[str, Any]:
        return {
            "account": self.account,
            "document_id": self.document_id,
            "name": self.name,
            "bank_code": self.bank_code,
            "bank_name": self.bank_name,
        }


@dataclass(slots=True)
class Movement:
    transaction_id: str | None
    operation_type: str
    status: str
    raw_status: str
    message: str | None
    transaction_at: str | None
    amount: Decimal
    fee: Decimal | None
    total: Decimal | None
    currency: str | None
    origin: Party
    destination: Party
    reference: str | None
    ach_order_number: str | None
    recipient_order_number: str | None

    @classmethod
    def from_wire(cls, w: dict[str, Any]) -> Movement:
        operation_type = req_string(w, "tipoOperacion")
        estado = req_string(w, "estado")
        amount = req_amount(w, "importe")
        reference = c.non_empty(c.opt_text(w.get("numeroReferencia")))
        return cls(
            transaction_id=c.non_empty(c.opt_text(w.get("transactionId"))),
            operation_type=operation_type,
            status=c.payout(estado),
            raw_status=estado,
            message=c.non_empty(opt_string(w, "mensaje")),
            transaction_at=c.non_empty(opt_string(w, "fechaHoraTransaccion")),
            amount=amount,
            fee=opt_amount(w, "importeComision"),
            total=opt_amount(w, "importeTotal"),
            currency=c.non_empty(opt_string(w, "moneda")),
            origin=Party.from_wire(w, "Origen"),
            destination=Party.from_wire(w, "Destino"),
            reference=None if reference == "N/A" else reference,
            ach_order_number=c.non_empty(c.opt_text(w.get("numOrdenAch"))),
            recipient_order_number=c.non_empty(c.opt_text(w.get("numOrdenDestinatario"))),
        )

    def to_json(self) -> dict[str, Any]:
        return {
            "transaction_id": self.transaction_id,
            "operation_type": self.operation_type,
            "status": self.status,
            "raw_status": self.raw_status,
            "message": self.message,
            "transaction_at": self.transaction_at,
            "amount": c.amount_text(self.amount),
            "fee": None if self.fee is None else c.amount_text(self.fee),
            "total": None if self.total is None else c.amount_text(self.total),
            "currency": self.currency,
            "origin": self.origin.to_json(),
            "destination": self.destination.to_json(),
            "reference": self.reference,
            "ach_order_number": self.ach_order_number,
            "recipient_order_number": self.recipient_order_number,
        }


@dataclass(slots=True)
class Balance:
    account_number: str
    status: str
    raw_status: str | None
    currency: str | None
    available: Decimal
    booked: Decimal
    held: Decimal
    last_credit_at: str | None
    last_debit_at: str | None

    @classmethod
    def from_wire(cls, w: dict[str, Any]) -> Balance:
        if "moneda" in w and "tipoMoneda" in w:
            raise ValueError("duplicate field `moneda`")
        number = req_text(w, "numeroCuenta")
        raw_status = c.non_empty(opt_string(w, "estado"))
        return cls(
            account_number=number,
            status=c.account_status(raw_status, "unknown"),
            raw_status=raw_status,
            currency=c.non_empty(opt_string(w, "moneda" if "moneda" in w else "tipoMoneda")),
            available=req_amount(w, "saldoDisponible"),
            booked=req_amount(w, "saldoContable"),
            held=req_amount(w, "saldoRetenido"),
            last_credit_at=c.non_empty(opt_string(w, "fechaUltimoCredito")),
            last_debit_at=c.non_empty(opt_string(w, "fechaUltimoDebito")),
        )

    def to_json(self) -> dict[str, Any]:
        return {
            "account_number": self.account_number,
            "status": self.status,
            "raw_status": self.raw_status,
            "currency": self.currency,
            "available": c.amount_text(self.available),
            "booked": c.amount_text(self.booked),
            "held": c.amount_text(self.held),
            "last_credit_at": self.last_credit_at,
            "last_debit_at": self.last_debit_at,
        }


@dataclass(slots=True)
class Account:
    number: str
    alias: str | None
    status: str
    raw_status: str | None

    @classmethod
    def from_wire(cls, w: Any) -> Account:
        if not isinstance(w, dict):
            raise ValueError("invalid type, expected struct WAccount")
        raw_status = c.non_empty(opt_string(w, "estado"))
        return cls(
            req_text(w, "numeroCuenta"),
            c.non_empty(opt_string(w, "alias")),
            c.account_status(raw_status, "active"),
            raw_status,
        )

    def to_json(self) -> dict[str, Any]:
        return {
            "number": self.number,
            "alias": self.alias,
            "status": self.status,
            "raw_status": self.raw_status,
        }


@dataclass(slots=True)
class MerchantAccount:
    nit: str
    merchant_name: str | None
    establishment_id: int | None
    establishment_name: str | None
    account: Account

    @classmethod
    def from_wire(cls, w: dict[str, Any]) -> MerchantAccount:
        ident = c.opt_text(w.get("idEstablecimiento"))
        if "cuenta" not in w:
            raise ValueError("missing field `cuenta`")
        return cls(
            req_text(w, "nit"),
            c.non_empty(opt_string(w, "nombreComercio")),
            None if ident is None else c.parse_id(ident),
            c.non_empty(opt_string(w, "nombreEstablecimiento")),
            Account.from_wire(w["cuenta"]),
        )

    def to_json(self) -> dict[str, Any]:
        return {
            "nit": self.nit,
            "merchant_name": self.merchant_name,
            "establishment_id": self.establishment_id,
            "establishment_name": self.establishment_name,
            "account": self.account.to_json(),
        }


# ---- the gateway envelope ---------------------------------------------------------


def api_error(status: int, message: str, code: str | None, retryable: bool) -> str:
    return dumps(
        {
            "error": {
                "kind": "api",
                "status": status,
                "message": message,
                "errors": [{"field": None, "message": message, "code": code}],
                "retryable": retryable,
            },
            "ok": False,
        }
    )


def payload_of(status: int, body: str) -> tuple[Any, str | None]:
    """The envelope's payload, or the error envelope text of a failed answer."""
    try:
        value = json.loads(body, parse_float=Decimal)
    except ValueError as exc:
        return None, dumps(
            {
                "error": {
                    "kind": "decode",
                    "message": f"invalid JSON body: {exc}",
                    "retryable": False,
                },
                "ok": False,
            }
        )
    code = value.get("code") if isinstance(value, dict) else None
    code = code if isinstance(code, str) else None
    if (code is not None and code != "00") or not 200 <= status <= 299:
        message = (
            value.get("errorMessage")
            or value.get("message")
            or f"request failed with HTTP {status}"
        )
        return None, api_error(status, message, code, code is None and status >= 500)
    if isinstance(value, dict) and value.get("data") is not None:
        return value["data"], None
    return value, None


def shape_error(exc: Exception) -> str:
    return dumps(
        {
            "error": {
                "kind": "decode",
                "message": f"unexpected payload shape: {exc}",
                "retryable": False,
            },
            "ok": False,
        }
    )


def parse_movements(status: int, body: str) -> str:
    data, failure = payload_of(status, body)
    if failure:
        return failure
    try:
        if not isinstance(data, list):
            raise ValueError("invalid type: map, expected a sequence")
        movements = [Movement.from_wire(w) for w in data]
    except ValueError as exc:
        return shape_error(exc)
    return ok([m.to_json() for m in movements])


def parse_reconcile(status: int, body: str) -> str:
    data, failure = payload_of(status, body)
    if failure:
        return failure
    try:
        movements = [Movement.from_wire(w) for w in records(data, "movimientos")]
        balances = [Balance.from_wire(w) for w in records(data, "saldos")]
    except ValueError as exc:
        return shape_error(exc)
    return ok(
        {"movements": [m.to_json() for m in movements], "balances": [b.to_json() for b in balances]}
    )


def parse_get(status: int, body: str) -> str:
    data, failure = payload_of(status, body)
    if failure:
        return failure
    try:
        result = MerchantAccount.from_wire(data)
    except ValueError as exc:
        return shape_error(exc)
    return ok(result.to_json())


# ---- the build stage ------------------------------------------------------------------


@dataclass(slots=True)
class Config:
    client_id: str
    environment: str = "sandbox"
    base_url: str | None = None


def request(
    method: str,
    config: Config,
    token: dict[str, Any] | None,
    path: str,
    body: dict[str, Any] | None,
) -> str:
    access = None if token is None else token["access_token"]
    return ok(
        {
            "method": method,
            "url": c.url(config, path),
            "headers": c.headers(config.client_id, access),
            "body": None if body is None else dumps(body),
        }
    )


def build(payload: str, make: Callable[[Config, Any, dict[str, Any]], str]) -> str:
    doc = json.loads(payload)
    raw = doc["config"]
    config = Config(raw["client_id"], raw.get("environment", "sandbox"), raw.get("base_url"))
    try:
        return make(config, doc.get("token"), doc["input"])
    except c.Invalid as err:
        return dumps(c.validation_error(err))


def _get(config: Config, token: Any, inp: dict[str, Any]) -> str:
    c.digits("nit", inp["nit"], 7)
    c.digits("account_number", inp["account_number"], 8)
    path = f"{c.BASE_PATH}/{inp['nit']}/{inp['account_number']}"
    return request("GET", config, token, path, None)


def _debits(config: Config, token: Any, inp: dict[str, Any]) -> str:
    c.digits("nit", inp["nit"], 7)
    c.digits("account_number", inp["account_number"], 8)
    c.date_range(inp["date_from"], inp["date_to"], 31)
    body = {
        "nit": inp["nit"],
        "numeroCuenta": [inp["account_number"]],
        "fechaInicio": inp["date_from"],
        "fechaFin": inp["date_to"],
        "tipo": "D",
    }
    return request("POST", config, token, f"{c.BASE_PATH}/debitos", body)


def _create(config: Config, token: Any, inp: dict[str, Any]) -> str:
    c.digits("nit", inp["nit"], 7)
    if inp["establishment_id"] == 0:
        raise c.Invalid("establishment_id", "must be greater than zero")
    if not 1 <= len(inp["accounts"]) <= 1000:
        raise c.Invalid("accounts", "between 1 and 1000 accounts per call")
    accounts = []
    for a in inp["accounts"]:
        c.text_max("accounts.alias", a["alias"], 45)
        c.text_max("accounts.category", a["category"], 45)
        accounts.append(
            {
                "alias": a["alias"].strip(c.WHITE_SPACE),
                "moneda": "068",
                "rubro": a["category"].strip(c.WHITE_SPACE),
            }
        )
    body = {
        "nit": inp["nit"],
        "establecimiento": {"idEstablecimiento": inp["establishment_id"], "cuentas": accounts},
    }
    return request("POST", config, token, c.BASE_PATH, body)


def _set_status(config: Config, token: Any, inp: dict[str, Any]) -> str:
    c.digits("nit", inp["nit"], 7)
    if not inp["changes"]:
        raise c.Invalid("changes", "at least one change")
    changes = []
    for ch in inp["changes"]:
        c.digits("changes.account_number", ch["account_number"], 8)
        c.text_max("changes.reason", ch["reason"], 50)
        if ch["status"] == "unknown":
            raise c.Invalid("changes.status", "cannot set `unknown`")
        changes.append(
            {
                "descripcionMotivo": ch["reason"].strip(c.WHITE_SPACE),
                "estado": c.ACCOUNT_TO_WIRE[ch["status"]],
                "numeroCuenta": ch["account_number"],
            }
        )
    body = {"nit": inp["nit"], "cuentas": changes}
    return request("PATCH", config, token, f"{c.BASE_PATH}/estados", body)


def version() -> str:
    return dumps({"ok": True, "value": {"core": "0.1.0", "protocol": 2}})


BUILD = {
    "accounts.get": _get,
    "accounts.debits": _debits,
    "accounts.create": _create,
    "accounts.set_status": _set_status,
}
PARSE = {
    "accounts.get": parse_get,
    "accounts.debits": parse_movements,
    "accounts.credits": parse_movements,
    "accounts.reconcile": parse_reconcile,
}


def runner(operation: str, stage: str) -> Any:
    """A function of the workload that gives the envelope text."""
    if stage == "build":
        make = BUILD[operation]
        return lambda w: build(w.payload, make)
    parse = PARSE[operation]
    return lambda w: parse(w.status, w.body)
