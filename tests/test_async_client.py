"""The asynchronous client against the gateway simulator, over real HTTP on loopback."""

from __future__ import annotations

import asyncio
from collections.abc import AsyncIterator
from datetime import date
from decimal import Decimal

import httpx
import pytest
import pytest_asyncio

from conftest import MAIN, NIT, PETTY, SleepLog, fast_retry
from quillon.accounts import (
    AccessToken,
    AccountStatus,
    AsyncClient,
    AuthenticationError,
    NewAccount,
    StatusChange,
    TransportError,
)
from quillon.accounts.simulator import API_PATH, GatewaySimulator

pytestmark = pytest.mark.asyncio


@pytest_asyncio.fixture
async def aclient(sim: GatewaySimulator, sleeps: SleepLog) -> AsyncIterator[AsyncClient]:
    async with AsyncClient(
        client_id="async-client",
        token=sim.token,
        base_url=sim.url,
        retry=fast_retry(),
        sleep=sleeps.asleep,
        timeout=5.0,
    ) as client:
        yield client


async def test_every_operation_concurrently(aclient: AsyncClient) -> None:
    january = {"date_from": date(2024, 1, 1), "date_to": date(2024, 1, 31)}
    found, debits, balances = await asyncio.gather(
        aclient.get_account(nit=NIT, account_number=MAIN),
        aclient.debits(nit=NIT, account_number=MAIN, **january),
        aclient.balances(nit=NIT, account_numbers=[MAIN, PETTY]),
    )
    assert found.account.status is AccountStatus.ACTIVE
    assert {m.operation_type for m in debits} == {"DEBITO"}
    assert balances[0].available == Decimal("15230.75")

    created = await aclient.create_accounts(
        nit=NIT, establishment_id=16, accounts=[NewAccount("Norte 2", "Ventas")]
    )
    number = created.accounts[0].number
    (changed,) = await aclient.set_status(
        nit=NIT, changes=[StatusChange(number, "suspended", "Control")]
    )
    assert changed.status is AccountStatus.SUSPENDED
    again = await aclient.get_account(nit=NIT, account_number=number)
    assert again.account.status is AccountStatus.SUSPENDED


async def test_a_maybe_sent_creation_is_not_retried(
    aclient: AsyncClient, sim: GatewaySimulator
) -> None:
    sim.drop_next()
    with pytest.raises(TransportError) as caught:
        await aclient.create_accounts(nit=NIT, establishment_id=15, accounts=[NewAccount("a", "b")])
    assert caught.value.sent
    assert len(sim.requests_to(API_PATH, "POST")) == len(sim.requests) == 1


async def test_retries_wait_without_blocking(
    aclient: AsyncClient, sim: GatewaySimulator, sleeps: SleepLog
) -> None:
    sim.fail_next(503, retry_after=1)
    sim.drop_next()
    await aclient.balances(nit=NIT, account_numbers=[MAIN])
    assert len(sim.requests) == 3
    assert sleeps.waits == [1.0, 0.02]  # as told by Retry-After, then the second backoff step


async def test_plain_callable_provider_and_persistent_refusal(sim: GatewaySimulator) -> None:
    calls: list[int] = []

    def provider() -> AccessToken:
        calls.append(1)
        return AccessToken("not-a-valid-token")

    async with AsyncClient(client_id="c", token=provider, base_url=sim.url) as client:
        with pytest.raises(AuthenticationError) as caught:
            await client.get_account(nit=NIT, account_number=MAIN)
    assert caught.value.status == 401
    assert len(calls) == len(sim.requests) == 2  # one fresh token, then the refusal stands


async def test_lent_pool_stays_open(sim: GatewaySimulator) -> None:
    async with httpx.AsyncClient() as lent:
        async with AsyncClient(
            client_id="c", token=sim.token, base_url=sim.url, http_client=lent
        ) as client:
            await client.list_accounts(nit=NIT)
        assert not lent.is_closed
    async with AsyncClient(client_id="c", token=sim.token, base_url=sim.url) as owned:
        await owned.list_accounts(nit=NIT)
    assert owned._http.is_closed
