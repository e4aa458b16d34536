"""Columnar results (``client.tables``), end to end against the simulator, value for value
against the object results, and through the libraries that read them."""

from __future__ import annotations

import csv
import dataclasses
import io
import json
import subprocess
import sys
from datetime import datetime
from decimal import Decimal
from enum import Enum
from pathlib import Path
from typing import Any

import pytest

from conftest import MAIN, NIT, NORTH, PETTY, SAVINGS, fast_retry
from quillon.accounts import AsyncClient, Client, MissingExtraError, NewAccount, _objects
from quillon.accounts.errors import (
    ApiError,
    DecodeError,
    FfiError,
    QuillonError,
)
from quillon.accounts.simulator import GatewaySimulator
from rawserver import RawServer, response

QUARTER = {"date_from": "2024-01-01", "date_to": "2024-04-15"}  # four windows of 31 days


def row(record: Any) -> dict[str, Any]:
    """A result record as the table's row: enums by word, parties as dicts, timestamps."""
    out: dict[str, Any] = {}
    for f in dataclasses.fields(record):
        value = getattr(record, f.name)
        if isinstance(value, Enum):
            value = value.value
        elif dataclasses.is_dataclass(value):
            value = row(value)
        elif f.name == "transaction_at" and value is not None:
            value = datetime.fromisoformat(value)
        out[f.name] = value
    return out


def rows(records: Any) -> list[dict[str, Any]]:
    return [row(r) for r in records]


def test_a_long_range_equals_the_object_results_through_every_reader(client: Client) -> None:
    table = client.tables.debits(nit=NIT, account_number=MAIN, **QUARTER)
    objects = list(client.iter_debits(nit=NIT, account_number=MAIN, **QUARTER))
    assert (len(table), table.num_batches) == (len(objects), 4)
    expected = rows(objects)
    assert table.to_pylist() == expected
    assert table.column_names == tuple(expected[0])
    assert ("amount", "decimal128(38, 2)", False) in table.schema
    amounts = sum(m.amount for m in objects)

    pa = pytest.importorskip("pyarrow")
    for arrow in (pa.table(table), table.to_arrow()):  # read any number of times
        assert arrow.to_pylist() == expected
    pl = pytest.importorskip("polars")
    assert pl.DataFrame(table)["amount"].sum() == table.to_polars()["amount"].sum() == amounts
    pytest.importorskip("pandas")
    assert table.to_pandas()["fee"].tolist() == [m.fee for m in objects]
    duckdb = pytest.importorskip("duckdb")
    t = table  # noqa: F841 (DuckDB finds the table by its variable's name)
    (got,) = duckdb.sql("select count(*), sum(amount) from t").fetchall()
    assert got == (len(objects), amounts)


def test_the_other_tables_equal_their_objects(client: Client) -> None:
    accounts = client.tables.list_accounts(nit=NIT)
    merchant = client.list_accounts(nit=NIT)
    assert accounts.to_pylist() == [
        {
            "nit": merchant.nit,
            "merchant_name": merchant.merchant_name,
            "establishment_id": e.id,
            "establishment_name": e.name,
            **row(a),
        }
        for e in merchant.establishments
        for a in e.accounts
    ]
    numbers = [MAIN, PETTY, SAVINGS, NORTH] * 3  # twelve: two requests, in order
    balances = client.tables.balances(nit=NIT, account_numbers=numbers)
    assert balances.num_batches == 2
    assert balances.to_pylist() == rows(client.balances(nit=NIT, account_numbers=numbers))

    week = {"date_from": "2024-01-01", "date_to": "2024-01-10"}  # two windows of 7 days
    both = client.tables.reconcile(nit=NIT, **week)
    parts = list(client.iter_reconcile(nit=NIT, **week))
    assert both.movements.num_batches == len(parts) == 2
    assert both.movements.to_pylist() == rows(m for p in parts for m in p.movements)
    assert both.balances.to_pylist() == rows(parts[-1].balances)

    opened = client.create_accounts(nit=NIT, establishment_id=16, accounts=[NewAccount("a", "b")])
    empty = client.tables.debits(nit=NIT, account_number=opened.accounts[0].number, **QUARTER)
    assert (len(empty), empty.column_names) == (0, both.movements.column_names)


