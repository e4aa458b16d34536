"""Peer (b): pydantic v2 models, validated from JSON and dumped with model_dump_json.

Wire models take the gateway's keys as aliases, with before-validators for
the tolerant text kinds; result models list their fields in ascending name
order, the order model_dump_json writes them. Result records are built with
model_construct: their values come from validated wire models.
"""

from __future__ import annotations

from collections.abc import Callable
from decimal import Decimal
from typing import Annotated, Any, Generic, TypeVar

import common as c
from pydantic import AliasChoices, BaseModel, BeforeValidator, ConfigDict, Field, TypeAdapter
from pydantic import ValidationError as PydanticError

T = TypeVar("T")

# A string, or a number as its text; anything else absent.
OptText = Annotated[str | None, BeforeValidator(c.opt_text)]


def _req_text(v: Any) -> Any:
    text = c.opt_text(v)
    if text is None:
        raise ValueError("expected a string or number")
    return text


ReqText = Annotated[str, BeforeValidator(_req_text)]


class Wire(BaseModel):
    model_config = ConfigDict(populate_by_name=True, strict=False)


class WMovement(Wire):
    transaction_id: OptText = Field(None, alias="transactionId")
    tipo_operacion: str = Field(alias="tipoOperacion")
    estado: str
    mensaje: str | None = None
    fecha_hora_transaccion: str | None = Field(None, alias="fechaHoraTransaccion")
    importe: Decimal
    importe_comision: Decimal | None = Field(None, alias="importeComision")
    importe_total: Decimal | None = Field(None, alias="importeTotal")
    moneda: str | None = None
    cuenta_origen: OptText = Field(None, alias="cuentaOrigen")
    ci_cliente_origen: OptText = Field(None, alias="ciClienteOrigen")
    nombre_cliente_origen: str | None = Field(None, alias="nombreClienteOrigen")
    codigo_banco_origen: OptText = Field(None, alias="codigoBancoOrigen")
    nombre_banco_origen: str | None = Field(None, alias="nombreBancoOrigen")
    cuenta_destino: OptText = Field(None, alias="cuentaDestino")
    ci_cliente_destino: OptText = Field(None, alias="ciClienteDestino")
    nombre_cliente_destino: str | None = Field(None, alias="nombreClienteDestino")
    codigo_banco_destino: OptText = Field(None, alias="codigoBancoDestino")
    nombre_banco_destino: str | None = Field(None, alias="nombreBancoDestino")
    numero_referencia: OptText = Field(None, alias="numeroReferencia")
    num_orden_ach: OptText = Field(None, alias="numOrdenAch")
    num_orden_destinatario: OptText = Field(None, alias="numOrdenDestinatario")


class WBalance(Wire):
    numero_cuenta: ReqText = Field(alias="numeroCuenta")
    estado: str | None = None
    moneda: str | None = Field(None, validation_alias=AliasChoices("moneda", "tipoMoneda"))
    saldo_disponible: Decimal = Field(alias="saldoDisponible")
    saldo_contable: Decimal = Field(alias="saldoContable")
    saldo_retenido: Decimal = Field(alias="saldoRetenido")
    fecha_ultimo_credito: str | None = Field(None, alias="fechaUltimoCredito")
    fecha_ultimo_debito: str | None = Field(None, alias="fechaUltimoDebito")


class WReconciliation(Wire):
    movimientos: list[WMovement] = []
    saldos: list[WBalance] = []


class WAccount(Wire):
    numero_cuenta: ReqText = Field(alias="numeroCuenta")
    alias: str | None = None
    estado: str | None = None


class Detail(Wire):
    nit: ReqText
    nombre_comercio: str | None = Field(None, alias="nombreComercio")
    id_establecimiento: OptText = Field(None, alias="idEstablecimiento")
    nombre_establecimiento: str | None = Field(None, alias="nombreEstablecimiento")
    cuenta: WAccount


class Envelope(BaseModel, Generic[T]):
    code: Any = None
    data: T | None = None


# ---- result models (fields in ascending name order) -----------------------------------


class Party(BaseModel):
    account: str | None
    bank_code: str | None
    bank_name: str | None
    document_id: str | None
    name: str | None


class Movement(BaseModel):
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


class Balance(BaseModel):
    account_number: str
    available: str
    booked: str
    currency: str | None
    held: str
    last_credit_at: str | None
    last_debit_at: str | None
    raw_status: str | None
    status: str


class Reconciliation(BaseModel):
    balances: list[Balance]
    movements: list[Movement]


