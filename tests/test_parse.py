"""The "parse" stage of the accounts operations, through the native call."""

import json
from typing import Any

import pytest

from quillon.accounts import _native

RANGE = {"date_from": "2024-01-01", "date_to": "2024-01-31"}
# One input per operation; the parse stage only needs it to decode.
INPUT: dict[str, dict[str, Any]] = {
    "get": {"nit": "900", "account_number": "111"},
    "list": {"nit": "900"},
    "create": {"nit": "900", "establishment_id": 15, "accounts": []},
    "set_status": {"nit": "900", "changes": []},
    "debits": {"nit": "900", "account_number": "111", **RANGE},
    "credits": {"nit": "900", "account_number": "111", **RANGE},
    "balances": {"nit": "900", "account_numbers": []},
    "reconcile": {"nit": "900", **RANGE},
}

ACCOUNT = {"numeroCuenta": "111", "alias": "Caja", "estado": "ACTIVA"}
DETAIL = {"nit": "900", "cuenta": ACCOUNT}
MOVEMENT = {"tipoOperacion": "DEBITO", "estado": "PAGADO", "importe": 10}
BALANCE = {"numeroCuenta": "111", "saldoDisponible": 1, "saldoContable": 2, "saldoRetenido": 0}


def call(op: str, body: Any, status: int = 200, inp: dict[str, Any] | None = None) -> Any:
    """`body` is sent as it is when it is text, else as its JSON text."""
    text = body if isinstance(body, str) else json.dumps(body)
    payload = {"input": inp or INPUT[op], "response": {"status": status, "body": text}}
    return json.loads(_native.call(f"accounts.{op}.parse", json.dumps(payload)))


def ok(op: str, body: Any, status: int = 200, **kw: Any) -> Any:
    out = call(op, body, status, **kw)
    assert out["ok"], out
    return out["value"]


def error(op: str, body: Any, status: int = 200) -> dict[str, Any]:
    out = call(op, body, status)
    assert not out["ok"], out
    err: dict[str, Any] = out["error"]
    return err


def shape_error(op: str, body: Any) -> str:
    err = error(op, body)
    assert err["kind"] == "decode", err
    prefix = "unexpected payload shape: "
    message: str = err["message"]
    assert message.startswith(prefix), message
    return message[len(prefix):]


def envelope(data: Any) -> dict[str, Any]:
    return {"code": "00", "data": data}


# ---- envelope -------------------------------------------------------------

@pytest.mark.parametrize(("status", "body", "message"), [
    (403, "", "empty response body"),
    (401, {"error_description": "  token expired \n"}, "token expired"),
    (401, {"error_description": " ", "message": "use m", "error": "e"}, "use m"),
    (403, {"message": 5, "error": "denied"}, "denied"),
    (401, {"error_description": "x" * 300}, "x" * 300),  # taken whole
    (401, "  " + "a" * 150 + "é" * 350, "a" * 150 + "é" * 50),  # 200 characters
    (403, envelope(DETAIL), json.dumps(envelope(DETAIL))),  # never read as an envelope
])
def test_authentication(status: int, body: Any, message: str) -> None:
    assert error("get", body, status) == {
        "kind": "authentication", "status": status, "message": message, "retryable": False}


@pytest.mark.parametrize(("status", "body", "expected"), [
    (200, "<html>", {"kind": "decode",
                     "message": "invalid JSON body: expected value at line 1 column 1"}),
    (204, "", {"kind": "decode",
               "message": "invalid JSON body: EOF while parsing a value at line 1 column 0"}),
    (502, "\n<html>" + "b" * 300, {"kind": "api", "status": 502, "message": "<html>" + "b" * 194,
                                   "errors": [], "retryable": True}),
    (404, "not found", {"kind": "api", "status": 404, "message": "not found", "errors": [],
                        "retryable": False}),
    (429, "   ", {"kind": "api", "status": 429, "message": "empty response body", "errors": [],
                  "retryable": True}),
])
def test_body_that_is_not_json(status: int, body: str, expected: dict[str, Any]) -> None:
    assert error("get", body, status) == {"retryable": False, **expected}


