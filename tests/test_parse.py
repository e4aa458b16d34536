"""The "parse" stage of the accounts operations, through the native call."""

import json
from typing import Any

import pytest

from engine_cases import VALID as INPUT  # the parse stage only needs the input to decode
from quillon.accounts import _native

ACCOUNT = {"numeroCuenta": "111", "alias": "Caja", "estado": "ACTIVA"}
DETAIL = {"nit": "900", "cuenta": ACCOUNT}
BALANCE = {"numeroCuenta": "1", "saldoDisponible": 1, "saldoContable": 2, "saldoRetenido": 0}


def call(op: str, body: Any, status: int = 200, inp: dict[str, Any] | None = None) -> Any:
    """`body` is sent as it is when it is text, else as its JSON text."""
    text = body if isinstance(body, str) else json.dumps(body)
    payload = {"input": inp or INPUT[op], "response": {"status": status, "body": text}}
    return json.loads(_native.call(f"accounts.{op}.parse", json.dumps(payload)))


def ok(op: str, body: Any, **kw: Any) -> Any:
    out = call(op, body, **kw)
    assert out["ok"], out
    return out["value"]


def error(op: str, body: Any, status: int = 200) -> Any:
    out = call(op, body, status)
    assert not out["ok"], out
    return out["error"]


def shape_error(op: str, data: Any) -> str:
    """The decoder's message for a successful envelope around `data` (JSON text if a str)."""
    body = '{"code":"00","data":' + (data if isinstance(data, str) else json.dumps(data)) + "}"
    err = error(op, body)
    assert err["kind"] == "decode", err
    message: str = err["message"]
    assert message.startswith("unexpected payload shape: "), message
    return message.removeprefix("unexpected payload shape: ")


# ---- envelope -------------------------------------------------------------


@pytest.mark.parametrize(
    ("status", "body", "message"),
    [
        (403, "", "empty response body"),
        (401, {"error_description": " ", "message": 5, "error": " denied\n"}, "denied"),
        (401, "  " + "a" * 150 + "é" * 350, "a" * 150 + "é" * 50),  # else 200 characters
    ],
)
def test_authentication_failures_are_never_read_as_envelopes(
    status: int, body: Any, message: str
) -> None:
    assert error("get", body, status) == {
        "kind": "authentication",
        "status": status,
        "message": message,
        "retryable": False,
    }


def test_200_body_that_is_not_json() -> None:
    assert error("get", "<html>") == {
        "kind": "decode",
        "message": "invalid JSON body: expected value at line 1 column 1",
        "retryable": False,
    }


def field_errors(*messages: str, code: str | None = None) -> list[dict[str, Any]]:
    return [{"field": None, "message": m, "code": code} for m in messages]


FAILED_500 = "request failed with HTTP 500"


@pytest.mark.parametrize(
    ("status", "body", "message", "errors", "retryable"),
    [
        # Refused by the gateway's code: never retryable, whatever the status.
        (
            200,
            {"code": "05", "errorMessage": " No existe ", "errorCode": "E12"},
            "No existe",
            field_errors("No existe", code="E12"),
            False,
        ),
        # Not JSON: the start of the body is the message, else a fixed text.
        (502, "\n<p>" + "b" * 300, "<p>" + "b" * 197, [], True),
        # Refused by status, with the code "00" or none.
        (500, {"code": "00"}, FAILED_500, field_errors(FAILED_500, code="00"), True),
        (
            404,
            {"code": 7},
            "request failed with HTTP 404",
            field_errors("request failed with HTTP 404"),
            False,
        ),
        # The gateway's list of messages: strings only, exactly as sent...
        (
            400,
            {"errorCode": " E1 ", "message": "x", "data": ["a ", 3, "", "b"]},
            "x",
            field_errors("a ", "", "b", code="E1"),
            False,
        ),
        # ...else a message joined with "; " is split, empty pieces kept.
        (
            400,
            {"message": "a; b; ; c", "data": [1]},
            "a; b; ; c",
            field_errors("a", "b", "", "c"),
            False,
        ),
    ],
)
def test_rejection(
    status: int, body: Any, message: str, errors: list[dict[str, Any]], retryable: bool
) -> None:
    assert error("get", body, status) == {
        "kind": "api",
        "status": status,
        "message": message,
        "errors": errors,
        "retryable": retryable,
    }


@pytest.mark.parametrize(
    ("op", "body", "value"),
    [
        ("get", {"code": "00", "data": {**DETAIL, "nit": "from data"}, "nit": "x"}, "from data"),
        ("get", {**DETAIL, "code": "00", "data": None}, "900"),  # null data: the whole body
        ("get", {**DETAIL, "code": 0}, "900"),  # a code that is no string counts as none
        ("debits", {"code": "00", "data": []}, []),
        ("reconcile", {"code": "00"}, {"balances": [], "movements": []}),
    ],
)
def test_payload_from_data_or_whole_body(op: str, body: Any, value: Any) -> None:
    result = ok(op, body)
    assert (result["nit"] if op == "get" else result) == value


