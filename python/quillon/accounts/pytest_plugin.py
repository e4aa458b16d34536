"""A pytest plugin for testing code that uses this package, against the gateway simulator.

Installed with the package and loaded by pytest on its own (entry point
``pytest11``); it adds these fixtures:

``quillon_simulator``
    A running :class:`~quillon.accounts.simulator.GatewaySimulator` on a free
    loopback port, started once per session and reset before each test:
    its accounts, statuses, tokens, settings (``token_ttl``,
    ``client_secret``), scripted failures and request log are as new, and its
    movements are drawn from ``quillon_seed``. A request of an earlier test
    still held up by a scripted delay changes nothing in the next one.
``quillon_seed``
    The seed of the made-up movements (None: the simulator's default).
    Override it to seed: ``@pytest.fixture`` in a ``conftest.py``, or
    ``@pytest.mark.parametrize("quillon_seed", [7])`` on one test.
``quillon_client``
    A :class:`~quillon.accounts.Client` bound to the simulator, with a
    retry policy whose waits are a few milliseconds.
``quillon_async_client``
    The same as an :class:`~quillon.accounts.AsyncClient`, for async tests
    (it needs pytest-asyncio).
``quillon_reject``
    Scripts a business rejection of the next request(s)::

        def test_refused(quillon_client, quillon_reject):
            quillon_reject(code="CTA-009", message="Cuenta inexistente", path="/saldos")
            with pytest.raises(ApiError) as info:
                quillon_client.balances(nit="1234567", account_numbers=["10000001"])
            assert info.value.code == "CTA-009"

    It takes the arguments of
    :meth:`~quillon.accounts.simulator.GatewaySimulator.reject_next`.

Set ``QUILLON_LOG=debug`` to see the client's and the simulator's logs in
pytest's captured output.
"""

from __future__ import annotations

from collections.abc import AsyncIterator, Callable, Iterator
from typing import TYPE_CHECKING, Any

import pytest

if TYPE_CHECKING:
    from quillon.accounts.client import AsyncClient, Client
    from quillon.accounts.simulator import GatewaySimulator

__all__ = [
    "quillon_async_client",
    "quillon_client",
    "quillon_reject",
    "quillon_seed",
    "quillon_simulator",
]

CLIENT_ID = "pytest"
"""The client id of the fixtures' clients."""


def _bound_to(sim: GatewaySimulator) -> dict[str, Any]:
    """The settings of a client for ``sim``, with retries that wait a few milliseconds."""
    from quillon.accounts.retry import RetryPolicy

    return {
        "client_id": CLIENT_ID,
        "token": sim.token,
        "base_url": sim.url,
        "retry": RetryPolicy(initial_backoff=0.005, max_backoff=0.02, max_elapsed=5.0),
        "timeout": 10.0,
    }


@pytest.fixture(scope="session")
def _quillon_simulator_session() -> Iterator[GatewaySimulator]:
    from quillon.accounts.simulator import GatewaySimulator

    with GatewaySimulator() as sim:
        yield sim


@pytest.fixture
def quillon_seed() -> int | None:
    """The seed of the simulator's made-up movements; override it to choose one."""
    return None


@pytest.fixture
def quillon_simulator(
    _quillon_simulator_session: GatewaySimulator, quillon_seed: int | None
) -> GatewaySimulator:
    """The session's running simulator, reset to its first state (seeded by ``quillon_seed``)."""
    _quillon_simulator_session.reset(seed=quillon_seed)
    return _quillon_simulator_session


@pytest.fixture
def quillon_client(quillon_simulator: GatewaySimulator) -> Iterator[Client]:
    """A :class:`~quillon.accounts.Client` bound to ``quillon_simulator``."""
    from quillon.accounts.client import Client

    with Client(**_bound_to(quillon_simulator)) as client:
        yield client


@pytest.fixture
def quillon_reject(quillon_simulator: GatewaySimulator) -> Callable[..., None]:
    """Scripts a business rejection: ``quillon_reject(code=..., message=..., errors=...)``."""
    return quillon_simulator.reject_next


def _async_fixture(fixture: Callable[..., AsyncIterator[AsyncClient]]) -> Any:
    """``fixture`` as a pytest-asyncio fixture; without pytest-asyncio, a fixture of
    the same name that skips the test saying what it needs."""
    try:
        import pytest_asyncio
    except ImportError:  # pragma: no cover - depends on what the user installed

        @pytest.fixture(name=fixture.__name__)
        def skipped(quillon_simulator: GatewaySimulator) -> Any:
            pytest.skip(f"{fixture.__name__} needs pytest-asyncio")

        skipped.__doc__ = fixture.__doc__
        return skipped
    return pytest_asyncio.fixture(fixture)


@_async_fixture
async def quillon_async_client(quillon_simulator: GatewaySimulator) -> AsyncIterator[AsyncClient]:
    """An :class:`~quillon.accounts.AsyncClient` bound to ``quillon_simulator``, for
    async tests run by pytest-asyncio.

    It is a function-scoped fixture: it works in pytest-asyncio's strict mode
    (mark each test with ``@pytest.mark.asyncio``) and in auto mode, with the
    default event loop of each test. Tests that run on a loop of a wider scope
    (``loop_scope="module"`` or ``"session"``) get a client made on that loop.
    """
    from quillon.accounts.client import AsyncClient

    async with AsyncClient(**_bound_to(quillon_simulator)) as client:
        yield client
