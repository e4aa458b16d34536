"""Peer (c): msgspec structs, decoded from and encoded to JSON by msgspec.

Wire structs rename their fields to the gateway's keys; result structs list
their fields in ascending name order, which is the order msgspec writes them.
"""

from __future__ import annotations

from collections.abc import Callable
from decimal import Decimal
from typing import Any, Generic, TypeVar

import common as c
import msgspec

T = TypeVar("T")
ENCODER = msgspec.json.Encoder()


# ---- wire structs ------------------------------------------------------------
# `Any` marks the tolerant text kinds (a string, or a number as text, anything
# else absent); `str | None` the plain strings, which refuse other types.


class WMovement(msgspec.Struct):
    tipo_operacion: str = msgspec.field(name="tipoOperacion")
    estado: str
    importe: Decimal
    transaction_id: Any = msgspec.field(default=None, name="transactionId")
    mensaje: str | None = None
    fecha_hora_transaccion: str | None = msgspec.field(default=None, name="fechaHoraTransaccion")
    importe_comision: Decimal | None = msgspec.field(default=None, name="importeComision")
    importe_total: Decimal | None = msgspec.field(default=None, name="importeTotal")
    moneda: str | None = None
    cuenta_origen: Any = msgspec.field(default=None, name="cuentaOrigen")
    ci_cliente_origen: Any = msgspec.field(default=None, name="ciClienteOrigen")
    nombre_cliente_origen: str | None = msgspec.field(default=None, name="nombreClienteOrigen")
    codigo_banco_origen: Any = msgspec.field(default=None, name="codigoBancoOrigen")
    nombre_banco_origen: str | None = msgspec.field(default=None, name="nombreBancoOrigen")
    cuenta_destino: Any = msgspec.field(default=None, name="cuentaDestino")
    ci_cliente_destino: Any = msgspec.field(default=None, name="ciClienteDestino")
    nombre_cliente_destino: str | None = msgspec.field(default=None, name="nombreClienteDestino")
    codigo_banco_destino: Any = msgspec.field(default=None, name="codigoBancoDestino")
    nombre_banco_destino: str | None = msgspec.field(default=None, name="nombreBancoDestino")
    numero_referencia: Any = msgspec.field(default=None, name="numeroReferencia")
    num_orden_ach: Any = msgspec.field(default=None, name="numOrdenAch")
    num_orden_destinatario: Any = msgspec.field(default=None, name="numOrdenDestinatario")


class WBalance(msgspec.Struct):
    numero_cuenta: str | int | float = msgspec.field(name="numeroCuenta")
    saldo_disponible: Decimal = msgspec.field(name="saldoDisponible")
    saldo_contable: Decimal = msgspec.field(name="saldoContable")
    saldo_retenido: Decimal = msgspec.field(name="saldoRetenido")
    estado: str | None = None
    moneda: str | None = None
    tipo_moneda: str | None = msgspec.field(default=None, name="tipoMoneda")
    fecha_ultimo_credito: str | None = msgspec.field(default=None, name="fechaUltimoCredito")
    fecha_ultimo_debito: str | None = msgspec.field(default=None, name="fechaUltimoDebito")


class WReconciliation(msgspec.Struct):
    movimientos: list[WMovement] = []
    saldos: list[WBalance] = []


class WAccount(msgspec.Struct):
    numero_cuenta: str | int | float = msgspec.field(name="numeroCuenta")
    alias: str | None = None
    estado: str | None = None


class Detail(msgspec.Struct):
    nit: str | int | float
    cuenta: WAccount
    nombre_comercio: str | None = msgspec.field(default=None, name="nombreComercio")
    id_establecimiento: Any = msgspec.field(default=None, name="idEstablecimiento")
    nombre_establecimiento: str | None = msgspec.field(default=None, name="nombreEstablecimiento")


class Envelope(msgspec.Struct, Generic[T]):
    code: Any = None
    data: T | None = None


# ---- result structs (fields in ascending name order) -----------------------------


class Party(msgspec.Struct):
    account: str | None
    bank_code: str | None
    bank_name: str | None
    document_id: str | None
    name: str | None


class Movement(msgspec.Struct):
    ach_order_number: str | None
    amount: str
    currency: str | None
    destination: Party
    fee: str | None
    message: str | None
    operation_type: str
    origin: Party
    raw_status: str
    recipient_order_number: str | None
    reference: str | None
    status: str
    total: str | None
    transaction_at: str | None
    transaction_id: str | None


class Balance(msgspec.Struct):
    account_number: str
    available: str
    booked: str
    currency: str | None
    held: str
    last_credit_at: str | None
    last_debit_at: str | None
    raw_status: str | None
    status: str


class Reconciliation(msgspec.Struct):
    balances: list[Balance]
    movements: list[Movement]


class Account(msgspec.Struct):
    alias: str | None
    number: str
    raw_status: str | None
    status: str


class MerchantAccount(msgspec.Struct):
    account: Account
    establishment_id: int | None
    establishment_name: str | None
    merchant_name: str | None
    nit: str


class Ok(msgspec.Struct):
    ok: bool
    value: Any


