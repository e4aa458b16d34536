"""The synchronous client against the gateway simulator, over real HTTP on loopback."""

from __future__ import annotations

from datetime import date, datetime
from decimal import Decimal
from typing import Any

import httpx
import pytest

from conftest import MAIN, NIT, PETTY, SAVINGS, SleepLog, fast_retry
from quillon.accounts import (
    GET_ACCOUNT,
    NO_RETRY,
    AccessToken,
    AccountRef,
    AccountStatus,
    AmbiguousError,
    ApiError,
    AuthenticationError,
    Client,
    ClientConfig,
    DecodeError,
    FfiError,
    HttpResponse,
    NewAccount,
    PaymentStatus,
    QuillonError,
    StatusChange,
    TransportError,
    ValidationError,
    WebhookAuthError,
    build,
    parse,
)
from quillon.accounts.errors import error_from_object
from quillon.accounts.protocol import call
from quillon.accounts.simulator import API_PATH, GatewaySimulator

JANUARY = {"date_from": date(2024, 1, 1), "date_to": date(2024, 1, 31)}


def test_lookups_give_typed_results(client: Client) -> None:
    found = client.get_account(nit=NIT, account_number=MAIN)
    assert found.establishment_id == 15
    assert found.account.number == MAIN
    assert found.account.status is AccountStatus.ACTIVE
    assert found.account.raw_status == "ACTIVA"

    listing = client.list_accounts(nit=NIT)
    assert [e.id for e in listing.establishments] == [15, 16]
    statuses = {a.number: a.status for a in listing.accounts()}
    assert statuses[SAVINGS] is AccountStatus.BLOCKED

    main, petty = client.balances(nit=NIT, account_numbers=[MAIN, PETTY])
    # Sent as a JSON number and as strings; both arrive exact, as Decimal.
    assert (main.available, main.booked, main.held) == (
        Decimal("15230.75"),
        Decimal("15380.75"),
        Decimal("150"),
    )
    assert all(isinstance(v, Decimal) for v in (main.available, main.booked, main.held))
    assert petty.currency == "068"  # the simulator names this member "tipoMoneda"


def test_movements_keep_direction_and_exact_amounts(client: Client) -> None:
    debits = client.debits(nit=NIT, account_number=MAIN, **JANUARY)
    credits = client.credits(
        nit=NIT, account_number=MAIN, date_from="2024-01-01", date_to="2024-01-31"
    )
    assert debits
    assert credits
    assert {m.operation_type for m in debits} == {"DEBITO"}
    assert {m.operation_type for m in credits} == {"CREDITO"}
    for m in debits + credits:
        assert isinstance(m.amount, Decimal)
        assert m.fee is not None
        assert m.total == m.amount + m.fee
        assert isinstance(m.status, PaymentStatus)
        assert m.reference != "N/A"

    week = client.reconcile(nit=NIT, date_from=date(2024, 1, 1), date_to=date(2024, 1, 7))
    first_week = {
        m.transaction_id
        for m in debits + credits
        if m.transaction_at and m.transaction_at < "2024-01-08"
    }
    assert first_week <= {m.transaction_id for m in week.movements}
    assert MAIN in {b.account_number for b in week.balances}


def test_created_accounts_are_listed_and_status_changes_stick(client: Client) -> None:
    created = client.create_accounts(
        nit=NIT,
        establishment_id=15,
        accounts=[
            NewAccount("Caja eventos", "Gastos"),
            {"alias": "Proveedores", "category": "Pagos"},
        ],
    )
    assert created.establishment_id == 15  # sent by the gateway as text
    numbers = [a.number for a in created.accounts]
    assert [a.alias for a in created.accounts] == ["Caja eventos", "Proveedores"]

    listed = {a.number for a in client.list_accounts(nit=NIT).establishments[0].accounts}
    assert set(numbers) <= listed

    changed = client.set_status(
        nit=NIT, changes=[StatusChange(numbers[0], AccountStatus.BLOCKED, "Revisión")]
    )
    assert [(c.account_number, c.status, c.raw_status) for c in changed] == [
        (numbers[0], AccountStatus.BLOCKED, "BLOQUEADA")
    ]
    assert (
        client.get_account(nit=NIT, account_number=numbers[0]).account.status
        is AccountStatus.BLOCKED
    )
    (balance,) = client.balances(nit=NIT, account_numbers=[numbers[0]])
    assert (balance.status, balance.available) == (AccountStatus.BLOCKED, Decimal(0))


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


def test_gateway_rejections_are_not_retried(client: Client, sim: GatewaySimulator) -> None:
    with pytest.raises(ApiError) as caught:
        client.get_account(nit=NIT, account_number="99999999")
    err = caught.value
    assert (err.status, err.code, err.retryable) == (404, "NF-004", False)
    assert "99999999" in err.message
    assert len(sim.requests) == 1

    client.set_status(nit=NIT, changes=[StatusChange(SAVINGS, "closed", "Cierre")])
    with pytest.raises(ApiError) as caught:
        client.set_status(nit=NIT, changes=[StatusChange(SAVINGS, "active", "Reapertura")])
    assert (caught.value.status, caught.value.code) == (409, "CTA-007")
    assert len(sim.requests_to("/estados")) == 2


