"""Results exported as JSON text and read back: exact amounts, enums as words, every result type."""

from __future__ import annotations

import json
from decimal import Decimal
from typing import TYPE_CHECKING, Any

import pytest

from conftest import MAIN, NIT, NORTH, PETTY
from quillon.accounts import (
    Balance,
    Client,
    CreatedAccounts,
    MerchantAccount,
    MerchantAccounts,
    Movement,
    NewAccount,
    Reconciliation,
    StatusChanged,
)
from quillon.accounts.export import from_data, from_dict, to_data, to_dict

if TYPE_CHECKING:
    from typing_extensions import assert_type


def _results(client: Client) -> list[tuple[Any, Any]]:
    week = {"date_from": "2024-01-01", "date_to": "2024-01-07"}
    created = client.create_accounts(
        nit=NIT, establishment_id=16, accounts=[NewAccount("Eventos", "Ventas")]
    )
    return [
        (MerchantAccount, client.get_account(nit=NIT, account_number=MAIN)),
        (MerchantAccounts, client.list_accounts(nit=NIT)),
        (CreatedAccounts, created),
        (
            list[StatusChanged],
            client.set_status(
                nit=NIT,
                changes=[{"account_number": NORTH, "status": "suspended", "reason": "Revisión"}],
            ),
        ),
        (Reconciliation, client.reconcile(nit=NIT, **week)),
        (list[Movement], client.debits(nit=NIT, account_number=MAIN, **week)),
        (list[Movement], client.credits(nit=NIT, account_number=PETTY, **week)),
        (list[Balance], client.balances(nit=NIT, account_numbers=[MAIN, PETTY])),
    ]


def test_every_result_round_trips_through_json_text(client: Client) -> None:
    results = _results(client)
    for tp, result in results:
        text = json.dumps(to_data(result))
        assert from_data(tp, json.loads(text)) == result
        if not isinstance(result, list):
            assert from_dict(tp, json.loads(text)) == result
    debits = results[5][1]
    loaded = from_data(list[Movement], to_data(debits))
    if TYPE_CHECKING:  # what mypy infers for the caller, not Any
        assert_type(loaded, list[Movement])
    assert loaded == debits
    assert isinstance(loaded[0].amount, Decimal)


def test_amounts_are_exact_decimal_text_and_statuses_words(client: Client) -> None:
    (balance,) = client.balances(nit=NIT, account_numbers=[MAIN])
    data = to_dict(balance)
    assert (data["available"], data["booked"], data["held"]) == ("15230.75", "15380.75", "150")
    assert data["status"] == "active"
    assert data["raw_status"] == "ACTIVA"
    # Digits beyond a float's precision survive the trip.
    big = Decimal("12345678901234567890.123456789")
    again = from_dict(Balance, to_dict(balance) | {"available": format(big, "f")})
    assert again.available == big


@pytest.mark.parametrize(
    ("change", "message"),
    [
        ({"available": 1.5}, "Balance.available: an amount must be decimal text"),
        ({"available": "1,5"}, "Balance.available: '1,5' is not a decimal amount"),
        ({"status": "gone"}, "Balance.status: 'gone' is not a AccountStatus"),
        ({"account_number": None}, "Balance.account_number: expected str"),
    ],
)
def test_data_that_does_not_fit_names_the_member(
    client: Client, change: dict[str, Any], message: str
) -> None:
    (balance,) = client.balances(nit=NIT, account_numbers=[MAIN])
    with pytest.raises(ValueError, match=message.replace(".", r"\.")):
        from_dict(Balance, to_dict(balance) | change)
    missing = to_dict(balance)
    del missing["held"]
    with pytest.raises(ValueError, match="missing member 'held'"):
        from_dict(Balance, missing)


def test_to_dict_refuses_what_is_not_a_record() -> None:
    for bad in (lambda: to_dict([1, 2]), lambda: to_data(object())):
        with pytest.raises(TypeError):
            bad()
