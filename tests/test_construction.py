"""Building clients: from the environment, plain text tokens, conflicting arguments,
derived clients with other options, and the HTTP side of a call."""

from __future__ import annotations

import pytest

from conftest import MAIN, NIT
from quillon.accounts import (
    NO_RETRY,
    ApiError,
    AsyncClient,
    Client,
    ClientConfig,
    Environment,
    TransportError,
)
from quillon.accounts.simulator import GatewaySimulator


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


@pytest.mark.parametrize(
    ("variables", "arguments", "error", "message"),
    [
        ({"QUILLON_ENVIRONMENT": "Production"}, {}, ValueError, "QUILLON_ENVIRONMENT must be one"),
        ({"QUILLON_BASE_URL": "localhost:8780"}, {}, ValueError, "QUILLON_BASE_URL must be an"),
        ({"QUILLON_CLIENT_ID": ""}, {}, TypeError, "QUILLON_CLIENT_ID"),
        (
            {},
            {"config": ClientConfig("x"), "environment": "production", "client_secret": "s3cr3t!"},
            TypeError,
            "pass either config or client_secret, environment",
        ),
        ({}, {"token": "t0ken", "token_url": "http://127.0.0.1/t"}, TypeError, "no use"),
        ({}, {"token_url": "http://127.0.0.1/t"}, TypeError, "client_secret or basic_token"),
        ({}, {"token": 42}, TypeError, "token must be a str"),
        ({}, {"timeout": "20"}, TypeError, "timeout must be a number of seconds"),
        ({}, {"timeout": -1}, ValueError, "timeout must be above 0"),
        ({}, {"timeout": (5.0, float("nan"), 5.0, 5.0)}, ValueError, "above 0 seconds, not nan"),
        ({}, {"retry": 3}, TypeError, "retry must be a RetryPolicy, not int"),
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
    with pytest.raises(error, match=message):
        Client(**arguments)  # type: ignore[arg-type]


def test_with_options_shares_the_pool(client: Client, sim: GatewaySimulator) -> None:
    tagged = client.with_options(headers={"X-Request-Tag": "abc"}, timeout=0.2, retry=NO_RETRY)
    assert tagged._http is client._http
    tagged.list_accounts(nit=NIT)
    assert sim.requests[-1].headers["x-request-tag"] == "abc"
    sim.slow_next(1.0)
    with pytest.raises(TransportError) as info:
        tagged.list_accounts(nit=NIT)
    assert info.value.attempts == 1
    tagged.close()  # a derived client leaves the shared pool open
    client.list_accounts(nit=NIT)
    assert "x-request-tag" not in sim.requests[-1].headers
    with pytest.raises(ValueError, match="Authorization"):
        client.with_options(headers={"Authorization": "Bearer other"})
    with pytest.raises(ValueError, match="timeout must be above 0"):
        client.with_options(timeout=0)


def test_raw_response_and_error_details(client: Client, sim: GatewaySimulator) -> None:
    sim.fail_next(503)
    raw = client.with_raw_response(client.get_account)(nit=NIT, account_number=MAIN)
    assert raw.parsed.account.number == MAIN
    assert [e.status for e in raw.exchanges] == [503, 200]
    assert (raw.status, raw.attempts) == (200, 2)
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
        raw = await aclient.with_raw_response(aclient.debits)(**week)
    assert raw.status == 200


def test_network_errors_name_host_and_attempts() -> None:
    with GatewaySimulator() as gone:
        url = gone.url
    client = Client(client_id="c", token="t0ken", base_url=url, retry=NO_RETRY)
    with client, pytest.raises(TransportError) as info:
        client.list_accounts(nit=NIT)
    assert url.removeprefix("http://") in str(info.value)
    assert "1 attempt" in str(info.value)


def test_quillon_log_sends_the_package_logs_to_stderr() -> None:
    import logging

    from quillon.accounts import _logging

    logger = logging.getLogger("quillon.accounts")
    level = logger.level
    try:
        _logging.configure_from_env({"QUILLON_LOG": "DEBUG"})
        assert logger.level == logging.DEBUG
        assert _logging._env_handler in logger.handlers
        with pytest.warns(UserWarning, match="QUILLON_LOG='loud'"):
            _logging.configure_from_env({"QUILLON_LOG": "loud"})
    finally:
        if _logging._env_handler is not None:
            logger.removeHandler(_logging._env_handler)
            _logging._env_handler = None
        logger.setLevel(level)
