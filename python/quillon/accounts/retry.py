"""When and how long to wait before sending a request again."""

from __future__ import annotations

import email.utils
import math
import random
import time
from dataclasses import dataclass, field
from typing import Any

import httpx

from quillon.accounts.errors import (
    ApiError,
    AuthenticationError,
    ConfigurationError,
    QuillonError,
)

__all__ = ["NO_RETRY", "Attempts", "RetryPolicy", "parse_retry_after"]


# Longer values are not a wait anyone means: 10 digits is over 300 years.
_MAX_DELTA_DIGITS = 10
_MAX_DATE_LENGTH = 64


def parse_retry_after(value: str | None, now: float | None = None) -> float | None:
    """Seconds to wait from a Retry-After header: delta seconds or an HTTP date.

    Gives None for a missing or unreadable value (including digits other than
    ASCII and absurdly long values); a date in the past gives 0. Never raises.
    """
    if value is None:
        return None
    text = value.strip(" \t")
    if not text:
        return None
    if text.isascii() and text.isdigit():
        return float(int(text)) if len(text) <= _MAX_DELTA_DIGITS else None
    if len(text) > _MAX_DATE_LENGTH:
        return None
    try:
        when = email.utils.parsedate_to_datetime(text)
        if when.tzinfo is None:
            return None
        current = time.time() if now is None else now
        return max(0.0, when.timestamp() - current)
    except (TypeError, ValueError, IndexError, OverflowError):
        return None


@dataclass(frozen=True)
class RetryPolicy:
    """Exponential backoff with jitter, bounded in attempts and in total time.

    The n-th retry waits ``initial_backoff * multiplier ** (n - 1)`` seconds,
    capped at ``max_backoff``, then spread by up to ``jitter`` of itself either
    way. A Retry-After header from the gateway replaces the computed wait when
    ``honour_retry_after`` is set; a longer advice than ``max_retry_after``
    waits ``max_retry_after`` and then tries again. No retry is made when its
    wait would end after ``max_elapsed`` seconds since the first attempt.

    ``max_elapsed`` is also the deadline of the whole call: every attempt,
    every wait and every read of an answer ends by then, however slowly the
    gateway sends. The client's ``timeout`` bounds each single connect, read
    or write within that, so a silent gateway is noticed before the deadline
    and, for idempotent operations, tried again. The default of 30 s is
    ample on a fast link; give more for the largest answers (tens of
    megabytes) over a slow one.
    """

    max_attempts: int = 3
    """Most times a request is sent, the first included (at least 1)."""
    initial_backoff: float = 0.5
    """Seconds before the first retry, before jitter."""
    multiplier: float = 2.0
    """Growth of the wait from one retry to the next."""
    max_backoff: float = 8.0
    """The longest computed wait, in seconds."""
    jitter: float = 0.25
    """How far each wait is spread either way, as a fraction of itself (0 to 1)."""
    max_elapsed: float = 30.0
    """Seconds from the start of a call to its deadline: no attempt, wait or read goes past it.
    """
    honour_retry_after: bool = True
    """Whether the gateway's Retry-After header replaces the computed wait."""
    max_retry_after: float = 60.0
    """The longest Retry-After wait accepted, in seconds; a longer one ends the retries."""
    rng: random.Random = field(default_factory=random.Random, repr=False, compare=False)
    """The random numbers of the jitter (give a seeded ``random.Random`` for repeatable waits).
    """

    def __post_init__(self) -> None:
        if self.max_attempts < 1:
            raise ConfigurationError("max_attempts must be at least 1")
        if not 0.0 <= self.jitter <= 1.0:
            raise ConfigurationError("jitter must lie between 0 and 1")
        waits = (self.initial_backoff, self.multiplier, self.max_backoff)
        if not all(math.isfinite(w) and w >= 0 for w in waits) or self.max_elapsed < 0:
            raise ConfigurationError(
                "backoff, multiplier and time limits must be numbers, not negative"
            )
        if not self.max_elapsed > 0:
            raise ConfigurationError(
                "max_elapsed must be above 0: it is the deadline of the whole call"
            )

    def backoff(self, retry: int) -> float:
        """The wait before retry number ``retry`` (1 for the first retry), jitter included."""
        base = self._base(retry)
        spread = base * self.jitter
        return max(0.0, base + self.rng.uniform(-spread, spread))

    def _base(self, retry: int) -> float:
        """``initial_backoff * multiplier ** (retry - 1)`` capped at ``max_backoff``,
        compared in logarithms so that no power past the cap is ever computed."""
        steps = max(0, retry - 1)
        initial, growth, cap = self.initial_backoff, self.multiplier, self.max_backoff
        if initial <= 0 or cap <= 0:
            return 0.0
        if growth > 1 and steps * math.log(growth) >= math.log(cap) - math.log(initial):
            return cap
        return min(cap, initial * growth**steps)

    def next_delay(
        self, attempts: int, elapsed: float, retry_after: float | None = None
    ) -> float | None:
        """How long to wait before another attempt, or None when no attempt is left.

        ``attempts`` is the number of attempts made so far and ``elapsed`` the
        seconds since the first one started.
        """
        if attempts >= self.max_attempts:
            return None
        if retry_after is not None and self.honour_retry_after:
            delay = min(retry_after, self.max_retry_after)
        else:
            delay = self.backoff(attempts)
        if elapsed + delay > self.max_elapsed:
            return None
        return delay