# ---- wire decoding ----------------------------------------------------------


@pytest.mark.parametrize(
    ("raw", "text"),
    [
        ("12345678901234567890123", "12345678901234567890123"),
        ("1.5e3", "1.5e3"),
        ('" 1 "', " 1 "),
        ('""', ""),
    ],
)
def test_account_number_text_is_kept_verbatim(raw: str, text: str) -> None:
    body = '{"nit":"9","cuenta":{"numeroCuenta":RAW}}'.replace("RAW", raw)
    assert ok("get", body)["account"]["number"] == text


@pytest.mark.parametrize(
    ("raw", "expected"),
    [
        ('"00000000000000000000000012"', 12),
        ('"18446744073709551615"', 18446744073709551615),
        ('"-5"', "invalid digit found in string"),
        ('""', "cannot parse integer from empty string"),
        ('"18446744073709551616"', "number too large to fit in target type"),
        ('"99999999999999999999x"', "number too large to fit in target type"),  # read left to right
        ('"1x99999999999999999999"', "invalid digit found in string"),
        ('"\u0663"', "invalid digit found in string"),  # a non-ASCII digit
        ("null", "expected an id"),
    ],
)
def test_identifier(raw: str, expected: int | str) -> None:
    body = '{"nit":"9","idEstablecimiento":RAW}'.replace("RAW", raw)
    if isinstance(expected, int):
        assert ok("create", body)["establishment_id"] == expected
    else:
        assert shape_error("create", body) == expected


@pytest.mark.parametrize(
    ("op", "data", "message"),
    [
        ("get", {"cuenta": ACCOUNT, "nit": True}, "expected a string or number"),
        (
            "get",
            {**DETAIL, "cuenta": ["1", None, None, 4]},
            "invalid length 4, expected fewer elements in array",
        ),
        (
            "get",
            {**DETAIL, "cuenta": {**ACCOUNT, "alias": 5}},
            "invalid type: number, expected a string",
        ),
        ("get", {"x": 1}, "missing field `nit`"),
        # Members are read in ascending key order, not in the order sent.
        (
            "get",
            {"nit": None, "cuenta": None},
            "invalid type: unit value, expected struct WAccount",
        ),
        (
            "balances",
            [{**BALANCE, "moneda": "USD", "tipoMoneda": "068"}],
            "duplicate field `moneda`",
        ),
        (
            "balances",
            [["1", None, None, 1, 2]],
            "invalid length 5, expected struct WBalance with 8 elements",
        ),
    ],
)
def test_shape_errors(op: str, data: Any, message: str) -> None:
    assert shape_error(op, data) == message


@pytest.mark.parametrize(
    ("raw", "message"),
    [
        ("true", "expected a number, got true"),
        ('" 1,5 "', "invalid amount `1,5`: Failed to parse"),
        # An exponent past the largest scale is refused as such, however it is written.
        ('"1e29"', "invalid amount `1e29`: Scale exceeds the maximum precision allowed: 29 > 28"),
    ],
)
def test_amount_errors_for_required_and_optional_amounts(raw: str, message: str) -> None:
    for member in ("importe", "importeTotal"):
        amounts = ",".join(f'"{k}":{v}' for k, v in {"importe": "1", member: raw}.items())
        assert shape_error("credits", '[{"tipoOperacion":"D","estado":"E",' + amounts + "}]") == (
            message
        )


@pytest.mark.parametrize(
    ("raw", "text"),
    [
        ("100.50", "100.5"),
        ('" 42.00 "', "42"),
        ("1E3", "1000"),
        ("-0.00", "0"),
        ("12345678901234567890.12", "12345678901234567890.12"),
    ],
)
def test_amounts_as_numbers_and_strings(raw: str, text: str) -> None:
    body = '[{"tipoOperacion":"D","estado":"E","importe":RAW,"importeComision":RAW}]'
    movement = ok("debits", body.replace("RAW", raw))[0]
    assert (movement["amount"], movement["fee"], movement["total"]) == (text, text, None)


# ---- conversion -------------------------------------------------------------


@pytest.mark.parametrize(
    ("estado", "status", "raw"),
    [
        ({"estado": "  activa "}, "active", "activa"),
        ({"estado": "CERRADO"}, "unknown", "CERRADO"),
        ({}, None, None),
    ],
)
def test_account_and_balance_status(
    estado: dict[str, Any], status: str | None, raw: str | None
) -> None:
    # Without a status word an account reads as active, a balance as unknown.
    detail = {"nit": "9", "cuenta": {"numeroCuenta": "1", **estado}}
    account = ok("get", detail)["account"]
    assert (account["status"], account["raw_status"]) == (status or "active", raw)
    balance = ok("balances", [{**BALANCE, **estado}])[0]
    assert (balance["status"], balance["raw_status"]) == (status or "unknown", raw)


