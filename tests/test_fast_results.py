"""Results made straight from the answer bytes (``_objects``) against the engine's call path."""

from __future__ import annotations

import asyncio
import gc
import json
import sys
from datetime import datetime, timedelta, timezone
from typing import Any

import httpx
import pytest

from engine_cases import DATA, FULL_BALANCE, FULL_MOVEMENT, OPS, VALID
from quillon.accounts import (
    OPERATIONS,
    AccessToken,
    AsyncClient,
    Client,
    _body,
    _objects,
    models,
)
from quillon.accounts.errors import ResponseTooLargeError
from quillon.accounts.models import (
    parse_datetime,
)
from quillon.accounts.protocol import HttpResponse, Operation, parse
from quillon.accounts.simulator import GatewaySimulator

INPUTS = {
    "get": models.AccountRef(**VALID["get"]),
    "list": models.MerchantRef(**VALID["list"]),
    "create": models.CreateAccounts(nit="1234567", establishment_id=15, accounts=()),
    "set_status": models.StatusChanges(nit="1234567", changes=()),
    "reconcile": models.MerchantRange(**VALID["reconcile"]),
    "credits": models.AccountRange(**VALID["credits"]),
    "debits": models.AccountRange(**VALID["debits"]),
    "balances": models.BalancesQuery(nit="1234567", account_numbers=()),
}

MOVEMENT = FULL_MOVEMENT
OTHER_BALANCE = {k: v for k, v in FULL_BALANCE.items() if k != "moneda"}
BALANCE_WIRE = {**OTHER_BALANCE, "tipoMoneda": " 068", "fechaUltimoDebito": "  "}
# odd spacing, numbers where texts belong, escapes, non-ASCII text
ODD_MOVEMENT = {
    **MOVEMENT,
    "transactionId": 9001,
    "mensaje": 'Pago "urgente"\nl\u00ednea\u2003',
    "nombreClienteDestino": "\u00a0Jos\u00e9 Pe\u00f1a ",
    "importe": 1.5e3,
    "importeTotal": " 12.30 ",
    "numeroReferencia": "0042",
    "estado": "desconocido",
}
MANY = [MOVEMENT, ODD_MOVEMENT] * 3
TOKEN = AccessToken(access_token="tok", token_type="Bearer", expires_at=2**62)
BALANCES = [
    BALANCE_WIRE,
    {**OTHER_BALANCE, "estado": None, "moneda": "BOB"},
    {"numeroCuenta": 77, "saldoDisponible": 1, "saldoContable": "2", "saldoRetenido": 0},
]
# Successful answers of every operation (the columnar table tests take them too).
SUCCESS = [(op, {"code": "00", "data": DATA[op]}) for op in OPS] + [
    ("debits", {"code": "00", "message": "OK", "data": MANY}),
    ("credits", MANY),
    ("balances", {"data": BALANCES, "code": "00"}),
    ("reconcile", {"code": "00", "data": [MANY, BALANCES]}),
    ("reconcile", {"code": "00", "data": {"saldos": BALANCES, "movimientos": MANY, "x": 1}}),
    ("set_status", [{"numeroCuenta": " 1", "estado": " cerrada"}, ["2", ""]]),
    ("debits", {"code": "00", "data": []}),
]


def old_path(op: str, status: int, body: bytes) -> Any:
    """The result of ``op`` by the engine's call."""
    operation = OPERATIONS[f"accounts.{op}"]
    return parse(operation, INPUTS[op], HttpResponse(status=status, body=body.decode()))


def fast_path(op: str, status: int, body: bytes) -> Any:
    return _objects.parse(f"accounts.{op}", status, body)


def same(a: Any, b: Any) -> None:
    assert type(a) is type(b)
    assert a == b
    assert repr(a) == repr(b)
    if isinstance(a, list):
        for x, y in zip(a, b, strict=True):
            same(x, y)
    elif not isinstance(a, tuple):
        assert hash(a) == hash(b)


def test_only_utf8_bodies_are_taken() -> None:
    body = json.dumps({"code": "00", "data": MANY}).encode()
    for charset, taken in [("utf-8", 1), (None, 1), ("latin-1", 0), ("UTF8", 1), ("no-such", 1)]:
        assert (OPERATIONS["accounts.debits"].fast_result(200, body, charset) is not None) == taken


@pytest.mark.parametrize(
    "content_type",
    [
        None,
        "application/json",
        "application/json; charset=latin-1",
        'text/plain;CHARSET="utf-8"',
        "application/json; charset*=utf-8''latin-1",
        "application/json; foo=charset",
    ],
)
def test_the_charset_is_httpx_s(content_type: str | None) -> None:
    headers = {} if content_type is None else {"content-type": content_type}
    resp = httpx.Response(200, headers=headers, content=b"{}")
    assert _body.charset(resp) == resp.charset_encoding