# ---- conversion ----------------------------------------------------------------------


def text(v: Any) -> str | None:
    return c.non_empty(c.opt_text(v))


def opt_amount(v: Decimal | None) -> str | None:
    return None if v is None else c.amount_text(v)


def movement(w: WMovement) -> Movement:
    reference = text(w.numero_referencia)
    return Movement(
        ach_order_number=text(w.num_orden_ach),
        amount=c.amount_text(w.importe),
        currency=c.non_empty(w.moneda),
        destination=Party(
            text(w.cuenta_destino),
            text(w.codigo_banco_destino),
            c.non_empty(w.nombre_banco_destino),
            text(w.ci_cliente_destino),
            c.non_empty(w.nombre_cliente_destino),
        ),
        fee=opt_amount(w.importe_comision),
        message=c.non_empty(w.mensaje),
        operation_type=w.tipo_operacion,
        origin=Party(
            text(w.cuenta_origen),
            text(w.codigo_banco_origen),
            c.non_empty(w.nombre_banco_origen),
            text(w.ci_cliente_origen),
            c.non_empty(w.nombre_cliente_origen),
        ),
        raw_status=w.estado,
        recipient_order_number=text(w.num_orden_destinatario),
        reference=None if reference == "N/A" else reference,
        status=c.payout(w.estado),
        total=opt_amount(w.importe_total),
        transaction_at=c.non_empty(w.fecha_hora_transaccion),
        transaction_id=text(w.transaction_id),
    )


def balance(w: WBalance) -> Balance:
    if w.moneda is not None and w.tipo_moneda is not None:
        raise msgspec.ValidationError("duplicate field `moneda`")
    raw_status = c.non_empty(w.estado)
    return Balance(
        account_number=str(w.numero_cuenta),
        available=c.amount_text(w.saldo_disponible),
        booked=c.amount_text(w.saldo_contable),
        currency=c.non_empty(w.moneda if w.moneda is not None else w.tipo_moneda),
        held=c.amount_text(w.saldo_retenido),
        last_credit_at=c.non_empty(w.fecha_ultimo_credito),
        last_debit_at=c.non_empty(w.fecha_ultimo_debito),
        raw_status=raw_status,
        status=c.account_status(raw_status, "unknown"),
    )


def merchant_account(w: Detail) -> MerchantAccount:
    raw_status = c.non_empty(w.cuenta.estado)
    ident = c.opt_text(w.id_establecimiento)
    account = Account(
        alias=c.non_empty(w.cuenta.alias),
        number=str(w.cuenta.numero_cuenta),
        raw_status=raw_status,
        status=c.account_status(raw_status, "active"),
    )
    return MerchantAccount(
        account=account,
        establishment_id=None if ident is None else c.parse_id(ident),
        establishment_name=c.non_empty(w.nombre_establecimiento),
        merchant_name=c.non_empty(w.nombre_comercio),
        nit=str(w.nit),
    )


# ---- the envelope ----------------------------------------------------------------------


def failure(kind: str, message: str) -> str:
    return ENCODER.encode(
        {"error": {"kind": kind, "message": message, "retryable": False}, "ok": False}
    ).decode()


DECODERS: dict[Any, tuple[msgspec.json.Decoder[Any], msgspec.json.Decoder[Any]]] = {}


def parse_as(payload_type: Any, convert: Any, status: int, body: str) -> str:
    """The happy path decodes the typed envelope in one pass."""
    decoders = DECODERS.get(payload_type)
    if decoders is None:
        decoders = DECODERS[payload_type] = (
            msgspec.json.Decoder(Envelope[payload_type]),
            msgspec.json.Decoder(payload_type),
        )
    try:
        env = decoders[0].decode(body)
        if env.code in (None, "00") and 200 <= status <= 299:
            data = env.data
            if data is None:  # no "data": the whole body is the payload
                data = decoders[1].decode(body)
            return ENCODER.encode(Ok(True, convert(data))).decode()
    except msgspec.ValidationError as exc:
        return failure("decode", f"unexpected payload shape: {exc}")
    except msgspec.DecodeError as exc:
        return failure("decode", f"invalid JSON body: {exc}")
    return failure("api", f"request failed with HTTP {status}")


def parse_movements(status: int, body: str) -> str:
    return parse_as(list[WMovement], lambda ws: [movement(w) for w in ws], status, body)


def parse_reconcile(status: int, body: str) -> str:
    return parse_as(
        WReconciliation,
        lambda r: Reconciliation(
            balances=[balance(w) for w in r.saldos], movements=[movement(w) for w in r.movimientos]
        ),
        status,
        body,
    )


def parse_get(status: int, body: str) -> str:
    return parse_as(Detail, merchant_account, status, body)


# ---- the build stage ----------------------------------------------------------------------


class Config(msgspec.Struct):
    client_id: str
    client_secret: str | None = None
    basic_token: str | None = None
    environment: str = "sandbox"
    base_url: str | None = None


class Token(msgspec.Struct):
    access_token: str
    token_type: str
    expires_at: int
    scope: str | None = None


class AccountRef(msgspec.Struct):
    nit: str
    account_number: str


