"""The "build" stage of the accounts operations, through the native call."""

import json
from typing import Any

import pytest

from engine_cases import ACC, CONFIG, NIT, TOKEN, VALID
from quillon.accounts import _native

BASE = CONFIG["base_url"]
HEADERS = {
    "Accept": "application/json",
    "Authorization": "Bearer tok-1",
    "Content-Type": "application/json",
    "access_token": "tok-1",
    "client_id": "cid-1",
}
PATH = "cuentas-comercios/v1/cuentas"
RANGE_OPS = {"debits": 31, "reconcile": 7}


def build(
    op: str,
    changes: dict[str, Any] | None = None,
    *,
    token: Any = TOKEN,
    config: dict[str, Any] = CONFIG,
) -> dict[str, Any]:
    payload = {"config": config, "token": token, "input": {**VALID[op], **(changes or {})}}
    out: dict[str, Any] = json.loads(_native.call(f"accounts.{op}.build", json.dumps(payload)))
    return out


def ok(op: str, changes: dict[str, Any] | None = None, **kw: Any) -> dict[str, Any]:
    out = build(op, changes, **kw)
    assert out["ok"], out
    value: dict[str, Any] = out["value"]
    return value


def fails(op: str, changes: dict[str, Any] | None, field: str, message: str, **kw: Any) -> None:
    assert build(op, changes, **kw) == {
        "ok": False,
        "error": {"kind": "validation", "field": field, "message": message, "retryable": False},
    }


@pytest.mark.parametrize(
    ("op", "method", "path", "body"),
    [
        ("get", "GET", f"{PATH}/{NIT}/{ACC}", None),
        ("list", "GET", f"{PATH}/{NIT}", None),
        (
            "create",
            "POST",
            PATH,
            '{"establecimiento":{"cuentas":[{"alias":"Main","moneda":"068","rubro":"Retail"}],'
            '"idEstablecimiento":15},"nit":"1234567"}',
        ),
        (
            "set_status",
            "PATCH",
            f"{PATH}/estados",
            '{"cuentas":[{"descripcionMotivo":"Lost card","estado":"BLOQUEADA",'
            '"numeroCuenta":"12345678"}],"nit":"1234567"}',
        ),
        (
            "debits",
            "POST",
            f"{PATH}/debitos",
            '{"fechaFin":"2024-01-07","fechaInicio":"2024-01-01","nit":"1234567",'
            '"numeroCuenta":["12345678"],"tipo":"D"}',
        ),
        (
            "credits",
            "POST",
            f"{PATH}/creditos",
            '{"fechaFin":"2024-01-07","fechaInicio":"2024-01-01","nit":"1234567",'
            '"numeroCuenta":["12345678"],"tipo":"C"}',
        ),
        (
            "reconcile",
            "POST",
            f"{PATH}/transacciones",
            '{"fechaFin":"2024-01-07","fechaInicio":"2024-01-01","nit":"1234567"}',
        ),
        (
            "balances",
            "POST",
            f"{PATH}/saldos",
            '{"nit":"1234567","numeroCuentas":["12345678","87654321"]}',
        ),
    ],
)
def test_whole_request(op: str, method: str, path: str, body: str | None) -> None:
    assert ok(op) == {"method": method, "url": f"{BASE}/{path}", "headers": HEADERS, "body": body}
    fails(op, None, "token", "an access token is required for this operation", token=None)


@pytest.mark.parametrize("op", VALID)
def test_nit_digits_and_order_before_token(op: str) -> None:
    for nit in ["7654321", "9" * 20]:
        ok(op, {"nit": nit})
    for nit in ["123456", "9" * 21, "+1234567", "١٢٣٤٥٦٧"]:
        fails(op, {"nit": nit}, "nit", "must be 7 to 20 digits")
        fails(op, {"nit": nit}, "nit", "must be 7 to 20 digits", token=None)