@pytest.mark.parametrize("enabled", [True, False])
def test_collector_state_is_restored(enabled: bool) -> None:
    body = json.dumps(MANY).encode()
    was = gc.isenabled()
    try:
        gc.enable() if enabled else gc.disable()
        fast_path("debits", 200, body)
        fast_path("debits", 500, body)
        assert gc.isenabled() is enabled
    finally:
        gc.enable() if was else gc.disable()


def test_no_references_leak() -> None:
    body = json.dumps({"code": "00", "data": [MANY, BALANCES]}).encode()
    shared = [models.PaymentStatus.PAID, models.AccountStatus.ACTIVE, models.Movement]
    for _ in range(50):
        fast_path("reconcile", 200, body)
        fast_path("debits", 200, b'{"code": "00", "data": [{"estado": "X"}]}')
    before = [sys.getrefcount(o) for o in shared]
    blocks = sys.getallocatedblocks()
    for _ in range(500):
        fast_path("reconcile", 200, body)
        fast_path("debits", 200, b'{"code": "00", "data": [{"estado": "X"}]}')
    assert [sys.getrefcount(o) for o in shared] == before
    assert sys.getallocatedblocks() - blocks < 200


@pytest.mark.parametrize("size", [10, 3000])
def test_a_transport_that_hands_the_body_over_whole(size: int) -> None:
    # httpx.MockTransport answers with bodies already read
    body = json.dumps({"code": "00", "data": [MOVEMENT] * size}).encode()
    http = httpx.Client(transport=httpx.MockTransport(lambda _: httpx.Response(200, content=body)))
    options = {"base_url": "https://gw.test", "http_client": http, "max_response_bytes": 1 << 20}
    client = Client(client_id="t", token=TOKEN, **options)  # type: ignore[arg-type]
    query = VALID["debits"]
    if len(body) > client.max_response_bytes:
        with pytest.raises(ResponseTooLargeError):
            client.debits(**query)
    else:
        assert client.debits(**query) == old_path("debits", 200, body)


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("2024-01-04T15:26:08", datetime(2024, 1, 4, 15, 26, 8)),
        ("2024-01-04 15:26:08.5", datetime(2024, 1, 4, 15, 26, 8, 500000)),
        ("2024-01-04T15:26:08.123456000", datetime(2024, 1, 4, 15, 26, 8, 123456)),
        ("2024-01-04T15:26:08Z", datetime(2024, 1, 4, 15, 26, 8, tzinfo=timezone.utc)),
        (
            "2024-01-04T15:26:08-04:00",
            datetime(2024, 1, 4, 15, 26, 8, tzinfo=timezone(timedelta(hours=-4))),
        ),
        ("2024-01-04T15:26:08.1234567", None),  # finer than a microsecond: not cut
        ("2024-02-30T10:00:00", None),
        ("2024-01-04", None),
        ("\uff12\uff1024-01-04T15:26:08", None),  # digits of other scripts
        (None, None),
    ],
)
def test_transaction_time_as_a_datetime(text: str | None, expected: datetime | None) -> None:
    assert parse_datetime(text) == expected
    if expected is not None:
        assert parse_datetime(text).tzinfo == expected.tzinfo  # type: ignore[union-attr]


class Answering(Operation[Any, Any]):
    """An operation whose own fast path answers every 200 with what it was given."""

    def __init__(self, result: Any) -> None:
        super().__init__("accounts.list", models.MerchantRef, models.MerchantAccounts.from_json)
        self.seen: list[tuple[int, bytes, str | None]] = []
        self.result = result

    def fast_result(self, status: int, body: bytes, charset: str | None) -> Any:
        self.seen.append((status, body, charset))
        return self.result if status == 200 else None


@pytest.mark.parametrize("result", ["taken", None], ids=["its result", "left to parse"])
def test_both_clients_ask_the_operation_for_its_own_fast_result(
    sim: GatewaySimulator, result: Any
) -> None:
    op = Answering(result)
    ref = models.MerchantRef(nit=sim.nit)
    with Client(client_id="t", token=sim.token, base_url=sim.url) as client:
        expected = client.list_accounts(nit=sim.nit) if result is None else result
        assert client.execute(op, ref) == expected

    async def call() -> Any:
        async with AsyncClient(client_id="t", token=sim.token, base_url=sim.url) as aclient:
            return await aclient.execute(op, ref)

    assert asyncio.run(call()) == expected
    assert [(status, charset) for status, _, charset in op.seen] == [
        (200, "utf-8")
    ] * 2  # as the simulator declares it
    assert json.loads(op.seen[0][1])["code"] == "00"