def field_errors(*messages: str, code: str | None = None) -> list[dict[str, Any]]:
    return [{"field": None, "message": m, "code": code} for m in messages]


@pytest.mark.parametrize(("status", "body", "message", "errors", "retryable"), [
    # Refused by code: never retryable, whatever the status.
    (200, {"code": "05", "errorMessage": " Cuenta inexistente ", "errorCode": "E12"},
     "Cuenta inexistente", field_errors("Cuenta inexistente", code="E12"), False),
    (503, {"code": "99", "message": "busy"}, "busy", field_errors("busy", code="99"), False),
    (200, {"code": "", "errorCode": "  "}, "request failed with HTTP 200",
     field_errors("request failed with HTTP 200", code=""), False),
    # Refused by status: code "00" or none.
    (500, {"code": "00"}, "request failed with HTTP 500",
     field_errors("request failed with HTTP 500", code="00"), True),
    (404, {}, "request failed with HTTP 404", field_errors("request failed with HTTP 404"), False),
    (408, {"code": 7}, "request failed with HTTP 408", field_errors("request failed with HTTP 408"),
     True),
    (429, [1, 2], "request failed with HTTP 429", field_errors("request failed with HTTP 429"),
     True),
    (400, {"errorMessage": "  ", "message": "second choice"}, "second choice",
     field_errors("second choice"), False),
    # The gateway's list of messages: strings only, exactly as sent.
    (400, {"code": "10", "errorCode": " E1 ", "message": "x", "data": ["a ", 3, "", None, "b"]},
     "x", field_errors("a ", "", "b", code="E1"), False),
    # Without such a list, a message joined with "; " is split, empty pieces kept.
    (400, {"message": "a; b; ; c", "data": [1]}, "a; b; ; c", field_errors("a", "b", "", "c"),
     False),
    (400, {"message": "a; b", "data": ["only"]}, "a; b", field_errors("only"), False),
    (400, {"message": "a;b"}, "a;b", field_errors("a;b"), False),
])
def test_rejection(status: int, body: Any, message: str, errors: list[dict[str, Any]],
                   retryable: bool) -> None:
    assert error("get", body, status) == {"kind": "api", "status": status, "message": message,
                                          "errors": errors, "retryable": retryable}


@pytest.mark.parametrize("body", [
    envelope(DETAIL),
    {**DETAIL, "code": "00", "data": None},  # null data: the whole body is the payload
    DETAIL,  # no code
    {**DETAIL, "code": 0, "data": None},  # a code that is no string counts as none
])
def test_payload_from_data_or_whole_body(body: Any) -> None:
    assert ok("get", body)["account"]["number"] == "111"


@pytest.mark.parametrize(("op", "body", "value"), [
    ("debits", envelope([]), []),
    ("set_status", [], []),
    ("reconcile", {"code": "00"}, {"balances": [], "movements": []}),
    ("reconcile", envelope([]), {"balances": [], "movements": []}),
])
def test_empty_payloads(op: str, body: Any, value: Any) -> None:
    assert ok(op, body) == value


def test_list_operation_answered_with_an_object() -> None:
    body = envelope({"numeroCuenta": "1", "estado": "ACTIVA"})
    assert shape_error("set_status", body) == "invalid type: map, expected a sequence"


# ---- wire decoding ----------------------------------------------------------

@pytest.mark.parametrize(("number", "text"), [
    ('12345678901234567890123', "12345678901234567890123"),
    ("1.5e3", "1.5e3"),
    ('""', ""),
    ('" 123 "', " 123 "),  # kept verbatim
])
def test_account_number_as_text_or_number(number: str, text: str) -> None:
    body = '{"code":"00","data":{"nit":"9","cuenta":{"numeroCuenta":RAW}}}'.replace("RAW", number)
    assert ok("get", body)["account"]["number"] == text


@pytest.mark.parametrize(("raw", "expected"), [
    ('"0012"', 12), ('"+5"', 5), ("7", 7), ('"18446744073709551615"', 18446744073709551615),
    ("null", None), ("true", None), ("[]", None),
])
def test_optional_identifier(raw: str, expected: int | None) -> None:
    body = '{"nit":"9","cuenta":["1"],"idEstablecimiento":RAW}'.replace("RAW", raw)
    assert ok("get", body)["establishment_id"] == expected


