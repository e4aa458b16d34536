"""The synchronous client against the gateway simulator, over real HTTP on loopback."""

from __future__ import annotations

import json
from collections.abc import Callable
from datetime import date, datetime
from typing import Any

import httpx
import pytest

from conftest import MAIN, NIT, SAVINGS, SleepLog, fast_retry
from quillon.accounts import (
    GET_ACCOUNT,
    NO_RETRY,
    AccessToken,
    AccountStatus,
    ApiError,
    AuthenticationError,
    Client,
    ClientConfig,
    DecodeError,
    FfiError,
    NewAccount,
    QuillonError,
    StatusChange,
    TransportError,
    build,
)
from quillon.accounts.protocol import call
from quillon.accounts.simulator import API_PATH, GatewaySimulator


def test_operations_give_typed_results_and_status_changes_stick(client: Client) -> None:
    listing = client.list_accounts(nit=NIT)
    assert [e.id for e in listing.establishments] == [15, 16]
    assert {a.number: a.status for a in listing.accounts()}[SAVINGS] is AccountStatus.BLOCKED

    created = client.create_accounts(
        nit=NIT,
        establishment_id=15,
        accounts=[NewAccount("Caja", "Gastos"), {"alias": "Proveedores", "category": "Pagos"}],
    )
    assert created.establishment_id == 15  # sent by the gateway as text
    number = created.accounts[0].number
    changed = client.set_status(
        nit=NIT, changes=[StatusChange(number, AccountStatus.BLOCKED, "Revisión")]
    )
    assert [(c.account_number, c.raw_status) for c in changed] == [(number, "BLOQUEADA")]
    found = client.get_account(nit=NIT, account_number=number)
    assert found.account.status is AccountStatus.BLOCKED


def test_a_datetime_is_refused_rather_than_cut_to_a_day(
    client: Client, sim: GatewaySimulator
) -> None:
    with pytest.raises(TypeError, match="date_from"):
        client.debits(
            nit=NIT,
            account_number=MAIN,
            date_from=datetime(2024, 1, 1, 23),
            date_to=date(2024, 1, 2),
        )
    assert sim.requests == []


@pytest.mark.parametrize(
    ("faults", "waits"),
    [
        ([{"status": 503, "count": 2}], [0.01, 0.02]),  # backoff doubles
        ([{"status": 408}, {"status": 504}], [0.01, 0.02]),
        # Retry-After honoured up to max_retry_after (5 s here); a date in the
        # past means no wait
        (
            [
                {"status": 429, "retry_after": 2},
                {"status": 503, "retry_after": "Wed, 21 Oct 2015 07:28:00 GMT"},
            ],
            [2.0],
        ),
        ([{"status": 503, "retry_after": 5}, {"status": 429, "retry_after": 6}], [5.0, 5.0]),
    ],
)
def test_retryable_failures_are_retried(
    client: Client,
    sim: GatewaySimulator,
    sleeps: SleepLog,
    faults: list[dict[str, Any]],
    waits: list[float],
) -> None:
    for fault in faults:
        sim.fail_next(**fault)
    c = client.with_options(retry=fast_retry(max_retry_after=5.0))
    assert c.list_accounts(nit=NIT).nit == NIT
    assert len(sim.requests) == 3
    assert sleeps.waits == waits


@pytest.mark.parametrize(
    ("fault", "policy", "requests"),
    [
        ({"status": 503, "count": 5}, fast_retry(max_attempts=5), 5),
        # the wait would end past max_elapsed (though within max_retry_after)
        ({"status": 503, "retry_after": 20}, fast_retry(max_elapsed=10), 1),
        ({"status": 429, "count": 5}, NO_RETRY, 1),
    ],
)
def test_retries_are_bounded(
    client: Client, sim: GatewaySimulator, fault: dict[str, Any], policy: Any, requests: int
) -> None:
    sim.fail_next(**fault)
    with pytest.raises(ApiError) as caught:
        client.with_options(retry=policy).list_accounts(nit=NIT)
    assert caught.value.retryable
    assert len(sim.requests) == requests
    if "retry_after" in fault:
        assert caught.value.retry_after == "20"


@pytest.mark.parametrize("fault", ["unavailable", "dropped", "slow"])
def test_create_is_never_resent_once_it_may_have_reached_the_gateway(
    client: Client, sim: GatewaySimulator, fault: str
) -> None:
    arms: dict[str, Callable[[], object]] = {
        "unavailable": lambda: sim.fail_next(503, retry_after=0),
        "dropped": sim.drop_next,
        "slow": lambda: sim.slow_next(2.0),
    }
    hasty = client.with_options(timeout=0.5)
    arms[fault]()  # survived by an idempotent operation, but a creation is sent once
    hasty.list_accounts(nit=NIT)
    assert len(sim.requests) == 2
    sim.clear()
    arms[fault]()
    with pytest.raises(QuillonError) as caught:
        hasty.create_accounts(nit=NIT, establishment_id=15, accounts=[NewAccount("N", "V")])
    assert len(sim.requests_to(API_PATH, "POST")) == 1
    if fault == "unavailable":
        assert isinstance(caught.value, ApiError)
    else:
        assert isinstance(caught.value, TransportError)
        assert caught.value.sent