def test_status_changes_keep_the_word_verbatim() -> None:
    changes = [{"numeroCuenta": " 1", "estado": " cerrada"}, ["2", ""]]
    assert ok("set_status", changes) == [
        {"account_number": " 1", "status": "closed", "raw_status": " cerrada"},
        {"account_number": "2", "status": "unknown", "raw_status": ""},
    ]


NULL_PARTY = dict.fromkeys(["account", "document_id", "name", "bank_code", "bank_name"])
MOVEMENT = {
    "transactionId": " T-1 ",
    "tipoOperacion": " CREDITO ",
    "estado": " pagado ",
    "mensaje": "",
    "fechaHoraTransaccion": "2024-01-02T10:00",
    "importe": "1500.00",
    "importeComision": 1.50,
    "moneda": "BOB",
    "cuentaOrigen": 555,
    "ciClienteOrigen": "CI 1",
    "nombreClienteOrigen": "Ana",
    "codigoBancoOrigen": "1001",
    "nombreBancoOrigen": "Banco A",
    "nombreClienteDestino": " ",
    "numeroReferencia": " N/A ",
    "numOrdenAch": "A-9",
    "numOrdenDestinatario": {},
}
MOVEMENT_RESULT = {
    "transaction_id": "T-1",
    "operation_type": " CREDITO ",
    "status": "paid",
    "raw_status": " pagado ",
    "message": None,
    "transaction_at": "2024-01-02T10:00",
    "amount": "1500",
    "fee": "1.5",
    "total": None,
    "currency": "BOB",
    "origin": {
        "account": "555",
        "document_id": "CI 1",
        "name": "Ana",
        "bank_code": "1001",
        "bank_name": "Banco A",
    },
    "destination": NULL_PARTY,
    "reference": None,
    "ach_order_number": "A-9",
    "recipient_order_number": None,
}
BALANCE_WIRE = {
    "numeroCuenta": "1",
    "estado": "Activa ",
    "tipoMoneda": " 068",
    "saldoDisponible": "10.50",
    "saldoContable": 20,
    "saldoRetenido": "-5.10",
    "fechaUltimoCredito": "2024-01-01",
    "fechaUltimoDebito": "  ",
}
BALANCE_RESULT = {
    "account_number": "1",
    "status": "active",
    "raw_status": "Activa",
    "currency": "068",
    "available": "10.5",
    "booked": "20",
    "held": "-5.1",
    "last_credit_at": "2024-01-01",
    "last_debit_at": None,
}
ACCOUNT_RESULT = {"number": "111", "alias": "Caja", "status": "active", "raw_status": "ACTIVA"}


@pytest.mark.parametrize(
    ("op", "data", "result"),
    [
        (
            "get",
            {
                "nit": " 9 ",
                "nombreComercio": " T ",
                "idEstablecimiento": "015",
                "nombreEstablecimiento": "\u3000",
                "cuenta": ACCOUNT,
                "otro": {"a": 1},
            },
            {
                "nit": " 9 ",
                "merchant_name": "T",
                "establishment_id": 15,
                "establishment_name": None,
                "account": ACCOUNT_RESULT,
            },
        ),
        (
            "list",
            {"nit": "9", "establecimientos": [[1, "E", [ACCOUNT, {"numeroCuenta": 2}]], ["2"]]},
            {
                "nit": "9",
                "merchant_name": None,
                "establishments": [
                    {
                        "id": 1,
                        "name": "E",
                        "accounts": [
                            ACCOUNT_RESULT,
                            {"number": "2", "alias": None, "status": "active", "raw_status": None},
                        ],
                    },
                    {"id": 2, "name": None, "accounts": []},
                ],
            },
        ),
        (
            "credits",
            [MOVEMENT, {**MOVEMENT, "numeroReferencia": "n/a"}],
            [MOVEMENT_RESULT, {**MOVEMENT_RESULT, "reference": "n/a"}],
        ),
        (
            "reconcile",
            {"movimientos": [MOVEMENT], "saldos": [BALANCE_WIRE]},
            {"movements": [MOVEMENT_RESULT], "balances": [BALANCE_RESULT]},
        ),
    ],
)
def test_whole_result(op: str, data: Any, result: Any) -> None:
    # The input only has to decode: one that disagrees with the answer changes nothing.
    inp = {**INPUT[op], "nit": "other"}
    assert ok(op, {"code": "00", "data": data}, inp=inp) == result