@pytest.mark.parametrize(
    ("faults", "waits"),
    [
        ([{"status": 503, "count": 2}], [0.01, 0.02]),  # backoff doubles
        # Retry-After honoured; a date in the past means no wait
        (
            [
                {"status": 429, "retry_after": 2},
                {"status": 503, "retry_after": "Wed, 21 Oct 2015 07:28:00 GMT"},
            ],
            [2.0],
        ),
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
    assert client.list_accounts(nit=NIT).nit == NIT
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
    sim: GatewaySimulator, sleeps: SleepLog, fault: dict[str, Any], policy: Any, requests: int
) -> None:
    sim.fail_next(**fault)
    with (
        Client(
            client_id="c", token=sim.token, base_url=sim.url, retry=policy, sleep=sleeps
        ) as client,
        pytest.raises(ApiError) as caught,
    ):
        client.list_accounts(nit=NIT)
    assert caught.value.retryable
    assert len(sim.requests) == requests
    if "retry_after" in fault:
        assert caught.value.retry_after == "20"


@pytest.mark.parametrize("fault", ["unavailable", "dropped", "slow", "garbage"])
def test_create_is_never_resent_once_it_may_have_reached_the_gateway(
    sim: GatewaySimulator, sleeps: SleepLog, fault: str
) -> None:
    def arm() -> None:
        if fault == "unavailable":
            sim.fail_next(503, retry_after=0)
        elif fault == "dropped":
            sim.drop_next()
        elif fault == "slow":
            sim.slow_next(2.0)
        else:
            sim.garbage_next(502)

    with Client(
        client_id="c",
        token=sim.token,
        base_url=sim.url,
        retry=fast_retry(),
        sleep=sleeps,
        timeout=0.5,
    ) as client:
        # The same failure is survived by an idempotent operation ...
        arm()
        client.list_accounts(nit=NIT)
        assert len(sim.requests) == 2
        sim.clear()
        # ... but a creation is sent once and its failure reported.
        arm()
        with pytest.raises(QuillonError) as caught:
            client.create_accounts(
                nit=NIT, establishment_id=15, accounts=[NewAccount("Nueva", "Ventas")]
            )
    assert len(sim.requests_to(API_PATH, "POST")) == 1
    if fault in ("dropped", "slow"):
        assert isinstance(caught.value, TransportError)
        assert caught.value.sent
    else:
        assert isinstance(caught.value, ApiError)


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


def test_unreachable_gateway_raises_transport_error_after_bounded_attempts(
    sleeps: SleepLog,
) -> None:
    sim = GatewaySimulator().start()
    url, token = sim.url, sim.token
    sim.stop()
    with (
        Client(
            client_id="c", token=token, base_url=url, retry=fast_retry(), sleep=sleeps
        ) as client,
        pytest.raises(TransportError) as caught,
    ):
        client.list_accounts(nit=NIT)
    assert not caught.value.sent
    assert len(sleeps.waits) == 2


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

    @pytest.mark.parametrize("create", [False, True])
    def test_refused_token_is_replaced_once_and_a_creation_not_resent(
        self, sim: GatewaySimulator, create: bool
    ) -> None:
        handed: list[AccessToken] = []

        def provider() -> AccessToken:
            token = sim.issue_token()
            if not handed:
                sim.revoke(token)  # the first one is refused by the gateway
            handed.append(token)
            return token

        with Client(client_id="c", token=provider, base_url=sim.url, retry=NO_RETRY) as client:
            if create:
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
        assert lent.get(sim.url + "/").status_code == 401


class TestSansIO:
    def test_build_send_parse_with_own_http(self, sim: GatewaySimulator) -> None:
        config = ClientConfig(client_id="own-stack", base_url=sim.url)
        ref = AccountRef(nit=NIT, account_number=MAIN)
        request = build(GET_ACCOUNT, config, sim.token, ref)
        assert (request.method, request.body) == ("GET", None)
        assert request.url == f"{sim.url}{API_PATH}/{NIT}/{MAIN}"
        answer = httpx.request(request.method, request.url, headers=dict(request.headers))
        result = parse(GET_ACCOUNT, ref, HttpResponse(answer.status_code, answer.text))
        assert result.account.number == MAIN
        assert sim.requests[0].client_id == "own-stack"

    def test_missing_token_and_wrong_input_type(self) -> None:
        config = ClientConfig(client_id="c")
        with pytest.raises(ValidationError) as caught:
            build(GET_ACCOUNT, config, None, AccountRef(NIT, MAIN))
        assert caught.value.field == "token"
        with pytest.raises(TypeError):
            build(GET_ACCOUNT, config, None, object())  # type: ignore[misc]

    def test_engine_misuse_is_an_ffi_error(self) -> None:
        with pytest.raises(FfiError, match="unknown operation"):
            call("accounts.nope.build", "{}")


@pytest.mark.parametrize(
    ("obj", "cls", "attrs"),
    [
        ({"kind": "ambiguous", "message": "m", "errors": []}, AmbiguousError, {"errors": ()}),
        ({"kind": "webhook_auth", "message": "m"}, WebhookAuthError, {"message": "m"}),
        ({"kind": "martian", "message": "m"}, FfiError, {}),
    ],
)
def test_error_objects_become_their_exception_classes(
    obj: dict[str, Any], cls: type[QuillonError], attrs: dict[str, Any]
) -> None:
    err = error_from_object(obj)
    assert type(err) is cls
    for name, value in attrs.items():
        assert getattr(err, name) == value