@pytest.mark.parametrize(
    ("op", "where", "field"),
    [
        ("get", lambda n: {"account_number": n}, "account_number"),
        ("balances", lambda n: {"account_numbers": [ACC, n]}, "account_numbers"),
        (
            "set_status",
            lambda n: {"changes": [{"account_number": n, "status": "closed", "reason": "x"}]},
            "changes.account_number",
        ),
    ],
)
def test_account_number_digits(op: str, where: Any, field: str) -> None:
    for n in ["87654321", "1" * 20]:
        ok(op, where(n))
    for n in ["1234567", "1" * 21, "12345678 "]:
        fails(op, where(n), field, "must be 8 to 20 digits")


@pytest.mark.parametrize("op", RANGE_OPS)
def test_date_ranges(op: str) -> None:
    span = RANGE_OPS[op]
    last_ok = {31: "2024-02-01", 7: "2024-01-08"}[span]
    too_far = {31: "2024-02-02", 7: "2024-01-09"}[span]

    def dates(a: str, b: str) -> dict[str, str]:
        return {"date_from": a, "date_to": b}

    ok(op, dates("2024-01-01", last_ok))
    ok(op, dates("2024-02-29", "2024-02-29"))
    ok(op, dates("2023-12-31", "2024-01-01"))
    fails(op, dates("2024-01-01", too_far), "date_to", f"the range is at most {span} days")
    fails(op, dates("2024-01-02", "2024-01-01"), "date_to", "must not be before date_from")
    fails(op, dates("2023-02-29", "bad"), "date_from", "must be a date as yyyy-mm-dd")
    fails(op, dates("2024-01-01", "2024-1-05"), "date_to", "must be a date as yyyy-mm-dd")


def accounts(n: int, alias: str = "A") -> dict[str, Any]:
    return {"accounts": [{"alias": alias, "category": "C"}] * n}


def changes(n: int, reason: str = "r", status: str = "active") -> dict[str, Any]:
    return {"changes": [{"account_number": ACC, "status": status, "reason": reason}] * n}


@pytest.mark.parametrize(
    ("op", "good", "bad", "field", "message"),
    [
        (
            "create",
            [accounts(1), accounts(1000)],
            [accounts(0), accounts(1001)],
            "accounts",
            "between 1 and 1000 accounts per call",
        ),
        (
            "balances",
            [{"account_numbers": [ACC]}, {"account_numbers": [ACC] * 10}],
            [{"account_numbers": []}, {"account_numbers": [ACC] * 11}],
            "account_numbers",
            "between 1 and 10 accounts",
        ),
        ("set_status", [changes(1), changes(50)], [changes(0)], "changes", "at least one change"),
    ],
)
def test_list_bounds(
    op: str, good: list[dict[str, Any]], bad: list[dict[str, Any]], field: str, message: str
) -> None:
    for g in good:
        ok(op, g)
    for b in bad:
        fails(op, b, field, message)


@pytest.mark.parametrize(
    ("op", "where", "field", "limit"),
    [
        ("create", lambda t: {"accounts": [{"alias": t, "category": "C"}]}, "accounts.alias", 45),
        ("set_status", lambda t: changes(1, reason=t), "changes.reason", 50),
    ],
)
def test_text_bounds_count_code_points(op: str, where: Any, field: str, limit: int) -> None:
    ok(op, where("é" * limit))
    ok(op, where("😀" * limit))
    fails(op, where("é" * (limit + 1)), field, f"at most {limit} characters")
    fails(op, where(" " + "x" * (limit - 1) + " "), field, f"at most {limit} characters")
    fails(op, where(" \t\u3000 "), field, "must not be empty")
    fails(op, where(""), field, "must not be empty")


def test_free_texts_trimmed_others_as_received() -> None:
    body = json.loads(
        ok(
            "create",
            {
                "establishment_id": 18446744073709551615,
                "accounts": [
                    {"alias": "  Caja chica  ", "category": "\u00a0Food \n"},
                    {"alias": 'B"\\/', "category": "Ñandú"},
                ],
            },
        )["body"]
    )
    assert body["establecimiento"] == {
        "idEstablecimiento": 18446744073709551615,
        "cuentas": [
            {"alias": "Caja chica", "moneda": "068", "rubro": "Food"},
            {"alias": 'B"\\/', "moneda": "068", "rubro": "Ñandú"},
        ],
    }
    body = json.loads(
        ok(
            "set_status",
            {
                "changes": [
                    {"account_number": ACC, "status": s, "reason": " why "}
                    for s in ["active", "blocked", "suspended", "closed"]
                ]
            },
        )["body"]
    )
    assert [c["estado"] for c in body["cuentas"]] == [
        "ACTIVA",
        "BLOQUEADA",
        "SUSPENDIDA",
        "CERRADA",
    ]
    assert {c["descripcionMotivo"] for c in body["cuentas"]} == {"why"}


