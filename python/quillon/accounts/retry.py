"""When and how long to wait before sending a request again."""

from __future__ import annotations

import email.utils
import random
import time
from dataclasses import dataclass, field

__all__ = ["NO_RETRY", "RetryPolicy", "parse_retry_after"]


def parse_retry_after(value: str | None, now: float | None = None) -> float | None:
    """Seconds to wait from a Retry-After header: delta seconds or an HTTP date.

    Gives None for a missing or unreadable value; a date in the past gives 0.
    """
    if value is None:
        return None
    text = value.strip()
    if not text:
        return None
    if text.isdigit():
        return float(int(text))
    try:
        when = email.utils.parsedate_to_datetime(text)
    except (TypeError, ValueError, IndexError):
        return None
    if when.tzinfo is None:
        return None
    current = time.time() if now is None else now
    return max(0.0, when.timestamp() - current)


@dataclass(frozen=True)
class RetryPolicy:
    """Exponential backoff with jitter, bounded in attempts and in total time.

    The n-th retry waits ``initial_backoff * multiplier ** (n - 1)`` seconds,
    capped at ``max_backoff``, then spread by up to ``jitter`` of itself either
    way. A Retry-After header from the gateway replaces the computed wait when
    ``honour_retry_after`` is set (capped at ``max_retry_after``). No retry is
    made when its wait would end after ``max_elapsed`` seconds since the first
    attempt.
    """

    max_attempts: int = 3
    initial_backoff: float = 0.5
    multiplier: float = 2.0
    max_backoff: float = 8.0
    jitter: float = 0.25
    max_elapsed: float = 30.0
    honour_retry_after: bool = True
    max_retry_after: float = 60.0
    rng: random.Random = field(default_factory=random.Random, repr=False, compare=False)

    def __post_init__(self) -> None:
        if self.max_attempts < 1:
            raise ValueError("max_attempts must be at least 1")
        if not 0.0 <= self.jitter <= 1.0:
            raise ValueError("jitter must lie between 0 and 1")
        if self.initial_backoff < 0 or self.max_backoff < 0 or self.max_elapsed < 0:
            raise ValueError("backoff and time limits must not be negative")

    def backoff(self, retry: int) -> float:
        """The wait before retry number ``retry`` (1 for the first retry), jitter included."""
        base = min(self.max_backoff, self.initial_backoff * self.multiplier ** max(0, retry - 1))
        spread = base * self.jitter
        return max(0.0, base + self.rng.uniform(-spread, spread))

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
            if retry_after > self.max_retry_after:
                return None
            delay = retry_after
        else:
            delay = self.backoff(attempts)
        if elapsed + delay > self.max_elapsed:
            return None
        return delay


NO_RETRY = RetryPolicy(max_attempts=1)