NO_RETRY = RetryPolicy(max_attempts=1)
"""A policy that sends each request once."""


# Failures after which the request cannot have reached the gateway.
NOT_SENT: tuple[type[httpx.TransportError], ...] = (
    httpx.ConnectError,
    httpx.ConnectTimeout,
    httpx.PoolTimeout,
)
"""Failures after which the request cannot have reached the gateway."""
# Failures after which the request may have reached the gateway; worth another
# try only for operations that may be sent twice.
MAYBE_SENT: tuple[type[httpx.TransportError], ...] = (
    httpx.ReadTimeout,
    httpx.WriteTimeout,
    httpx.ReadError,
    httpx.WriteError,
    httpx.RemoteProtocolError,
)
"""Failures after which the request may have reached the gateway; retried only for operations that
may be sent twice.
"""


class Attempts:
    """The retry decisions of one operation call, and its deadline.

    The deadline is ``policy.max_elapsed`` seconds after the call started: no
    attempt, wait or body read goes past it.
    """

    def __init__(self, name: str, idempotent: bool, policy: RetryPolicy, can_refresh: bool) -> None:
        self.name = name
        """The operation's name."""
        self.idempotent = idempotent
        """Whether the operation may be sent twice."""
        self.policy = policy
        """The retry policy of the call."""
        self.can_refresh = can_refresh
        """Whether a new token can be asked for after a 401."""
        self.attempts = 0
        """Attempts made so far."""
        self.started = time.monotonic()
        """When the call started (``time.monotonic``)."""
        self.deadline = self.started + policy.max_elapsed
        """When the call must end (``time.monotonic``)."""
        self.refreshed = False
        """Whether the token was already replaced once after a 401."""
        # The token the gateway refused with 401, to be replaced before the next attempt.
        self.refused: Any = None
        """The token the gateway refused with 401, to be replaced before the next attempt."""

    def begin(self) -> None:
        """Counts the attempt about to be made."""
        self.attempts += 1

    def elapsed(self) -> float:
        """Seconds since the call started."""
        return time.monotonic() - self.started

    def remaining(self) -> float:
        """Seconds left before the call's deadline (negative once it has passed)."""
        return self.deadline - time.monotonic()

    def after_transport_error(self, exc: Exception) -> float | None:
        """The wait before another attempt after a failed exchange, or None to give up."""
        if isinstance(exc, NOT_SENT):
            pass
        elif isinstance(exc, MAYBE_SENT):
            if not self.idempotent:
                return None
        else:
            return None
        return self.policy.next_delay(self.attempts, self.elapsed())

    def after_error(self, err: QuillonError, retry_after: str | None, token: Any) -> float | None:
        """The wait before another attempt after a failure answer, or None to give up."""
        if not self.idempotent:
            return None
        if isinstance(err, AuthenticationError):
            if err.status == 401 and self.can_refresh and not self.refreshed:
                self.refreshed = True
                self.refused = token
                return 0.0
            return None
        if isinstance(err, ApiError) and err.retryable:
            wait = parse_retry_after(retry_after)
            return self.policy.next_delay(self.attempts, self.elapsed(), wait)
        return None
