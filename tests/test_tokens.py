"""Client-credentials tokens from the simulator's token endpoint, over loopback HTTP."""

from __future__ import annotations

import asyncio
import threading

import pytest

from conftest import NIT
from quillon.accounts import (
    LIST_ACCOUNTS,
    AccessToken,
    AsyncClient,
    AuthenticationError,
    Client,
    ClientConfig,
    Environment,
    MerchantRef,
)
from quillon.accounts.oauth import AsyncClientCredentials, ClientCredentials, default_token_url
from quillon.accounts.protocol import build
from quillon.accounts.simulator import GatewaySimulator


class Clock:
    def __init__(self) -> None:
        self.now = 1_000_000.0

    def __call__(self) -> float:
        return self.now


def provider(sim: GatewaySimulator, clock: Clock, **options: object) -> ClientCredentials:
    values = {"token_url": sim.token_url, "basic_token": sim.basic_token} | options
    return ClientCredentials(clock=clock, **values)  # type: ignore[arg-type]


@pytest.mark.parametrize(("ttl", "kept_for"), [(3600, 3569), (20, 9)])
def test_token_is_kept_until_shortly_before_it_expires(
    sim: GatewaySimulator, ttl: int, kept_for: int
) -> None:
    sim.token_ttl = ttl
    clock = Clock()
    with provider(sim, clock) as tokens:
        first = tokens()
        clock.now += kept_for
        assert tokens() is first
        clock.now += 1  # within the leeway (30 s, or half a short lifetime)
        second = tokens()
    assert second is not first
    assert sim.tokens_granted == 2


def test_concurrent_callers_share_one_request(sim: GatewaySimulator) -> None:
    sim.token_delay = 0.2  # every caller arrives while the first request is under way
    got: list[str] = []
    secret = {"client_id": sim.oauth_client_id, "client_secret": sim.client_secret}
    with provider(sim, Clock(), basic_token=None, **secret) as tokens:
        threads = [
            threading.Thread(target=lambda: got.append(tokens().access_token)) for _ in range(8)
        ]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    assert got == [got[0]] * 8
    assert sim.tokens_granted == 1


def test_refused_credentials_are_masked(sim: GatewaySimulator) -> None:
    secret = "wrong-secret-value"
    with provider(
        sim, Clock(), client_id="someone", basic_token=None, client_secret=secret
    ) as tokens:
        assert secret not in repr(tokens)
        with pytest.raises(AuthenticationError) as info:
            tokens()
    assert info.value.status == 401
    assert "invalid_client" in str(info.value)
    assert secret not in repr(info.value)


def test_client_fetches_a_fresh_token_after_401(sim: GatewaySimulator) -> None:
    with (
        provider(sim, Clock()) as tokens,
        Client(client_id="cid", token=tokens, base_url=sim.url) as client,
    ):
        client.list_accounts(nit=NIT)
        sim.revoke(tokens())
        client.list_accounts(nit=NIT)
    assert sim.tokens_granted == 2
    assert [r.authorized for r in sim.requests_to(f"/{NIT}")] == [True, False, True]


@pytest.mark.asyncio
async def test_async_provider_shares_one_refresh_and_renews_after_401(
    sim: GatewaySimulator,
) -> None:
    async with (
        AsyncClientCredentials(token_url=sim.token_url, basic_token=sim.basic_token) as tokens,
        AsyncClient(client_id="cid", token=tokens, base_url=sim.url) as client,
    ):
        sim.token_delay = 0.2
        got = await asyncio.gather(*[tokens() for _ in range(8)])
        assert len({t.access_token for t in got}) == 1
        sim.revoke(got[0])
        await asyncio.gather(*[client.list_accounts(nit=NIT) for _ in range(4)])
    assert sim.tokens_granted == 2


@pytest.mark.parametrize("base_url", [None, "http://127.0.0.1:9/root/", "http://127.0.0.1:9"])
@pytest.mark.parametrize("environment", list(Environment))
def test_the_token_endpoint_is_under_the_address_the_engine_sends_to(
    environment: Environment, base_url: str | None
) -> None:
    config = ClientConfig(client_id="cid", environment=environment, base_url=base_url)
    sent = build(LIST_ACCOUNTS, config, AccessToken("t0ken"), MerchantRef(nit=NIT)).url
    base = sent[: sent.index("/cuentas-comercios/")]
    assert default_token_url(config) == base + "/oauth/token"
