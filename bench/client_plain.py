"""Client peer (1): what a user writes without the package.

httpx for the request, ``json.loads(..., parse_float=Decimal)`` for the answer,
slotted frozen dataclasses built positionally, the same cleaning rules
(``common.py``): Unicode white space trimmed, blank texts to None, "N/A"
references, status words to enums, exact Decimal amounts.
"""

from __future__ import annotations

import json
from dataclasses import dataclass
from decimal import Decimal
from enum import Enum
from typing import Any

import common as c
import httpx


class AccountStatus(str, Enum):
    ACTIVE = "active"
    BLOCKED = "blocked"
    SUSPENDED = "suspended"
    CLOSED = "closed"
    UNKNOWN = "unknown"


class PaymentStatus(str, Enum):
    PENDING = "pending"
    PROCESSING = "processing"
    PAID = "paid"
    CANCELLED = "cancelled"
    EXPIRED = "expired"
    REJECTED = "rejected"
    REVERSED = "reversed"
    ERROR = "error"
    UNKNOWN = "unknown"


@dataclass(frozen=True, slots=True)
class Party:
    account: str | None
    document_id: str | None
    name: str | None
    bank_code: str | None
    bank_name: str | None


@dataclass(frozen=True, slots=True)
class Movement:
    transaction_id: str | None
    operation_type: str
    status: PaymentStatus
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


@dataclass(frozen=True, slots=True)
class Balance:
    account_number: str
    status: AccountStatus
    raw_status: str | None
    currency: str | None
    available: Decimal
    booked: Decimal
    held: Decimal
    last_credit_at: str | None
    last_debit_at: str | None


@dataclass(frozen=True, slots=True)
class Reconciliation:
    movements: tuple[Movement, ...]
    balances: tuple[Balance, ...]


@dataclass(frozen=True, slots=True)
class Account:
    number: str
    alias: str | None
    status: AccountStatus
    raw_status: str | None


@dataclass(frozen=True, slots=True)
class MerchantAccount:
    nit: str
    merchant_name: str | None
    establishment_id: int | None
    establishment_name: str | None
    account: Account


# ---- conversion ---------------------------------------------------------------


def text(value: Any) -> str | None:
    return c.non_empty(c.opt_text(value))


def string(value: Any) -> str | None:
    return c.non_empty(value) if isinstance(value, str) else None


def amount(value: Any) -> Decimal | None:
    return None if value is None else c.amount_from(value)


def party(w: dict[str, Any], side: str) -> Party:
    return Party(
        text(w.get("cuenta" + side)),
        text(w.get("ciCliente" + side)),
        string(w.get("nombreCliente" + side)),
        text(w.get("codigoBanco" + side)),
        string(w.get("nombreBanco" + side)),
    )


def movement(w: dict[str, Any]) -> Movement:
    estado = w["estado"]
    reference = text(w.get("numeroReferencia"))
    return Movement(
        text(w.get("transactionId")),
        w["tipoOperacion"],
        PaymentStatus(c.payout(estado)),
        estado,
        string(w.get("mensaje")),
        string(w.get("fechaHoraTransaccion")),
        c.amount_from(w["importe"]),
        amount(w.get("importeComision")),
        amount(w.get("importeTotal")),
        string(w.get("moneda")),
        party(w, "Origen"),
        party(w, "Destino"),
        None if reference == "N/A" else reference,
        text(w.get("numOrdenAch")),
        text(w.get("numOrdenDestinatario")),
    )


def balance(w: dict[str, Any]) -> Balance:
    raw = string(w.get("estado"))
    return Balance(
        c.opt_text(w["numeroCuenta"]) or "",
        AccountStatus(c.account_status(raw, "unknown")),
        raw,
        string(w.get("moneda", w.get("tipoMoneda"))),
        c.amount_from(w["saldoDisponible"]),
        c.amount_from(w["saldoContable"]),
        c.amount_from(w["saldoRetenido"]),
        string(w.get("fechaUltimoCredito")),
        string(w.get("fechaUltimoDebito")),
    )