def test_create_is_retried_when_the_connection_was_never_made() -> None:
    first = GatewaySimulator().start()
    port, token = first.port, first.token
    first.stop()
    revived: list[GatewaySimulator] = []

    def sleep(_: float) -> None:  # the gateway comes back while the client waits
        if not revived:
            revived.append(GatewaySimulator(port=port, access_token=token.access_token).start())

    try:
        with Client(
            client_id="c",
            token=token,
            base_url=f"http://127.0.0.1:{port}",
            retry=fast_retry(),
            sleep=sleep,
        ) as client:
            created = client.create_accounts(
                nit=NIT, establishment_id=16, accounts=[NewAccount("A", "B")]
            )
        assert len(created.accounts) == 1
        assert len(revived[0].requests) == 1
    finally:
        for s in revived:
            s.stop()


def test_undecodable_answers(client: Client, sim: GatewaySimulator) -> None:
    sim.garbage_next(200)
    with pytest.raises(DecodeError, match="invalid JSON body"):
        client.get_account(nit=NIT, account_number=MAIN)
    assert len(sim.requests) == 1


class TestTokens:
    def test_provider_is_asked_again_once_the_token_expired(self, sim: GatewaySimulator) -> None:
        issued: list[AccessToken] = []
        now = [1_000.0]

        def provider() -> AccessToken:
            token = sim.issue_token(ttl=10**6)
            token = AccessToken(token.access_token, expires_at=int(now[0]) + 300)
            issued.append(token)
            return token

        with Client(
            client_id="c", token=provider, base_url=sim.url, clock=lambda: now[0]
        ) as client:
            client.list_accounts(nit=NIT)
            client.list_accounts(nit=NIT)
            assert len(issued) == 1
            now[0] += 290  # within the refresh margin before expiry
            client.list_accounts(nit=NIT)
        assert len(issued) == 2

    def test_refused_token_is_replaced_once_and_a_creation_not_resent(
        self, sim: GatewaySimulator
    ) -> None:
        handed: list[AccessToken] = []

        def provider() -> AccessToken:
            token = sim.issue_token()
            if not handed:
                sim.revoke(token)  # the first one is refused by the gateway
            handed.append(token)
            return token

        with Client(client_id="c", token=provider, base_url=sim.url, retry=NO_RETRY) as client:
            with pytest.raises(AuthenticationError):
                client.create_accounts(
                    nit=NIT, establishment_id=15, accounts=[NewAccount("a", "b")]
                )
            assert client.get_account(nit=NIT, account_number=MAIN).account.number == MAIN
        # The creation went once; the refused token is not offered again.
        assert len(handed) == 2
        assert [r.authorized for r in sim.requests] == [False, True]


def test_connection_pool_is_closed_only_when_owned(sim: GatewaySimulator) -> None:
    with Client(client_id="c", token=sim.token, base_url=sim.url) as owned:
        owned.list_accounts(nit=NIT)
    assert owned._http.is_closed

    with httpx.Client(timeout=5) as lent:
        with Client(
            client_id="c", token=sim.token, base_url=sim.url, http_client=lent
        ) as borrowing:
            borrowing.list_accounts(nit=NIT)
        assert not lent.is_closed


class TestSansIO:
    def test_wrong_input_type_and_unknown_operation(self) -> None:
        config = ClientConfig(client_id="c")
        with pytest.raises(TypeError):
            build(GET_ACCOUNT, config, None, object())  # type: ignore[misc]
        with pytest.raises(FfiError, match="unknown operation"):
            call("accounts.nope.build", "{}")


@pytest.mark.parametrize(
    ("status", "cls"),
    [
        (400, "BadRequestError"),
        (403, "PermissionDeniedError"),
        (404, "NotFoundError"),
        (409, "ConflictError"),
        (418, "ApiError"),
        (429, "RateLimitError"),
        (503, "InternalServerError"),
    ],
)
def test_gateway_failures_raise_the_class_of_their_status(
    client: Client, sim: GatewaySimulator, status: int, cls: str
) -> None:
    sim.fail_next(status, count=5)
    with pytest.raises(QuillonError) as caught:
        client.list_accounts(nit=NIT)
    err = caught.value
    assert type(err).__name__ == cls
    # The kinds stay as they were: a 403 is still an authentication failure.
    assert isinstance(err, AuthenticationError if status == 403 else ApiError)
    assert json.loads(err.to_json()) == err.to_dict()
    assert err.to_dict()["status"] == status
    assert str(err.request_id).startswith("sim-")
    # Only a failure worth another try is sent again.
    assert err.retryable is (len(sim.requests) > 1) is (status in (429, 503))