@pytest.mark.parametrize(("raw", "message"), [
    ('"-5"', "invalid digit found in string"),
    ("12.0", "invalid digit found in string"),
    ("1e3", "invalid digit found in string"),
    ('"+"', "invalid digit found in string"),
    ('" 5"', "invalid digit found in string"),
    ('""', "cannot parse integer from empty string"),
    ('"18446744073709551616"', "number too large to fit in target type"),
    ("null", "expected an id"),
    ("{}", "expected an id"),
])
def test_required_identifier(raw: str, message: str) -> None:
    body = '{"establecimientos":[{"idEstablecimiento":RAW}],"nit":"9"}'.replace("RAW", raw)
    assert shape_error("list", body) == message


@pytest.mark.parametrize(("op", "data", "message"), [
    ("get", {"cuenta": ACCOUNT, "nit": None}, "expected a string or number"),
    ("get", {"nit": "9", "cuenta": {**ACCOUNT, "alias": 5}},
     "invalid type: number, expected a string"),
    ("get", {"nit": "9", "cuenta": None}, "invalid type: unit value, expected struct WAccount"),
    ("get", {"nit": "9", "cuenta": False},
     "invalid type: boolean `false`, expected struct WAccount"),
    ("get", {"nit": "9", "cuenta": 'a"b\\c\n\t\x01\x7f/é'},
     'invalid type: string "a\\"b\\\\c\\n\\t\\u{1}\\u{7f}/é", expected struct WAccount'),
    ("get", {"nit": "9", "cuenta": []},
     "invalid length 0, expected struct WAccount with 3 elements"),
    ("get", {"nit": "9", "cuenta": ["1", None, None, 4]},
     "invalid length 4, expected fewer elements in array"),
    ("get", ["9"], "invalid length 4, expected struct Detail with 5 elements"),
    ("get", {"extra": 1}, "missing field `nit`"),  # the first missing in declaration order
    ("get", {"nit": "9"}, "missing field `cuenta`"),
    # Members are checked in ascending key order, not in the order sent.
    ("get", {"nit": None, "cuenta": None}, "invalid type: unit value, expected struct WAccount"),
    ("list", {"nit": "9", "establecimientos": [{"idEstablecimiento": 1, "cuentas": None}]},
     "invalid type: unit value, expected a sequence"),
    ("create", {"nit": "9"}, "missing field `idEstablecimiento`"),
    ("set_status", [{"numeroCuenta": "1", "estado": None}],
     "invalid type: unit value, expected a string"),
    ("set_status", [{"numeroCuenta": "1", "estado": "ACTIVA"}, {"numeroCuenta": "2"}],
     "missing field `estado`"),
    ("set_status", [["1"]], "invalid length 1, expected struct Changed with 2 elements"),
    ("debits", [{"x": 1}], "missing field `tipoOperacion`"),
    ("debits", [{"tipoOperacion": "D", "estado": "PAGADO"}], "missing field `importe`"),
    ("debits", [5], "invalid type: number, expected struct WMovement"),
    ("balances", [{**BALANCE, "moneda": "USD", "tipoMoneda": "068"}], "duplicate field `moneda`"),
    ("balances", [["1", None, None, 1, 2]],
     "invalid length 5, expected struct WBalance with 8 elements"),
    ("reconcile", {"saldos": [BALANCE], "movimientos": {}},
     "invalid type: map, expected a sequence"),
])
def test_shape_errors(op: str, data: Any, message: str) -> None:
    assert shape_error(op, envelope(data)) == message