class Account(BaseModel):
    alias: str | None
    number: str
    raw_status: str | None
    status: str


class MerchantAccount(BaseModel):
    account: Account
    establishment_id: int | None
    establishment_name: str | None
    merchant_name: str | None
    nit: str


class Ok(BaseModel, Generic[T]):
    ok: bool = True
    value: T


# ---- conversion -------------------------------------------------------------------------


def opt_amount(v: Decimal | None) -> str | None:
    return None if v is None else c.amount_text(v)


def movement(w: WMovement) -> Movement:
    reference = c.non_empty(w.numero_referencia)
    return Movement.model_construct(
        ach_order_number=c.non_empty(w.num_orden_ach),
        amount=c.amount_text(w.importe),
        currency=c.non_empty(w.moneda),
        destination=Party.model_construct(
            account=c.non_empty(w.cuenta_destino),
            bank_code=c.non_empty(w.codigo_banco_destino),
            bank_name=c.non_empty(w.nombre_banco_destino),
            document_id=c.non_empty(w.ci_cliente_destino),
            name=c.non_empty(w.nombre_cliente_destino),
        ),
        fee=opt_amount(w.importe_comision),
        message=c.non_empty(w.mensaje),
        operation_type=w.tipo_operacion,
        origin=Party.model_construct(
            account=c.non_empty(w.cuenta_origen),
            bank_code=c.non_empty(w.codigo_banco_origen),
            bank_name=c.non_empty(w.nombre_banco_origen),
            document_id=c.non_empty(w.ci_cliente_origen),
            name=c.non_empty(w.nombre_cliente_origen),
        ),
        raw_status=w.estado,
        recipient_order_number=c.non_empty(w.num_orden_destinatario),
        reference=None if reference == "N/A" else reference,
        status=c.payout(w.estado),
        total=opt_amount(w.importe_total),
        transaction_at=c.non_empty(w.fecha_hora_transaccion),
        transaction_id=c.non_empty(w.transaction_id),
    )


def balance(w: WBalance) -> Balance:
    raw_status = c.non_empty(w.estado)
    return Balance.model_construct(
        account_number=w.numero_cuenta,
        available=c.amount_text(w.saldo_disponible),
        booked=c.amount_text(w.saldo_contable),
        currency=c.non_empty(w.moneda),
        held=c.amount_text(w.saldo_retenido),
        last_credit_at=c.non_empty(w.fecha_ultimo_credito),
        last_debit_at=c.non_empty(w.fecha_ultimo_debito),
        raw_status=raw_status,
        status=c.account_status(raw_status, "unknown"),
    )


def merchant_account(w: Detail) -> MerchantAccount:
    raw_status = c.non_empty(w.cuenta.estado)
    account = Account.model_construct(
        alias=c.non_empty(w.cuenta.alias),
        number=w.cuenta.numero_cuenta,
        raw_status=raw_status,
        status=c.account_status(raw_status, "active"),
    )
    ident = w.id_establecimiento
    return MerchantAccount.model_construct(
        account=account,
        establishment_id=None if ident is None else c.parse_id(ident),
        establishment_name=c.non_empty(w.nombre_establecimiento),
        merchant_name=c.non_empty(w.nombre_comercio),
        nit=w.nit,
    )


def failure(kind: str, message: str) -> str:
    return (
        '{"error":{"kind":"'
        + kind
        + '","message":'
        + TypeAdapter(str).dump_json(message).decode()
        + ',"retryable":false},"ok":false}'
    )


ENVELOPES: dict[Any, tuple[Any, TypeAdapter[Any]]] = {}


def parse_as(payload_type: Any, result_type: Any, convert: Any, status: int, body: str) -> str:
    if payload_type not in ENVELOPES:
        ENVELOPES[payload_type] = (Envelope[payload_type], TypeAdapter(payload_type))
    envelope, whole = ENVELOPES[payload_type]
    try:
        env = envelope.model_validate_json(body)
        if env.code in (None, "00") and 200 <= status <= 299:
            data = env.data if env.data is not None else whole.validate_json(body)
            return Ok[result_type](value=convert(data)).model_dump_json()
    except PydanticError as exc:
        return failure("decode", f"unexpected payload shape: {exc.errors()[0]['msg']}")
    return failure("api", f"request failed with HTTP {status}")


def parse_movements(status: int, body: str) -> str:
    return parse_as(
        list[WMovement], list[Movement], lambda ws: [movement(w) for w in ws], status, body
    )


