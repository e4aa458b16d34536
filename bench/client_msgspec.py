"""Client peer (2): a client written by hand with msgspec.

The body is decoded by ``msgspec.json.Decoder`` into Structs with the
gateway's names (those of ``peer_msgspec.py``), then converted in Python with
the same cleaning rules into frozen result Structs (``gc=False``, as msgspec
recommends for many small records).
"""

from __future__ import annotations

from decimal import Decimal
from typing import Any

import common as c
import httpx
import msgspec
from client_plain import AccountStatus, PaymentStatus, _Requests
from peer_msgspec import Detail, Envelope, WBalance, WMovement, WReconciliation


class Party(msgspec.Struct, frozen=True, gc=False):
    account: str | None
    document_id: str | None
    name: str | None
    bank_code: str | None
    bank_name: str | None


class Movement(msgspec.Struct, frozen=True, gc=False):
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


class Balance(msgspec.Struct, frozen=True, gc=False):
    account_number: str
    status: AccountStatus
    raw_status: str | None
    currency: str | None
    available: Decimal
    booked: Decimal
    held: Decimal
    last_credit_at: str | None
    last_debit_at: str | None


class Reconciliation(msgspec.Struct, frozen=True, gc=False):
    movements: tuple[Movement, ...]
    balances: tuple[Balance, ...]


class Account(msgspec.Struct, frozen=True, gc=False):
    number: str
    alias: str | None
    status: AccountStatus
    raw_status: str | None


class MerchantAccount(msgspec.Struct, frozen=True, gc=False):
    nit: str
    merchant_name: str | None
    establishment_id: int | None
    establishment_name: str | None
    account: Account


MOVEMENTS = msgspec.json.Decoder(Envelope[list[WMovement]])
RECONCILIATION = msgspec.json.Decoder(Envelope[WReconciliation])
DETAIL = msgspec.json.Decoder(Envelope[Detail])


def text(v: Any) -> str | None:
    return c.non_empty(c.opt_text(v))


def movement(w: WMovement) -> Movement:
    reference = text(w.numero_referencia)
    return Movement(
        text(w.transaction_id),
        w.tipo_operacion,
        PaymentStatus(c.payout(w.estado)),
        w.estado,
        c.non_empty(w.mensaje),
        c.non_empty(w.fecha_hora_transaccion),
        w.importe,
        w.importe_comision,
        w.importe_total,
        c.non_empty(w.moneda),
        Party(
            text(w.cuenta_origen),
            text(w.ci_cliente_origen),
            c.non_empty(w.nombre_cliente_origen),
            text(w.codigo_banco_origen),
            c.non_empty(w.nombre_banco_origen),
        ),
        Party(
            text(w.cuenta_destino),
            text(w.ci_cliente_destino),
            c.non_empty(w.nombre_cliente_destino),
            text(w.codigo_banco_destino),
            c.non_empty(w.nombre_banco_destino),
        ),
        None if reference == "N/A" else reference,
        text(w.num_orden_ach),
        text(w.num_orden_destinatario),
    )


def balance(w: WBalance) -> Balance:
    raw = c.non_empty(w.estado)
    return Balance(
        str(w.numero_cuenta),
        AccountStatus(c.account_status(raw, "unknown")),
        raw,
        c.non_empty(w.moneda if w.moneda is not None else w.tipo_moneda),
        w.saldo_disponible,
        w.saldo_contable,
        w.saldo_retenido,
        c.non_empty(w.fecha_ultimo_credito),
        c.non_empty(w.fecha_ultimo_debito),
    )


def merchant_account(d: Detail) -> MerchantAccount:
    ident = c.opt_text(d.id_establecimiento)
    raw = c.non_empty(d.cuenta.estado)
    account = Account(
        str(d.cuenta.numero_cuenta),
        c.non_empty(d.cuenta.alias),
        AccountStatus(c.account_status(raw, "active")),
        raw,
    )
    return MerchantAccount(
        str(d.nit),
        c.non_empty(d.nombre_comercio),
        None if ident is None else c.parse_id(ident),
        c.non_empty(d.nombre_establecimiento),
        account,
    )


def data_of(resp: httpx.Response, decoder: msgspec.json.Decoder[Any]) -> Any:
    env = decoder.decode(resp.content)
    if not resp.is_success or (isinstance(env.code, str) and env.code != "00"):
        raise RuntimeError(f"the gateway refused: HTTP {resp.status_code}")
    return env.data


def reconciliation(data: WReconciliation) -> Reconciliation:
    return Reconciliation(
        tuple(movement(w) for w in data.movimientos), tuple(balance(w) for w in data.saldos)
    )


class MsgspecClient(_Requests):
    def __init__(self, http: httpx.Client, base_url: str, client_id: str, token: str) -> None:
        super().__init__(base_url, client_id, token)
        self.http = http

    def debits(
        self, *, nit: str, account_number: str, date_from: str, date_to: str
    ) -> list[Movement]:
        body = self.range_body(nit, account_number, date_from, date_to, "D")
        resp = self.http.post(self.base + "/debitos", content=body, headers=self.headers)
        return [movement(w) for w in data_of(resp, MOVEMENTS)]

    def reconcile(self, *, nit: str, date_from: str, date_to: str) -> Reconciliation:
        body = self.range_body(nit, None, date_from, date_to, "")
        resp = self.http.post(self.base + "/transacciones", content=body, headers=self.headers)
        return reconciliation(data_of(resp, RECONCILIATION))

    def get_account(self, *, nit: str, account_number: str) -> MerchantAccount:
        resp = self.http.get(self.get_url(nit, account_number), headers=self.headers)
        return merchant_account(data_of(resp, DETAIL))


class AsyncMsgspecClient(_Requests):
    def __init__(self, http: httpx.AsyncClient, base_url: str, client_id: str, token: str) -> None:
        super().__init__(base_url, client_id, token)
        self.http = http

    async def debits(
        self, *, nit: str, account_number: str, date_from: str, date_to: str
    ) -> list[Movement]:
        body = self.range_body(nit, account_number, date_from, date_to, "D")
        resp = await self.http.post(self.base + "/debitos", content=body, headers=self.headers)
        return [movement(w) for w in data_of(resp, MOVEMENTS)]

    async def reconcile(self, *, nit: str, date_from: str, date_to: str) -> Reconciliation:
        body = self.range_body(nit, None, date_from, date_to, "")
        resp = await self.http.post(
            self.base + "/transacciones", content=body, headers=self.headers
        )
        return reconciliation(data_of(resp, RECONCILIATION))

    async def get_account(self, *, nit: str, account_number: str) -> MerchantAccount:
        resp = await self.http.get(self.get_url(nit, account_number), headers=self.headers)
        return merchant_account(data_of(resp, DETAIL))
