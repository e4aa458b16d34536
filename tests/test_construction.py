"""Building clients: from the environment, plain text tokens, conflicting arguments,
derived clients with other options, and the HTTP side of a call."""

from __future__ import annotations

from typing import TYPE_CHECKING

import httpx
import pytest

from conftest import MAIN, NIT
from quillon.accounts import (
    NO_RETRY,
    ApiError,
    AsyncClient,
    Client,
    ClientClosedError,
    ClientConfig,
    ConfigurationError,
    ConfigurationTypeError,
    Environment,
    MerchantAccount,
    MerchantAccounts,
    MissingSettingError,
    QuillonError,
    RawResponse,
    RetryPolicy,
    TransportError,
)
from quillon.accounts.simulator import GatewaySimulator

if TYPE_CHECKING:
    from typing_extensions import assert_type


@pytest.fixture
def env(monkeypatch: pytest.MonkeyPatch, sim: GatewaySimulator) -> pytest.MonkeyPatch:
    for name in ("ACCESS_TOKEN", "CLIENT_SECRET", "BASIC_TOKEN", "TOKEN_URL", "ENVIRONMENT"):
        monkeypatch.delenv(f"QUILLON_{name}", raising=False)
    monkeypatch.setenv("QUILLON_CLIENT_ID", "from-env")
    monkeypatch.setenv("QUILLON_BASE_URL", sim.url)
    return monkeypatch


def test_zero_config_reads_the_environment(env: pytest.MonkeyPatch, sim: GatewaySimulator) -> None:
    env.setenv("QUILLON_ACCESS_TOKEN", sim.token.access_token)
    with Client() as client:
        assert client.get_account(nit=NIT, account_number=MAIN).account.number == MAIN
    assert sim.requests[-1].client_id == "from-env"
    env.setenv("QUILLON_ENVIRONMENT", "production")
    with Client(client_id="explicit", token=sim.token.access_token) as client:  # arguments win
        assert client.config.environment is Environment.PRODUCTION
        client.list_accounts(nit=NIT)
    assert sim.requests[-1].client_id == "explicit"

    # With a client secret instead of a token, tokens come from the token endpoint.
    env.delenv("QUILLON_ACCESS_TOKEN")
    env.setenv("QUILLON_CLIENT_ID", sim.oauth_client_id)
    env.setenv("QUILLON_CLIENT_SECRET", sim.client_secret)
    env.setenv("QUILLON_TOKEN_URL", sim.token_url)
    with Client() as client:
        client.list_accounts(nit=NIT)
        client.list_accounts(nit=NIT)
    assert sim.tokens_granted == 1
    assert sim.client_secret not in repr(client)


@pytest.mark.asyncio
async def test_async_zero_config_with_basic_token(
    env: pytest.MonkeyPatch, sim: GatewaySimulator
) -> None:
    env.setenv("QUILLON_BASIC_TOKEN", sim.basic_token)
    env.setenv("QUILLON_TOKEN_URL", sim.token_url)
    async with AsyncClient() as client:
        listing = await client.list_accounts(nit=NIT)
    assert listing.nit == NIT
    assert sim.tokens_granted == 1


TOKEN = {"token": "t0ken"}