@pytest.mark.parametrize(("raw", "message"), [
    ("null", "expected a number, got null"),
    ("true", "expected a number, got true"),
    ('""', "invalid amount ``: Failed to parse"),
    ('" 1,5 "', "invalid amount `1,5`: Failed to parse"),
    ('"true"', "invalid amount `true`: Failed to parse"),
    ("1" * 30, f"invalid amount `{'1' * 30}`: Failed to parse"),
])
def test_amount_errors(raw: str, message: str) -> None:
    required = '[{"tipoOperacion":"D","estado":"E","importe":RAW}]'.replace("RAW", raw)
    assert shape_error("credits", required) == message
    if raw != "null":  # an optional amount is absent only when null
        optional = '[{"tipoOperacion":"D","estado":"E","importe":1,"importeTotal":RAW}]'
        optional = optional.replace("RAW", raw)
        assert shape_error("credits", optional) == message


@pytest.mark.parametrize(("raw", "text"), [
    ("100.50", "100.5"), ('" 42.00 "', "42"), ("1E3", "1000"), ('"1e3"', "1000"),
    ("-0.00", "0"), ("0.1", "0.1"), ("12345678901234567890.12", "12345678901234567890.12"),
])
def test_amounts_as_numbers_and_strings(raw: str, text: str) -> None:
    body = '[{"tipoOperacion":"D","estado":"E","importe":RAW,"importeComision":RAW}]'
    body = body.replace("RAW", raw)
    movement = ok("debits", body)[0]
    assert (movement["amount"], movement["fee"], movement["total"]) == (text, text, None)


# ---- conversion -------------------------------------------------------------

@pytest.mark.parametrize(("estado", "status", "raw"), [
    ({"estado": "  activa "}, "active", "activa"),
    ({"estado": "Bloqueada"}, "blocked", "Bloqueada"),
    ({"estado": "CERRADO"}, "unknown", "CERRADO"),
    ({"estado": " "}, "active", None),
    ({"estado": None}, "active", None),
    ({}, "active", None),
])
def test_account_status(estado: dict[str, Any], status: str, raw: str | None) -> None:
    detail = {"nit": "9", "cuenta": {"numeroCuenta": "1", **estado}}
    account = ok("get", envelope(detail))["account"]
    assert (account["status"], account["raw_status"]) == (status, raw)
    balance = ok("balances", [{**BALANCE, **estado}])[0]
    assert (balance["status"], balance["raw_status"]) == (
        "unknown" if raw is None else status, raw)


@pytest.mark.parametrize(("estado", "status"), [
    (" cerrada", "closed"), ("", "unknown"), ("ACTIVO", "active"), ("otro", "unknown")])
def test_status_change_keeps_the_word_verbatim(estado: str, status: str) -> None:
    assert ok("set_status", [{"numeroCuenta": " 1", "estado": estado}]) == [
        {"account_number": " 1", "status": status, "raw_status": estado}]


@pytest.mark.parametrize(("fields", "reference"), [
    ({"numeroReferencia": " N/A "}, None),
    ({"numeroReferencia": "n/a"}, "n/a"),
    ({"numeroReferencia": 77}, "77"),
    ({"numeroReferencia": "  "}, None),
    ({"numeroReferencia": True}, None),
    ({}, None),
])
def test_movement_reference(fields: dict[str, Any], reference: str | None) -> None:
    assert ok("credits", [{**MOVEMENT, **fields}])[0]["reference"] == reference


NULL_PARTY = {"account": None, "document_id": None, "name": None, "bank_code": None,
              "bank_name": None}


def test_get_whole_result() -> None:
    body = envelope({"nit": " 900 ", "nombreComercio": "  Tienda ", "idEstablecimiento": "015",
                     "nombreEstablecimiento": "\u3000", "cuenta": ACCOUNT, "otro": {"a": 1}})
    assert ok("get", body, inp={"nit": "1", "account_number": "other"}) == {
        "nit": " 900 ", "merchant_name": "Tienda", "establishment_id": 15,
        "establishment_name": None,
        "account": {"number": "111", "alias": "Caja", "status": "active", "raw_status": "ACTIVA"}}


def test_list_whole_result() -> None:
    body = envelope({"nit": "900", "nombreComercio": None, "establecimientos": [
        {"idEstablecimiento": 1, "nombreEstablecimiento": "Centro",
         "cuentas": [ACCOUNT, {"numeroCuenta": 222, "alias": "   "}]},
        ["2"]]})
    assert ok("list", body) == {"nit": "900", "merchant_name": None, "establishments": [
        {"id": 1, "name": "Centro", "accounts": [
            {"number": "111", "alias": "Caja", "status": "active", "raw_status": "ACTIVA"},
            {"number": "222", "alias": None, "status": "active", "raw_status": None}]},
        {"id": 2, "name": None, "accounts": []}]}