def merchant_account(w: dict[str, Any]) -> MerchantAccount:
    ident = c.opt_text(w.get("idEstablecimiento"))
    a = w["cuenta"]
    raw = string(a.get("estado"))
    account = Account(
        c.opt_text(a["numeroCuenta"]) or "",
        string(a.get("alias")),
        AccountStatus(c.account_status(raw, "active")),
        raw,
    )
    return MerchantAccount(
        c.opt_text(w["nit"]) or "",
        string(w.get("nombreComercio")),
        None if ident is None else c.parse_id(ident),
        string(w.get("nombreEstablecimiento")),
        account,
    )


def data_of(resp: httpx.Response) -> Any:
    value = json.loads(resp.content, parse_float=Decimal)
    code = value.get("code") if isinstance(value, dict) else None
    if not resp.is_success or (isinstance(code, str) and code != "00"):
        raise RuntimeError(f"the gateway refused: HTTP {resp.status_code}")
    if isinstance(value, dict) and value.get("data") is not None:
        return value["data"]
    return value


# ---- requests -------------------------------------------------------------------


class _Requests:
    def __init__(self, base_url: str, client_id: str, access_token: str) -> None:
        self.base = base_url.rstrip("/") + "/" + c.BASE_PATH
        self.headers = c.headers(client_id, access_token)

    def range_body(self, nit: str, account: str | None, first: str, last: str, kind: str) -> bytes:
        c.digits("nit", nit, 7)
        if account is not None:
            c.digits("account_number", account, 8)
        c.date_range(first, last, 31)
        body: dict[str, Any] = {"nit": nit}
        if account is not None:
            body["numeroCuenta"] = [account]
        body["fechaInicio"] = first
        body["fechaFin"] = last
        if kind:
            body["tipo"] = kind
        return json.dumps(body, separators=(",", ":")).encode()

    def get_url(self, nit: str, account: str) -> str:
        c.digits("nit", nit, 7)
        c.digits("account_number", account, 8)
        return f"{self.base}/{nit}/{account}"


class PlainClient(_Requests):
    def __init__(self, http: httpx.Client, base_url: str, client_id: str, token: str) -> None:
        super().__init__(base_url, client_id, token)
        self.http = http

    def debits(
        self, *, nit: str, account_number: str, date_from: str, date_to: str
    ) -> list[Movement]:
        body = self.range_body(nit, account_number, date_from, date_to, "D")
        resp = self.http.post(self.base + "/debitos", content=body, headers=self.headers)
        return [movement(w) for w in data_of(resp)]

    def reconcile(self, *, nit: str, date_from: str, date_to: str) -> Reconciliation:
        body = self.range_body(nit, None, date_from, date_to, "")
        resp = self.http.post(self.base + "/transacciones", content=body, headers=self.headers)
        data = data_of(resp)
        return Reconciliation(
            tuple(movement(w) for w in data.get("movimientos", [])),
            tuple(balance(w) for w in data.get("saldos", [])),
        )

    def get_account(self, *, nit: str, account_number: str) -> MerchantAccount:
        resp = self.http.get(self.get_url(nit, account_number), headers=self.headers)
        return merchant_account(data_of(resp))


class AsyncPlainClient(_Requests):
    def __init__(self, http: httpx.AsyncClient, base_url: str, client_id: str, token: str) -> None:
        super().__init__(base_url, client_id, token)
        self.http = http

    async def debits(
        self, *, nit: str, account_number: str, date_from: str, date_to: str
    ) -> list[Movement]:
        body = self.range_body(nit, account_number, date_from, date_to, "D")
        resp = await self.http.post(self.base + "/debitos", content=body, headers=self.headers)
        return [movement(w) for w in data_of(resp)]

    async def reconcile(self, *, nit: str, date_from: str, date_to: str) -> Reconciliation:
        body = self.range_body(nit, None, date_from, date_to, "")
        resp = await self.http.post(
            self.base + "/transacciones", content=body, headers=self.headers
        )
        data = data_of(resp)
        return Reconciliation(
            tuple(movement(w) for w in data.get("movimientos", [])),
            tuple(balance(w) for w in data.get("saldos", [])),
        )

    async def get_account(self, *, nit: str, account_number: str) -> MerchantAccount:
        resp = await self.http.get(self.get_url(nit, account_number), headers=self.headers)
        return merchant_account(data_of(resp))