@pytest.mark.parametrize(
    ("variables", "arguments", "error", "message"),
    [
        ({"QUILLON_ENVIRONMENT": "Production"}, TOKEN, ConfigurationError, "QUILLON_ENVIRONMENT"),
        ({}, TOKEN | {"environment": "prod"}, ConfigurationError, "environment must be one of"),
        ({"QUILLON_BASE_URL": "localhost:8780"}, TOKEN, ConfigurationError, "QUILLON_BASE_URL"),
        ({"QUILLON_CLIENT_ID": ""}, TOKEN, MissingSettingError, "QUILLON_CLIENT_ID"),
        ({}, {}, MissingSettingError, "token=.*QUILLON_ACCESS_TOKEN.*client_secret="),
        (
            {},
            {"config": ClientConfig("x"), "environment": "production", "client_secret": "s3cr3t!"},
            ConfigurationTypeError,
            "pass either config or client_secret, environment",
        ),
        ({}, TOKEN | {"token_url": "http://127.0.0.1/t"}, ConfigurationTypeError, "no use"),
        ({}, {"token_url": "http://127.0.0.1/t"}, ConfigurationTypeError, "client_secret or"),
        ({}, {"token": 42}, ConfigurationTypeError, "token must be a str"),
        ({}, TOKEN | {"timeout": "20"}, ConfigurationTypeError, "timeout must be a number"),
        ({}, TOKEN | {"timeout": -1}, ConfigurationError, "timeout must be above 0"),
        ({}, TOKEN | {"timeout": (5.0, float("nan"), 5.0, 5.0)}, ConfigurationError, "not nan"),
        ({}, TOKEN | {"retry": 3}, ConfigurationTypeError, "retry must be a RetryPolicy, not int"),
        ({}, TOKEN | {"max_response_bytes": 0}, ConfigurationError, "at least 1"),
    ],
)
def test_unusable_settings_are_refused_clearly(
    env: pytest.MonkeyPatch,
    variables: dict[str, str],
    arguments: dict[str, object],
    error: type[Exception],
    message: str,
) -> None:
    for name, value in variables.items():
        env.setenv(name, value)
    for make in (Client, AsyncClient):
        with pytest.raises(error, match=message) as info:
            make(**arguments)  # type: ignore[arg-type]
        # Every one is a QuillonError, and still the built-in error it was before.
        assert isinstance(info.value, QuillonError)
        assert isinstance(info.value, ValueError)
        assert isinstance(info.value, TypeError) is issubclass(error, ConfigurationTypeError)


def test_a_closed_client_says_so(env: pytest.MonkeyPatch, sim: GatewaySimulator) -> None:
    week = {"nit": NIT, "account_number": MAIN, "date_from": "2024-01-01", "date_to": "2024-01-07"}
    parent = Client(token=sim.token)
    derived = parent.with_options(retry=NO_RETRY)
    derived.list_accounts(nit=NIT)
    derived.close()  # the derived client is closed, its parent's pool stays open
    parent.list_accounts(nit=NIT)
    with pytest.raises(ClientClosedError, match="has been closed"):
        derived.list_accounts(nit=NIT)
    parent.close()
    for closed in (parent, derived, parent.with_options(timeout=5)):
        with pytest.raises(ClientClosedError):
            closed.debits(**week)
        with pytest.raises(ClientClosedError):
            closed.iter_reconcile(nit=NIT, date_from="2024-01-01", date_to="2024-01-07")
    # A lent pool closed by its owner.
    with httpx.Client() as http:
        lent = Client(token=sim.token, http_client=http)
    with pytest.raises(ClientClosedError, match="connection pool") as info:
        lent.get_account(nit=NIT, account_number=MAIN)
    assert isinstance(info.value, RuntimeError)


@pytest.mark.asyncio
async def test_a_closed_async_client_says_so(
    env: pytest.MonkeyPatch, sim: GatewaySimulator
) -> None:
    async with AsyncClient(token=sim.token) as client:
        await client.list_accounts(nit=NIT)
    with pytest.raises(ClientClosedError):
        await client.list_accounts(nit=NIT)
    with pytest.raises(ClientClosedError):
        client.with_options(timeout=5).iter_debits(
            nit=NIT, account_number=MAIN, date_from="2024-01-01", date_to="2024-03-01"
        )


def test_with_options_shares_the_pool(client: Client, sim: GatewaySimulator) -> None:
    tagged = client.with_options(headers={"X-Request-Tag": "abc"}, timeout=0.2, retry=NO_RETRY)
    assert tagged._http is client._http
    sim.slow_next(1.0)
    with pytest.raises(TransportError) as info:
        tagged.list_accounts(nit=NIT)
    assert info.value.attempts == 1
    client.list_accounts(nit=NIT)  # its headers are its own
    assert "x-request-tag" not in sim.requests[-1].headers
    with pytest.raises(ConfigurationError, match="Authorization"):
        client.with_options(headers={"Authorization": "Bearer other"})
    with pytest.raises(ConfigurationError, match="timeout must be above 0"):
        client.with_options(timeout=0)
    with pytest.raises(ConfigurationError, match="max_attempts"):
        client.with_options(retry=RetryPolicy(max_attempts=0))


