"""Shared fixtures: a gateway simulator on a free loopback port, and clients bound to it."""

from __future__ import annotations

from collections.abc import Iterator
from typing import Any

import pytest

from quillon.accounts import Client, RetryPolicy
from quillon.accounts.simulator import GatewaySimulator

NIT = "1234567"
MAIN = "10000001"  # active, establishment 15, balances 15230.75 / 15380.75 / 150.00
PETTY = "10000002"  # active, currency sent as "tipoMoneda"
SAVINGS = "10000003"  # blocked
NORTH = "20000001"  # establishment 16


class SleepLog:
    """Stands in for time.sleep: records the waits instead of taking them."""

    def __init__(self) -> None:
        self.waits: list[float] = []

    def __call__(self, seconds: float) -> None:
        self.waits.append(seconds)

    async def asleep(self, seconds: float) -> None:
        self.waits.append(seconds)


def fast_retry(**overrides: Any) -> RetryPolicy:
    values: dict[str, Any] = {"initial_backoff": 0.01, "max_backoff": 0.05, "jitter": 0.0}
    values.update(overrides)
    return RetryPolicy(**values)


@pytest.fixture
def sim() -> Iterator[GatewaySimulator]:
    with GatewaySimulator() as simulator:
        yield simulator


@pytest.fixture
def sleeps() -> SleepLog:
    return SleepLog()


@pytest.fixture
def client(sim: GatewaySimulator, sleeps: SleepLog) -> Iterator[Client]:
    with Client(
        client_id="test-client",
        token=sim.token,
        base_url=sim.url,
        retry=fast_retry(),
        sleep=sleeps,
        timeout=5.0,
    ) as c:
        yield c