@pytest.mark.asyncio
async def test_the_async_tables_give_the_same(client: Client, sim: GatewaySimulator) -> None:
    async with AsyncClient(
        client_id="t", token=sim.token, base_url=sim.url, retry=fast_retry()
    ) as aclient:
        table = await aclient.tables.credits(nit=NIT, account_number=MAIN, **QUARTER)
        numbers = [MAIN, PETTY, NORTH] * 5
        balances = await aclient.tables.balances(nit=NIT, account_numbers=numbers)
    assert table.to_pylist() == rows(client.iter_credits(nit=NIT, account_number=MAIN, **QUARTER))
    assert [b["account_number"] for b in balances.to_pylist()] == numbers


# A movement as the gateway writes it: a quote, commas, a line feed, non-ASCII text,
# nulls and absent members, an amount as a number and amounts of other scales.
WIRE = json.loads(
    '{"transactionId": "TX1", "tipoOperacion": "DEBITO", "estado": "PAGADO", '
    '"mensaje": "Pago \\"urgente\\", línea 1\\nlínea 2 ✓", "importeTotal": null, '
    '"fechaHoraTransaccion": "2024-01-05T10:20:30", "importe": 1.5, "importeComision": "0.125", '
    '"nombreClienteOrigen": "Peña, Hnos.", "nombreBancoOrigen": "Banco Unión"}'
)


def wire_movement(**changes: Any) -> dict[str, Any]:
    return dict(WIRE) | changes


def serve(sim: GatewaySimulator, *movements: dict[str, Any]) -> None:
    body = {"code": "00", "data": list(movements)}
    sim.fail_next(200, body=json.dumps(body, ensure_ascii=False), path="/debitos")


DAY = {"nit": NIT, "account_number": MAIN, "date_from": "2024-01-05", "date_to": "2024-01-05"}


def test_csv_and_json_lines_keep_every_value(
    client: Client, sim: GatewaySimulator, tmp_path: Path
) -> None:
    tricky = [wire_movement(), wire_movement(transactionId="TX2", importe="12", mensaje=None)]
    serve(sim, *tricky)
    objects = client.debits(**DAY)
    serve(sim, *tricky)
    table = client.tables.debits(**DAY)

    table.write_csv(tmp_path / "m.csv")
    data = (tmp_path / "m.csv").read_bytes()
    assert data.startswith(b"transaction_id,")  # no BOM
    parsed = csv.DictReader(io.StringIO(data.decode("utf-8"), newline=""))
    got = [
        (r["message"], r["origin.name"], Decimal(r["amount"]), r["fee"], r["total"]) for r in parsed
    ]
    first = (objects[0].message, "Peña, Hnos.", Decimal("1.5"), "0.125", "")
    assert got == [first, ("", *first[1:2], Decimal(12), *first[3:])]
    text = io.StringIO(newline="")
    table.write_csv(text)  # a text file gets the same text
    assert text.getvalue() == data.decode("utf-8")

    binary = io.BytesIO()
    table.write_jsonl(binary)
    lines = [json.loads(line) for line in binary.getvalue().decode("utf-8").splitlines()]
    assert [list(line) for line in lines] == [list(table.column_names)] * 2
    assert [(x["message"], Decimal(x["amount"]), x["total"]) for x in lines] == [
        (objects[0].message, Decimal("1.5"), None),
        (None, Decimal(12), None),
    ]
    assert (lines[0]["origin"], lines[0]["transaction_at"]) == (
        row(objects[0].origin),
        "2024-01-05T10:20:30",
    )


CLOSE = "Connection: close"