BAD_FIRST = {"account_number": "1", "status": "unknown", "reason": ""}


@pytest.mark.parametrize(
    ("op", "changes", "field", "message"),
    [
        (
            "create",
            {"establishment_id": 0, "accounts": []},
            "establishment_id",
            "must be greater than zero",
        ),
        ("create", {"nit": "1", "establishment_id": 0}, "nit", "must be 7 to 20 digits"),
        (
            "create",
            {"accounts": [{"alias": "x" * 46, "category": ""}, {"alias": "", "category": "C"}]},
            "accounts.alias",
            "at most 45 characters",
        ),
        (
            "set_status",
            {"changes": [BAD_FIRST]},
            "changes.account_number",
            "must be 8 to 20 digits",
        ),
        (
            "set_status",
            {"changes": [{**BAD_FIRST, "account_number": ACC, "reason": "r"}]},
            "changes.status",
            "cannot set `unknown`",
        ),
        ("set_status", {"nit": "x", "changes": []}, "nit", "must be 7 to 20 digits"),
        (
            "balances",
            {"account_numbers": ["1"] * 11},
            "account_numbers",
            "between 1 and 10 accounts",
        ),
    ],
)
def test_validation_order_within_operations(
    op: str, changes: dict[str, Any], field: str, message: str
) -> None:
    fails(op, changes, field, message)


@pytest.mark.parametrize("bad", ["\0", "a\r\nX-Evil: 1"])
def test_header_values_with_line_breaks_are_refused(bad: str) -> None:
    message = "must not contain CR, LF or NUL characters"
    fails("list", None, "token", message, token={**TOKEN, "access_token": "t" + bad})
    fails("list", None, "config.client_id", message, config={**CONFIG, "client_id": bad})
    fails(
        "list",
        None,
        "token",
        message,
        config={**CONFIG, "client_id": bad},
        token={**TOKEN, "access_token": bad},
    )


def test_other_header_values_copied_unchanged() -> None:
    odd = ' "é\t ¿ '
    headers = ok(
        "get",
        token={**TOKEN, "access_token": odd, "token_type": "mac"},
        config={**CONFIG, "client_id": odd},
    )["headers"]
    assert headers == {
        **HEADERS,
        "Authorization": "Bearer " + odd,
        "access_token": odd,
        "client_id": odd,
    }
    headers = ok("get", token={**TOKEN, "access_token": ""}, config={"client_id": ""})["headers"]
    assert headers == {**HEADERS, "Authorization": "Bearer ", "access_token": "", "client_id": ""}


@pytest.mark.parametrize(
    ("config", "url"),
    [
        ({"client_id": "c"}, "https://api-test.quillon-gateway.example/sandbox/"),
        ({"client_id": "c", "environment": "production"}, "https://api.quillon-gateway.example/"),
        (
            {"client_id": "c", "environment": "production", "base_url": "http://h/x///"},
            "http://h/x/",
        ),
        ({"client_id": "c", "base_url": " h "}, " h /"),
    ],
)
def test_base_urls(config: dict[str, Any], url: str) -> None:
    assert ok("list", config=config)["url"] == f"{url}{PATH}/{NIT}"


@pytest.mark.parametrize(
    "value",
    [
        {**VALID["set_status"], "reason": 'caf\u00e9 "x"\n\ud83d\ude00'},
        {"n": [2**70, -1.5e300, 0.1, None, True, {}]},
    ],
)
def test_payload_text_as_json_dumps_writes_it(value: Any) -> None:
    from quillon.accounts import protocol

    assert protocol._dumps(value) == json.dumps(value)
