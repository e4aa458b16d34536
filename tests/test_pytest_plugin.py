"""The pytest plugin's fixtures, used from a test file as a user of the package writes one."""

from __future__ import annotations

import subprocess
import sys

import pytest

pytest_plugins = ["pytester"]

USER_TESTS = """
import pytest
from decimal import Decimal

from quillon.accounts import AccountStatus, ApiError, StatusChange


def test_state_sticks_within_a_test(quillon_client, quillon_simulator):
    quillon_client.set_status(
        nit="1234567", changes=[StatusChange("10000001", AccountStatus.CLOSED, "Cierre")]
    )
    assert quillon_simulator.account_status("10000001") == "CERRADA"


def test_and_is_reset_before_the_next(quillon_client, quillon_simulator):
    assert quillon_simulator.account_status("10000001") == "ACTIVA"
    assert quillon_simulator.requests == []
    (balance,) = quillon_client.balances(nit="1234567", account_numbers=["10000001"])
    assert balance.available == Decimal("15230.75")


def test_rejection_by_arguments(quillon_client, quillon_reject):
    quillon_reject(
        code="CTA-009",
        message="Cuenta inexistente",
        errors={"numeroCuentas": "cuenta no registrada"},
        status=422,
        path="/saldos",
    )
    with pytest.raises(ApiError) as info:
        quillon_client.balances(nit="1234567", account_numbers=["10000001"])
    assert (info.value.status, info.value.code) == (422, "CTA-009")
    assert info.value.message == "Cuenta inexistente"
    assert [e.message for e in info.value.errors] == ["numeroCuentas: cuenta no registrada"]
    assert not info.value.retryable


def _january(client):
    debits = client.debits(
        nit="1234567", account_number="10000001", date_from="2024-01-01", date_to="2024-01-31"
    )
    return [m.transaction_id for m in debits]


@pytest.mark.parametrize("quillon_seed", [7])
def test_seeded_movements(quillon_client, quillon_simulator):
    seeded = _january(quillon_client)
    assert seeded == _january(quillon_client)
    quillon_simulator.reset()
    assert _january(quillon_client) != seeded


@pytest.mark.asyncio
async def test_async_client(quillon_async_client):
    listing = await quillon_async_client.list_accounts(nit="1234567")
    assert [e.id for e in listing.establishments] == [15, 16]


@pytest.mark.asyncio(loop_scope="module")
async def test_async_client_on_a_module_loop(quillon_async_client):
    assert (await quillon_async_client.list_accounts(nit="1234567")).nit == "1234567"
"""


def test_fixtures_from_a_user_test_file(pytester: pytest.Pytester) -> None:
    pytester.makepyfile(test_user=USER_TESTS)
    result = pytester.runpytest_subprocess("-q")
    result.assert_outcomes(passed=6)


# What pytest loads into every run of a venv that has the package: the plugin, and
# no client, engine or httpx until a fixture asks for one.
LOADED = """
import sys
import quillon.accounts.pytest_plugin
heavy = [m for m in ("quillon.accounts.client", "quillon.accounts._native", "httpx")
         if m in sys.modules]
assert not heavy, heavy
from quillon.accounts import Client, ConfigurationError, __all__
assert "quillon.accounts.client" in sys.modules
import quillon.accounts as package
missing = [name for name in __all__ if not hasattr(package, name)]
assert not missing, missing
"""


def test_the_plugin_loads_without_the_client() -> None:
    subprocess.run([sys.executable, "-c", LOADED], check=True, timeout=60)