def test_raw_response_and_error_details(client: Client, sim: GatewaySimulator) -> None:
    sim.fail_next(503)
    raw = client.with_raw_response.get_account(nit=NIT, account_number=MAIN)
    if TYPE_CHECKING:
        assert_type(raw, RawResponse[MerchantAccount])
        # The parameters are the method's own: an unused ignore would fail mypy.
        client.with_raw_response.debits(nit=NIT, account=MAIN)  # type: ignore[call-arg]
    assert raw.parsed.account.number == MAIN
    assert [e.status for e in raw.exchanges] == [503, 200]
    assert (raw.status_code, raw.status, raw.attempts) == (200, 200, 2)
    # The wrapper form, and the accessor of a derived client, which is that client's.
    wrapped = client.with_raw_response(client.list_accounts)(nit=NIT)
    assert (wrapped.parsed.nit, wrapped.attempts) == (NIT, 1)
    tagged = client.with_options(headers={"X-Request-Tag": "raw"})
    assert tagged.with_raw_response.balances(nit=NIT, account_numbers=[MAIN]).status_code == 200
    assert sim.requests[-1].headers["x-request-tag"] == "raw"
    assert raw.headers["content-type"].startswith("application/json")
    assert raw.elapsed >= raw.last.elapsed > 0

    sim.reject_next(code="CTA-009", message="Cuenta inexistente", status=404)
    with pytest.raises(ApiError) as info:
        client.get_account(nit=NIT, account_number=MAIN)
    err = info.value
    assert (err.method, err.attempts) == ("GET", 1)
    assert err.url == f"{sim.url}/cuentas-comercios/v1/cuentas/{NIT}/{MAIN}"
    assert err.response_headers is not None
    assert err.response_headers["content-type"].startswith("application/json")
    assert "Cuenta inexistente" in (err.body_preview or "")
    assert (err.elapsed or 0) > 0


@pytest.mark.asyncio
async def test_raw_response_refuses_the_lazy_iterators(
    client: Client, sim: GatewaySimulator
) -> None:
    week = {"nit": NIT, "account_number": MAIN, "date_from": "2024-01-01", "date_to": "2024-01-07"}
    with pytest.raises(TypeError, match="cannot wrap iter_debits"):
        client.with_raw_response(client.iter_debits)(**week)
    async with AsyncClient(client_id="c", token=sim.token, base_url=sim.url) as aclient:
        with pytest.raises(TypeError, match="cannot wrap iter_credits"):
            await aclient.with_raw_response(aclient.iter_credits)(**week)  # type: ignore[arg-type]
        listing = await aclient.with_raw_response(aclient.list_accounts)(nit=NIT)
        if TYPE_CHECKING:
            assert_type(listing, RawResponse[MerchantAccounts])
    assert (listing.status_code, listing.parsed.nit) == (200, NIT)


def test_network_errors_name_host_and_attempts() -> None:
    with GatewaySimulator() as gone:
        url = gone.url
    client = Client(client_id="c", token="t0ken", base_url=url, retry=NO_RETRY)
    with client, pytest.raises(TransportError) as info:
        client.list_accounts(nit=NIT)
    assert url.removeprefix("http://") in str(info.value)
    assert "1 attempt" in str(info.value)


def test_an_unknown_quillon_log_level_is_a_warning() -> None:
    # QUILLON_LOG=debug sending the logs to stderr: test_cli_hostile's log lines.
    from quillon.accounts import _logging

    with pytest.warns(UserWarning, match="QUILLON_LOG='loud'"):
        _logging.configure_from_env({"QUILLON_LOG": "loud"})