def parse_reconcile(status: int, body: str) -> str:
    return parse_as(
        WReconciliation,
        Reconciliation,
        lambda r: Reconciliation.model_construct(
            balances=[balance(w) for w in r.saldos], movements=[movement(w) for w in r.movimientos]
        ),
        status,
        body,
    )


def parse_get(status: int, body: str) -> str:
    return parse_as(Detail, MerchantAccount, merchant_account, status, body)


# ---- the build stage ------------------------------------------------------------------------


class Config(BaseModel):
    client_id: str
    client_secret: str | None = None
    basic_token: str | None = None
    environment: str = "sandbox"
    base_url: str | None = None


class Token(BaseModel):
    access_token: str
    token_type: str
    expires_at: int
    scope: str | None = None


class AccountRef(BaseModel):
    nit: str
    account_number: str


class AccountRange(BaseModel):
    nit: str
    account_number: str
    date_from: str
    date_to: str


class NewAccount(BaseModel):
    alias: str
    category: str


class CreateAccounts(BaseModel):
    nit: str
    establishment_id: int
    accounts: list[NewAccount]


class StatusChange(BaseModel):
    account_number: str
    status: str
    reason: str


class StatusChanges(BaseModel):
    nit: str
    changes: list[StatusChange]


class Build(BaseModel, Generic[T]):
    config: Config
    token: Token | None = None
    input: T


class MovementsQuery(BaseModel):
    fechaFin: str
    fechaInicio: str
    nit: str
    numeroCuenta: list[str]
    tipo: str


class NewAccountBody(BaseModel):
    alias: str
    moneda: str
    rubro: str


class Establishment(BaseModel):
    cuentas: list[NewAccountBody]
    idEstablecimiento: int


class CreateBody(BaseModel):
    establecimiento: Establishment
    nit: str


class ChangeBody(BaseModel):
    descripcionMotivo: str
    estado: str
    numeroCuenta: str


class ChangesBody(BaseModel):
    cuentas: list[ChangeBody]
    nit: str


class Request(BaseModel):
    body: str | None
    headers: dict[str, str]
    method: str
    url: str


def request(method: str, b: Any, path: str, body: BaseModel | None) -> str:
    access = None if b.token is None else b.token.access_token
    req = Request(
        body=None if body is None else body.model_dump_json(),
        headers=c.headers(b.config.client_id, access),
        method=method,
        url=c.url(b.config, path),
    )
    return Ok[Request](value=req).model_dump_json()


def _get(b: Any) -> str:
    c.digits("nit", b.input.nit, 7)
    c.digits("account_number", b.input.account_number, 8)
    return request("GET", b, f"{c.BASE_PATH}/{b.input.nit}/{b.input.account_number}", None)


def _debits(b: Any) -> str:
    i = b.input
    c.digits("nit", i.nit, 7)
    c.digits("account_number", i.account_number, 8)
    c.date_range(i.date_from, i.date_to, 31)
    query = MovementsQuery(
        fechaFin=i.date_to,
        fechaInicio=i.date_from,
        nit=i.nit,
        numeroCuenta=[i.account_number],
        tipo="D",
    )
    return request("POST", b, f"{c.BASE_PATH}/debitos", query)


def _create(b: Any) -> str:
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
            NewAccountBody(
                alias=a.alias.strip(c.WHITE_SPACE),
                moneda="068",
                rubro=a.category.strip(c.WHITE_SPACE),
            )
        )
    body = CreateBody(
        establecimiento=Establishment(cuentas=accounts, idEstablecimiento=i.establishment_id),
        nit=i.nit,
    )
    return request("POST", b, c.BASE_PATH, body)


def _set_status(b: Any) -> str:
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
                descripcionMotivo=ch.reason.strip(c.WHITE_SPACE),
                estado=c.ACCOUNT_TO_WIRE[ch.status],
                numeroCuenta=ch.account_number,
            )
        )
    return request("PATCH", b, f"{c.BASE_PATH}/estados", ChangesBody(cuentas=changes, nit=i.nit))


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
    return Ok[dict[str, Any]](value={"core": "0.1.0", "protocol": 2}).model_dump_json()


def runner(operation: str, stage: str) -> Any:
    if stage == "build":
        input_type: Any = BUILD[operation][0]
        make: Callable[[Any], str] = BUILD[operation][1]
        model = Build[input_type]

        def run(w: Any) -> str:
            b = model.model_validate_json(w.payload)
            try:
                return make(b)
            except c.Invalid as err:
                return TypeAdapter(dict[str, Any]).dump_json(c.validation_error(err)).decode()

        return run
    parse = PARSE[operation]
    return lambda w: parse(w.status, w.body)
