"""Long date ranges and long account lists, split to fit the gateway's caps, sync and async."""

from __future__ import annotations

import json
from datetime import date

import pytest

from conftest import MAIN, NIT, PETTY
from quillon.accounts import AsyncClient, Client, NewAccount, ValidationError
from quillon.accounts.simulator import GatewaySimulator


def windows_sent(sim: GatewaySimulator, path: str) -> list[tuple[str, str]]:
    bodies = [json.loads(r.body) for r in sim.requests_to(path)]
    return [(b["fechaInicio"], b["fechaFin"]) for b in bodies]


@pytest.mark.parametrize(
    ("date_from", "date_to", "windows"),
    [
        ("2024-01-01", "2024-02-01", [("2024-01-01", "2024-02-01")]),  # a span of exactly 31
        ("2024-01-01", "2024-02-02", [("2024-01-01", "2024-02-01"), ("2024-02-02", "2024-02-02")]),
        (  # February of a leap year
            "2024-02-01",
            "2024-04-30",
            [
                ("2024-02-01", "2024-03-03"),
                ("2024-03-04", "2024-04-04"),
                ("2024-04-05", "2024-04-30"),
            ],
        ),
        ("2024-02-29", "2024-02-29", [("2024-02-29", "2024-02-29")]),
    ],
)
def test_debits_over_any_range_come_window_by_window(
    client: Client,
    sim: GatewaySimulator,
    date_from: str,
    date_to: str,
    windows: list[tuple[str, str]],
) -> None:
    moves = client.iter_debits(nit=NIT, account_number=MAIN, date_from=date_from, date_to=date_to)
    assert sim.requests_to("/debitos") == []  # nothing asked before the iteration starts
    got = list(moves)
    assert windows_sent(sim, "/debitos") == windows
    # no movement lost or repeated at the edges
    expected = [
        m
        for a, b in windows
        for m in client.debits(nit=NIT, account_number=MAIN, date_from=a, date_to=b)
    ]
    assert got == expected
    assert len({m.transaction_id for m in got}) == len(got)
    assert [m.transaction_at for m in got] == sorted(m.transaction_at or "" for m in got)
    # debits takes the whole range at once: the same windows, one list.
    sim.clear()
    whole = client.debits(nit=NIT, account_number=MAIN, date_from=date_from, date_to=date_to)
    assert (whole, windows_sent(sim, "/debitos")) == (got, windows)


def test_reconcile_keeps_its_week_and_names_the_iterator(
    client: Client, sim: GatewaySimulator
) -> None:
    with pytest.raises(ValidationError, match=r"at most 7 days; .*use iter_reconcile") as info:
        client.reconcile(nit=NIT, date_from="2024-01-01", date_to=date(2024, 1, 9))
    assert info.value.field == "date_to"
    # Dates that are not dates are still the engine's to refuse.
    with pytest.raises(ValidationError) as info:
        client.reconcile(nit=NIT, date_from="2024-01-01", date_to="2024-13-01")
    assert info.value.field == "date_to"
    assert "iter_reconcile" not in info.value.message
    assert sim.requests == []
    assert client.reconcile(nit=NIT, date_from="2024-01-01", date_to="2024-01-08").movements


def test_reversed_range_or_no_account_is_refused_at_the_call(
    client: Client, sim: GatewaySimulator
) -> None:
    with pytest.raises(ValidationError) as info:
        client.iter_credits(
            nit=NIT, account_number=MAIN, date_from=date(2024, 3, 1), date_to=date(2024, 2, 1)
        )
    assert info.value.field == "date_to"
    with pytest.raises(ValidationError, match="account_numbers: give at least one account number"):
        client.balances(nit=NIT, account_numbers=[])
    assert sim.requests == []


def _open_accounts(client: Client, count: int) -> list[str]:
    created = client.create_accounts(
        nit=NIT,
        establishment_id=15,
        accounts=[NewAccount(f"Cuenta {i}", "Ventas") for i in range(count)],
    )
    return [a.number for a in created.accounts]


@pytest.mark.parametrize(("count", "batches"), [(10, [10]), (11, [10, 1]), (50, [10] * 5)])
def test_balances_of_any_number_of_accounts(
    client: Client, sim: GatewaySimulator, count: int, batches: list[int]
) -> None:
    numbers = [MAIN, PETTY, *_open_accounts(client, count - 2)]
    balances = client.balances(nit=NIT, account_numbers=numbers)
    assert [b.account_number for b in balances] == numbers
    sent = [json.loads(r.body)["numeroCuentas"] for r in sim.requests_to("/saldos")]
    assert [len(s) for s in sent] == batches
    assert [n for s in sent for n in s] == numbers


@pytest.mark.asyncio
async def test_async_ranges_and_batches(sim: GatewaySimulator) -> None:
    with Client(client_id="c", token=sim.token, base_url=sim.url) as sync_client:
        numbers = [MAIN, *_open_accounts(sync_client, 49)]
        month = {
            "nit": NIT,
            "account_number": PETTY,
            "date_from": "2023-12-31",
            "date_to": "2024-01-31",
        }
        sync_credits = [m.transaction_id for m in sync_client.credits(**month)]
    sim.clear()
    async with AsyncClient(client_id="c", token=sim.token, base_url=sim.url) as client:
        balances = await client.balances(nit=NIT, account_numbers=numbers, max_concurrency=3)
        assert [b.account_number for b in balances] == numbers
        assert len(sim.requests_to("/saldos")) == 5

        credits = [m.transaction_id async for m in client.iter_credits(**month)]
        reconcile = client.iter_reconcile(nit=NIT, date_from="2024-01-01", date_to="2024-01-15")
        weeks = [r async for r in reconcile]
        quarter = {"date_from": "2023-11-01", "date_to": "2024-01-31"}
        raw = await client.with_raw_response.debits(nit=NIT, account_number=PETTY, **quarter)
    assert len(raw.exchanges) == 3
    assert windows_sent(sim, "/creditos") == [("2023-12-31", "2024-01-31")]
    assert credits == sync_credits
    assert windows_sent(sim, "/transacciones") == [
        ("2024-01-01", "2024-01-08"),
        ("2024-01-09", "2024-01-15"),
    ]
    assert all(m.transaction_at and m.transaction_at < "2024-01-09" for m in weeks[0].movements)
