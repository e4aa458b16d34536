"""Answers as columns (``_objects.table``) against the engine's call path: the
same values row for row, or both refuse; and the exported Arrow tables read
back (through pyarrow, when it is installed) as the rows say."""

from __future__ import annotations

import datetime
import json
import re
import threading
from collections.abc import Iterator
from decimal import Decimal, localcontext
from typing import Any

import pytest

from engine_cases import DATA, MOVEMENT, answer, parse_payload
from parse_corpus import parse_corpus
from quillon.accounts import _objects
from test_fast_results import BALANCES, MANY

TABLE_OPS = ("debits", "credits", "balances", "list", "reconcile")
MOMENT = re.compile(r"(\d{4})-(\d\d)-(\d\d)[T ](\d\d):(\d\d):(\d\d)(?:\.(\d{1,9}))?")


def ok(data: Any) -> bytes:
    return json.dumps({"code": "00", "data": data}).encode()


def movement(**changes: Any) -> dict[str, Any]:
    return {**MOVEMENT, **changes}


# Bodies that exercise the column forms: scales, the 38-digit fallback,
# timestamps and their fallback, dictionaries, nulls, odd texts.
WIDE = "79228162514264337593543950335"  # the largest amount: 29 digits
COLUMN_CASES: list[tuple[str, bytes]] = [
    ("debits", ok([movement(importe="1.5"), movement(importe="-0.000000001")])),
    ("debits", ok([movement(importe=WIDE), movement(importe="0.1")])),
    ("debits", ok([movement(importe=WIDE), movement(importe="1e-10")])),
    ("credits", ok([movement(fechaHoraTransaccion=f) for f in ("2024-02-29 23:59:59.5", None)])),
    ("credits", ok([movement(fechaHoraTransaccion=f) for f in ("2024-02-30T00:00:00", "x")])),
    ("credits", ok([movement(fechaHoraTransaccion="2024-01-01T00:00:00.123456789")])),
    ("credits", ok([movement(fechaHoraTransaccion="0001-01-01T00:00:00.000001000")])),
    ("debits", ok([movement(moneda=m, estado=s) for m, s in [("BOB", "x"), (None, "PAGADO")]])),
    ("debits", ok([movement(nombreClienteOrigen='a,"b"\r\n', numeroReferencia=" N/A ")])),
    ("balances", ok([*BALANCES, {**BALANCES[0], "saldoRetenido": "1e28"}])),
    ("list", ok({**DATA["list"], "establecimientos": [{"idEstablecimiento": 1}]})),
    ("list", ok({"nit": "1", "establecimientos": [{"idEstablecimiento": 2, "cuentas": [{}]}]})),
    ("reconcile", ok({"movimientos": MANY})),
    ("reconcile", ok([[], BALANCES, []])),
    ("debits", ok([movement(importe="1", mensaje="\u0000\ud7ff\u00e9")] * 3)),
    ("debits", b'{"code": "00", "data": [' + b"[" * 200 + b"]" * 200 + b"]}"),
    ("debits", ok([movement(importe=1e400)])),
]


def corpus() -> Iterator[tuple[str, int, bytes]]:
    """Every table operation's answer in the parse corpora, and the cases above."""
    yield from parse_corpus(TABLE_OPS, per_body=2)
    yield from ((op, 200, body) for op, body in COLUMN_CASES)
    for status in (200, 401, 500):
        yield "debits", status, b'{"code": "07", "message": "no"}'


def call_answer(op: str, status: int, body: bytes) -> dict[str, Any]:
    return answer(f"accounts.{op}.parse", parse_payload(op, body.decode(), status))


def expected_value(form: str, answer: Any) -> Any:
    """The value a column of this form holds for the answer's member."""
    if answer is None:
        return None
    if form.startswith("struct<"):
        return answer
    if form.startswith("decimal128"):
        scale = int(form.rstrip(")").rsplit(" ", 1)[1])
        with localcontext() as wide:
            wide.prec = 80
            return Decimal(answer).quantize(Decimal(1).scaleb(-scale))
    if form == "timestamp[us]":
        parts = MOMENT.fullmatch(answer)
        assert parts is not None, answer
        y, mo, d, h, mi, sec = (int(p) for p in parts.groups()[:6])
        micro = int((parts.group(7) or "0").ljust(9, "0")[:6])
        return datetime.datetime(y, mo, d, h, mi, sec, micro)
    return answer