def test_create_whole_result() -> None:
    body = envelope(["900", "Tienda", "15", None, [["333", "Nueva", "SUSPENDIDA"]]])
    assert ok("create", body) == {
        "nit": "900", "merchant_name": "Tienda", "establishment_id": 15, "establishment_name": None,
        "accounts": [{"number": "333", "alias": "Nueva", "status": "suspended",
                      "raw_status": "SUSPENDIDA"}]}


FULL_MOVEMENT = {
    "transactionId": " T-1 ", "tipoOperacion": " CREDITO ", "estado": " pagado ", "mensaje": "",
    "fechaHoraTransaccion": "2024-01-02T10:00:00", "importe": "1500.00",
    "importeComision": 1.50, "importeTotal": "1501.5", "moneda": "BOB",
    "cuentaOrigen": 555, "ciClienteOrigen": "CI 1", "nombreClienteOrigen": "Ana",
    "codigoBancoOrigen": "1001", "nombreBancoOrigen": "Banco A",
    "nombreClienteDestino": " ", "numOrdenAch": "A-9", "numOrdenDestinatario": {},
}
MOVEMENT_RESULT = {
    "transaction_id": "T-1", "operation_type": " CREDITO ", "status": "paid",
    "raw_status": " pagado ", "message": None, "transaction_at": "2024-01-02T10:00:00",
    "amount": "1500", "fee": "1.5", "total": "1501.5", "currency": "BOB",
    "origin": {"account": "555", "document_id": "CI 1", "name": "Ana", "bank_code": "1001",
               "bank_name": "Banco A"},
    "destination": NULL_PARTY, "reference": None, "ach_order_number": "A-9",
    "recipient_order_number": None,
}


@pytest.mark.parametrize("op", ["debits", "credits"])
def test_movements_whole_result(op: str) -> None:
    # Dates out of any allowed range: the input is only decoded here.
    inp = {**INPUT[op], "date_from": "2000-01-01", "date_to": "1999-01-01"}
    assert ok(op, envelope([FULL_MOVEMENT, MOVEMENT]), inp=inp) == [MOVEMENT_RESULT, {
        **{k: None for k in MOVEMENT_RESULT}, "operation_type": "DEBITO", "status": "paid",
        "raw_status": "PAGADO", "amount": "10", "origin": NULL_PARTY, "destination": NULL_PARTY}]


FULL_BALANCE = {"numeroCuenta": "111", "estado": "Activa ", "tipoMoneda": " 068",
                "saldoDisponible": "10.50", "saldoContable": 20, "saldoRetenido": "-5.10",
                "fechaUltimoCredito": "2024-01-01", "fechaUltimoDebito": "  "}
BALANCE_RESULT = {"account_number": "111", "status": "active", "raw_status": "Activa",
                  "currency": "068", "available": "10.5", "booked": "20", "held": "-5.1",
                  "last_credit_at": "2024-01-01", "last_debit_at": None}


def test_balances_whole_result() -> None:
    assert ok("balances", envelope([FULL_BALANCE, FULL_BALANCE])) == [BALANCE_RESULT] * 2


def test_reconcile_whole_result() -> None:
    body = envelope({"movimientos": [FULL_MOVEMENT], "saldos": [FULL_BALANCE]})
    assert ok("reconcile", body) == {"movements": [MOVEMENT_RESULT], "balances": [BALANCE_RESULT]}


def test_result_members_are_written_sorted() -> None:
    payload = {"input": INPUT["balances"],
               "response": {"status": 200, "body": json.dumps([FULL_BALANCE])}}
    text = _native.call("accounts.balances.parse", json.dumps(payload))
    assert text.startswith('{"ok":true,"value":[{"account_number":"111","available":"10.5",'
                           '"booked":"20","currency":"068","held":"-5.1",')
