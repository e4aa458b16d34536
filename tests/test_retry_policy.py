"""The backoff of long retry runs stays a finite wait within its cap."""

from __future__ import annotations

from typing import Any

import pytest

from quillon.accounts import RetryPolicy


@pytest.mark.parametrize(
    ("options", "cap"),
    [
        ({"initial_backoff": 0, "max_backoff": 0}, 0.0),
        ({"initial_backoff": 0.5, "max_backoff": 8.0}, 8.0),
        ({"initial_backoff": 1e-300, "multiplier": 1e300, "max_backoff": 1e300}, 1e300),
    ],
)
def test_the_backoff_of_a_long_run_reaches_its_cap_without_overflowing(
    options: dict[str, Any], cap: float
) -> None:
    policy = RetryPolicy(max_attempts=100_000, jitter=0.0, max_elapsed=1e308, **options)
    waits = [policy.next_delay(attempts, 0.0) for attempts in (1, 1024, 1025, 1100, 99_999)]
    assert waits[1:] == [cap] * 4
    assert policy.next_delay(100_000, 0.0) is None


@pytest.mark.parametrize(
    "options",
    [{"initial_backoff": float("nan")}, {"multiplier": float("inf")}, {"multiplier": -2.0}],
)
def test_waits_that_are_not_numbers_are_refused(options: dict[str, Any]) -> None:
    with pytest.raises(ValueError, match="backoff"):
        RetryPolicy(**options)