def test_bytes_are_read_as_the_object_results_read_them() -> None:
    name = "Peña".encode("latin-1")
    movement = json.dumps({"code": "00", "data": [wire_movement(nombreClienteOrigen="@")]})
    latin = movement.replace("@", "Peña").encode("latin-1")
    broken = movement.encode("utf-8").replace(b"@", name)  # not UTF-8
    bodies = [
        response(200, latin, "Content-Type: application/json; charset=latin-1", CLOSE),
        response(200, broken, "Content-Type: application/json", CLOSE),
    ]
    served: list[int] = []

    def answer(conn: Any, _: bytes) -> None:
        conn.sendall(bodies[len(served) // 2])
        served.append(1)

    with (
        RawServer(answer, connections=8) as server,
        Client(
            client_id="t", token="tok", base_url=server.url, retry=fast_retry(max_attempts=1)
        ) as c,
    ):
        for expected_name in ("Peña", "Pe\ufffda"):
            objects = c.debits(**DAY)
            table = c.tables.debits(**DAY)
            assert objects[0].origin.name == expected_name
            assert table.to_pylist() == rows(objects)


REFUSALS = [
    (lambda s: s.reject_next(code="VAL-009", message="rango", path="/debitos"), ApiError),
    (lambda s: s.garbage_next(path="/debitos"), DecodeError),
    (lambda s: s.fail_next(200, body='{"code":"00","data":[{}]}', path="/debitos"), QuillonError),
]


@pytest.mark.parametrize(("script", "kind"), REFUSALS)
def test_failures_raise_what_the_object_results_raise(
    client: Client, sim: GatewaySimulator, script: Any, kind: type[QuillonError]
) -> None:
    raised: list[QuillonError] = []
    calls: list[Any] = [client.debits, client.tables.debits]
    for call in calls:
        script(sim)
        with pytest.raises(kind) as info:
            call(**DAY)
        raised.append(info.value)
    assert type(raised[0]) is type(raised[1])
    assert str(raised[0]) == str(raised[1])
    assert raised[1].attempts == raised[0].attempts


def test_an_answer_the_engine_parses_but_cannot_tabulate_is_a_defect(
    client: Client, monkeypatch: pytest.MonkeyPatch
) -> None:
    monkeypatch.setattr(_objects, "table", lambda *args: None)
    with pytest.raises(FfiError, match="made no table"):
        client.tables.debits(**DAY)


@pytest.mark.parametrize(
    ("missing", "method", "install"),
    [
        ("pyarrow", "to_pandas", "pip install 'quillon-accounts[arrow]'"),
        ("pandas", "to_pandas", "pip install pandas"),
        ("polars", "to_polars", "pip install polars"),
    ],
)
def test_a_missing_library_is_named_with_its_install_line(
    client: Client, monkeypatch: pytest.MonkeyPatch, missing: str, method: str, install: str
) -> None:
    if missing == "pandas":
        pytest.importorskip("pyarrow")  # to_pandas asks for pyarrow first
    table = client.tables.list_accounts(nit=NIT)
    monkeypatch.setitem(sys.modules, missing, None)  # import fails
    with pytest.raises(ImportError) as info:
        getattr(table, method)()
    assert isinstance(info.value, MissingExtraError)
    assert str(info.value) == f"Table.{method} needs {missing}: {install}"


def test_the_tables_page_runs_as_written(tmp_path: Path) -> None:
    for name in ("pyarrow", "polars", "pandas", "duckdb"):
        pytest.importorskip(name)
    page = (Path(__file__).parent.parent / "docs" / "tables.md").read_text(encoding="utf-8")
    code = page.split("```python\n", 1)[1].split("```", 1)[0]
    done = subprocess.run(
        [sys.executable, "-c", code], cwd=tmp_path, capture_output=True, text=True, timeout=120
    )
    assert done.returncode == 0, done.stderr
    assert (tmp_path / "debits.csv").read_bytes().startswith(b"transaction_id,")