class AccountRange(msgspec.Struct):
    nit: str
    account_number: str
    date_from: str
    date_to: str


class NewAccount(msgspec.Struct):
    alias: str
    category: str


class CreateAccounts(msgspec.Struct):
    nit: str
    establishment_id: int
    accounts: list[NewAccount]


class StatusChange(msgspec.Struct):
    account_number: str
    status: str
    reason: str


class StatusChanges(msgspec.Struct):
    nit: str
    changes: list[StatusChange]


class Build(msgspec.Struct, Generic[T]):
    config: Config
    input: T
    token: Token | None = None


class MovementsQuery(msgspec.Struct):
    fechaFin: str
    fechaInicio: str
    nit: str
    numeroCuenta: list[str]
    tipo: str


class NewAccountBody(msgspec.Struct):
    alias: str
    moneda: str
    rubro: str


class Establishment(msgspec.Struct):
    cuentas: list[NewAccountBody]
    idEstablecimiento: int


class CreateBody(msgspec.Struct):
    establecimiento: Establishment
    nit: str


class ChangeBody(msgspec.Struct):
    descripcionMotivo: str
    estado: str
    numeroCuenta: str


class ChangesBody(msgspec.Struct):
    cuentas: list[ChangeBody]
    nit: str


class Request(msgspec.Struct):
    body: str | None
    headers: dict[str, str]
    method: str
    url: str


def request(method: str, b: Build[Any], path: str, body: Any) -> str:
    access = None if b.token is None else b.token.access_token
    req = Request(
        body=None if body is None else ENCODER.encode(body).decode(),
        headers=c.headers(b.config.client_id, access),
        method=method,
        url=c.url(b.config, path),
    )
    return ENCODER.encode(Ok(True, req)).decode()


def _get(b: Build[AccountRef]) -> str:
    c.digits("nit", b.input.nit, 7)
    c.digits("account_number", b.input.account_number, 8)
    return request("GET", b, f"{c.BASE_PATH}/{b.input.nit}/{b.input.account_number}", None)


def _debits(b: Build[AccountRange]) -> str:
    i = b.input
    c.digits("nit", i.nit, 7)
    c.digits("account_number", i.account_number, 8)
    c.date_range(i.date_from, i.date_to, 31)
    return request(
        "POST",
        b,
        f"{c.BASE_PATH}/debitos",
        MovementsQuery(i.date_to, i.date_from, i.nit, [i.account_number], "D"),
    )


def _create(b: Build[CreateAccounts]) -> str:
    i = b.input
    c.digits("nit", i.nit, 7)
    if i.establishment_id == 0:
        raise c.Invalid("establishment_id", "must be greater than zero")
    if not 1 <= len(i.accounts) <= 1000:
        raise c.Invalid("accounts", "between 1 and 1000 accounts per call")
    accounts = []
    for a in i.accounts:
        c.text_max("accounts.alias", a.alias, 45)
        c.text_max("accounts.category", a.category, 45)
        accounts.append(
            NewAccountBody(a.alias.strip(c.WHITE_SPACE), "068", a.category.strip(c.WHITE_SPACE))
        )
    body = CreateBody(Establishment(accounts, i.establishment_id), i.nit)
    return request("POST", b, c.BASE_PATH, body)


def _set_status(b: Build[StatusChanges]) -> str:
    i = b.input
    c.digits("nit", i.nit, 7)
    if not i.changes:
        raise c.Invalid("changes", "at least one change")
    changes = []
    for ch in i.changes:
        c.digits("changes.account_number", ch.account_number, 8)
        c.text_max("changes.reason", ch.reason, 50)
        if ch.status == "unknown":
            raise c.Invalid("changes.status", "cannot set `unknown`")
        changes.append(
            ChangeBody(
                ch.reason.strip(c.WHITE_SPACE), c.ACCOUNT_TO_WIRE[ch.status], ch.account_number
            )
        )
    return request("PATCH", b, f"{c.BASE_PATH}/estados", ChangesBody(changes, i.nit))


BUILD: dict[str, tuple[Any, Callable[[Any], str]]] = {
    "accounts.get": (AccountRef, _get),
    "accounts.debits": (AccountRange, _debits),
    "accounts.create": (CreateAccounts, _create),
    "accounts.set_status": (StatusChanges, _set_status),
}
PARSE = {
    "accounts.get": parse_get,
    "accounts.debits": parse_movements,
    "accounts.credits": parse_movements,
    "accounts.reconcile": parse_reconcile,
}


def version() -> str:
    return ENCODER.encode(Ok(True, {"core": "0.1.0", "protocol": 2})).decode()


def runner(operation: str, stage: str) -> Any:
    if stage == "build":
        input_type: Any = BUILD[operation][0]
        make: Callable[[Any], str] = BUILD[operation][1]
        decoder = msgspec.json.Decoder(Build[input_type])

        def run(w: Any) -> str:
            b = decoder.decode(w.payload)
            try:
                return make(b)
            except c.Invalid as err:
                return ENCODER.encode(c.validation_error(err)).decode()

        return run
    parse = PARSE[operation]
    return lambda w: parse(w.status, w.body)
