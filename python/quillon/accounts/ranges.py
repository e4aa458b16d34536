"""Splitting long date ranges and long account lists to fit the gateway's caps.

The gateway answers at most :data:`MOVEMENTS_MAX_SPAN_DAYS` days of debits or
credits, :data:`RECONCILE_MAX_SPAN_DAYS` days of reconciliation and the
balances of :data:`BALANCES_MAX_ACCOUNTS` accounts per request. The span of a
range is the difference of its two dates: with a cap of 31, 2024-01-01 to
2024-02-01 is one request (32 calendar days, both ends included).

These functions do no I/O; the clients' ``iter_debits``, ``iter_credits``,
``iter_reconcile`` and ``balances`` use them.
"""

from __future__ import annotations

import datetime as _dt
import itertools
from collections.abc import Iterable, Iterator
from typing import TypeVar

from quillon.accounts.errors import ValidationError
from quillon.accounts.models import DateLike

__all__ = [
    "BALANCES_MAX_ACCOUNTS",
    "MOVEMENTS_MAX_SPAN_DAYS",
    "RECONCILE_MAX_SPAN_DAYS",
    "batches",
    "date_windows",
    "parse_date",
]

MOVEMENTS_MAX_SPAN_DAYS = 31
"""Largest span, in days, of one debits or credits request (``date_to - date_from``)."""

RECONCILE_MAX_SPAN_DAYS = 7
"""Largest span, in days, of one reconciliation request (``date_to - date_from``)."""

BALANCES_MAX_ACCOUNTS = 10
"""Most accounts whose balances one request may ask for."""

T = TypeVar("T")


def parse_date(value: DateLike, field: str) -> _dt.date:
    """A ``date`` from a date or a "yyyy-mm-dd" text.

    Raises :class:`~quillon.accounts.errors.ValidationError` naming ``field``
    for a text that is not such a date (nothing is sent), and ``TypeError`` for
    a ``datetime`` or another type.
    """
    if isinstance(value, _dt.datetime):
        raise TypeError(f"{field} must be a date or a 'yyyy-mm-dd' text, not a datetime")
    if isinstance(value, _dt.date):
        return value
    if not isinstance(value, str):
        raise TypeError(
            f"{field} must be a date or a 'yyyy-mm-dd' text, not {type(value).__name__}"
        )
    # fromisoformat also takes forms such as "20240105"; the gateway takes only this one.
    if len(value) == 10 and value[4] == "-" and value[7] == "-":
        try:
            return _dt.date.fromisoformat(value)
        except ValueError:
            pass
    raise ValidationError("must be a date as yyyy-mm-dd", field=field)


def date_windows(
    date_from: DateLike, date_to: DateLike, max_span_days: int
) -> Iterator[tuple[_dt.date, _dt.date]]:
    """The range from ``date_from`` to ``date_to`` (both included) cut into windows.

    Each window is a ``(first, last)`` pair whose span ``last - first`` is at
    most ``max_span_days``; windows come in date order, touch no day twice and
    leave none out. A one-day range (the same date twice) is one window.
    Raises :class:`~quillon.accounts.errors.ValidationError` on field
    "date_to" when ``date_to`` comes before ``date_from``, checked at once,
    before the first window is taken.
    """
    if max_span_days < 0:
        raise ValueError("max_span_days must not be negative")
    first = parse_date(date_from, "date_from")
    last = parse_date(date_to, "date_to")
    if last < first:
        raise ValidationError("must not be before date_from", field="date_to")
    return _windows(first, last, _dt.timedelta(days=max_span_days))


def _windows(
    first: _dt.date, last: _dt.date, span: _dt.timedelta
) -> Iterator[tuple[_dt.date, _dt.date]]:
    start = first
    while True:
        # Compared as a difference, so that no date past the year 9999 is formed.
        end = last if last - start <= span else start + span
        yield start, end
        if end == last:
            return
        start = end + _dt.timedelta(days=1)


def batches(items: Iterable[T], size: int = BALANCES_MAX_ACCOUNTS) -> Iterator[tuple[T, ...]]:
    """``items`` in consecutive groups of ``size`` (the last one may be shorter), in order."""
    if size < 1:
        raise ValueError("size must be at least 1")
    it = iter(items)
    while chunk := tuple(itertools.islice(it, size)):
        yield chunk