def expected_rows(op: str, value: Any) -> list[dict[str, Any]]:
    if op != "list":
        return list(value)
    merchant = {"nit": value["nit"], "merchant_name": value["merchant_name"]}
    return [
        {
            **merchant,
            "establishment_id": e["id"],
            "establishment_name": e["name"],
            **{k: a[k] for k in ("number", "alias", "status", "raw_status")},
        }
        for e in value["establishments"]
        for a in e["accounts"]
    ]


def check_table(table: _objects.Columns, op: str, value: Any) -> None:
    types = {name: form for name, form, _ in table.schema_fields()}
    rows = table.to_pylist()
    want = expected_rows(op, value)
    assert len(table) == len(rows) == len(want)
    for row, record in zip(rows, want, strict=True):
        assert list(row) == list(table.column_names)
        assert row == {name: expected_value(types[name], record[name]) for name in row}
        for name, form in types.items():  # the exact scale, not only an equal value
            if form.startswith("decimal128") and row[name] is not None:
                assert str(row[name]) == str(expected_value(form, record[name]))
    if PYARROW:
        import pyarrow as pa  # type: ignore[import-untyped]

        read = pa.table(table)
        assert read.to_pylist() == rows
        assert [(f.name, f.nullable) for f in read.schema] == [
            (n, nullable) for n, _, nullable in table.schema_fields()
        ]


try:
    import pyarrow  # noqa: F401

    PYARROW = True
except ImportError:
    PYARROW = False


@pytest.mark.parametrize(("op", "status", "body"), list(corpus()))
def test_tables_equal_the_call_path_or_both_refuse(op: str, status: int, body: bytes) -> None:
    called = call_answer(op, status, body)
    built = _objects.table(f"accounts.{op}", status, body)
    if not called["ok"]:
        assert built is None, called
        return
    assert built is not None, called
    if op == "reconcile":
        assert isinstance(built, tuple)
        check_table(built[0], "movements", called["value"]["movements"])
        check_table(built[1], "balances", called["value"]["balances"])
    else:
        assert isinstance(built, _objects.Columns)
        check_table(built, op, called["value"])


def test_batches_are_joined_at_one_scale_and_their_parts_kept() -> None:
    # How the shared schema is decided over all batches: result_columns_test.cpp.
    first = _objects.table("accounts.debits", 200, ok([movement(importe="1.5")]))
    second = _objects.table("accounts.debits", 200, ok([movement(importe="2.25")]))
    assert isinstance(first, _objects.Columns)
    assert isinstance(second, _objects.Columns)
    both = _objects.concat([first, second, _objects.empty("accounts.debits")])
    assert (len(both), both.num_batches, both.kind) == (2, 3, "movements")
    assert [str(r["amount"]) for r in both.to_pylist()] == ["1.50", "2.25"]
    assert str(first.to_pylist()[0]["amount"]) == "1.5"  # the part keeps its own
    for parts, message in [([first, _objects.empty("accounts.balances")], "kinds"), ([], "no")]:
        with pytest.raises(ValueError, match=message):
            _objects.concat(parts)
    with pytest.raises(ValueError, match=r"accounts\.get"):
        _objects.table("accounts.get", 200, ok({}))


def test_streams_are_independent_and_released() -> None:
    table = _objects.table("accounts.debits", 200, ok(MANY))
    assert isinstance(table, _objects.Columns)
    # Capsules dropped unread release what they hold (the sanitized run
    # checks that nothing leaks and nothing is released twice).
    for _ in range(3):
        table.__arrow_c_stream__()
        table.__arrow_c_schema__()
    if PYARROW:
        import pyarrow as pa

        readers = [pa.RecordBatchReader.from_stream(table) for _ in range(2)]
        assert readers[1].read_all().num_rows == len(MANY)
        assert readers[0].read_all().to_pylist() == table.to_pylist()
        assert pa.schema(table) == readers[0].schema


def test_eight_threads_build_correct_tables() -> None:
    bodies = [ok([movement(importe=f"{i}.{j:02d}") for j in range(50 + i)]) for i in range(8)]
    expected = [_objects.table("accounts.debits", 200, b) for b in bodies]
    wants = [t.to_pylist() for t in expected]  # type: ignore[union-attr]
    failures: list[str] = []

    def work(i: int) -> None:
        for _ in range(20):
            table = _objects.table("accounts.debits", 200, bodies[i])
            assert isinstance(table, _objects.Columns)
            if table.to_pylist() != wants[i]:
                failures.append(f"thread {i}")
            if PYARROW:
                import pyarrow as pa

                if pa.table(expected[i]).num_rows != len(wants[i]):  # one table read by all
                    failures.append(f"shared table in thread {i}")

    threads = [threading.Thread(target=work, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
