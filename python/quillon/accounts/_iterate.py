"""Movements and reconciliations over any date range, for both clients.

Each range is cut into windows that the gateway answers in one request
(:mod:`quillon.accounts.ranges`); the windows are asked for one after the
other, only as the caller goes on iterating.
"""

from __future__ import annotations

from collections.abc import AsyncIterator, Awaitable, Callable, Iterator
from datetime import date
from typing import Protocol

from quillon.accounts.errors import ValidationError
from quillon.accounts.models import DateLike, Movement, Reconciliation
from quillon.accounts.ranges import (
    MOVEMENTS_MAX_SPAN_DAYS,
    RECONCILE_MAX_SPAN_DAYS,
    date_windows,
    parse_date,
)


class _SyncOps(Protocol):
    def _ensure_open(self) -> None: ...

    def debits(
        self, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> list[Movement]: ...

    def credits(
        self, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> list[Movement]: ...

    def reconcile(self, *, nit: str, date_from: DateLike, date_to: DateLike) -> Reconciliation: ...


class _AsyncOps(Protocol):
    def _ensure_open(self) -> None: ...

    async def debits(
        self, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> list[Movement]: ...

    async def credits(
        self, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> list[Movement]: ...

    async def reconcile(
        self, *, nit: str, date_from: DateLike, date_to: DateLike
    ) -> Reconciliation: ...


Fetch = Callable[..., list[Movement]]
AsyncFetch = Callable[..., Awaitable[list[Movement]]]


Windows = Iterator[tuple[date, date]]


def _span(date_from: DateLike, date_to: DateLike) -> int | None:
    """Days from ``date_from`` to ``date_to``; None when a date is not one (the engine
    refuses it, naming the field)."""
    try:
        return (parse_date(date_to, "date_to") - parse_date(date_from, "date_from")).days
    except ValidationError:
        return None


def movement_windows(date_from: DateLike, date_to: DateLike) -> list[tuple[DateLike, DateLike]]:
    """The requests of one ``debits`` or ``credits`` call: the range as given when one
    request can take it (or when the engine is to refuse it), else its windows of at
    most 31 days, in date order."""
    span = _span(date_from, date_to)
    if span is None or span <= MOVEMENTS_MAX_SPAN_DAYS:
        return [(date_from, date_to)]
    return list(date_windows(date_from, date_to, MOVEMENTS_MAX_SPAN_DAYS))


def check_reconcile_range(date_from: DateLike, date_to: DateLike) -> None:
    """Refuses a reconciliation range longer than one request takes, pointing to
    ``iter_reconcile``; other faults of the dates are left to the engine."""
    span = _span(date_from, date_to)
    if span is not None and span > RECONCILE_MAX_SPAN_DAYS:
        raise ValidationError(
            f"the range is at most {RECONCILE_MAX_SPAN_DAYS} days; for longer periods use "
            "iter_reconcile, which asks for one window of 7 days at a time",
            field="date_to",
        )


def _windows(date_from: DateLike, date_to: DateLike) -> Windows:
    # Called before any iteration, so that bad dates are refused at the call.
    return date_windows(date_from, date_to, MOVEMENTS_MAX_SPAN_DAYS)


def _movements(fetch: Fetch, nit: str, account_number: str, windows: Windows) -> Iterator[Movement]:
    for first, last in windows:
        yield from fetch(nit=nit, account_number=account_number, date_from=first, date_to=last)


async def _amovements(
    fetch: AsyncFetch, nit: str, account_number: str, windows: Windows
) -> AsyncIterator[Movement]:
    for first, last in windows:
        for movement in await fetch(
            nit=nit, account_number=account_number, date_from=first, date_to=last
        ):
            yield movement


class SyncRanges:
    """``iter_debits``, ``iter_credits`` and ``iter_reconcile`` of :class:`Client`."""

    def iter_debits(
        self: _SyncOps, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> Iterator[Movement]:
        """The debits of an account from ``date_from`` to ``date_to`` (both included),
        over any number of days.

        The range is asked for in windows of at most 31 days, in date order, each
        request sent when the iteration reaches it; every day is asked for once, so
        no movement comes twice.
        """
        self._ensure_open()
        return _movements(self.debits, nit, account_number, _windows(date_from, date_to))

    def iter_credits(
        self: _SyncOps, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> Iterator[Movement]:
        """The credits of an account over any number of days, as ``iter_debits``."""
        self._ensure_open()
        return _movements(self.credits, nit, account_number, _windows(date_from, date_to))

    def iter_reconcile(
        self: _SyncOps, *, nit: str, date_from: DateLike, date_to: DateLike
    ) -> Iterator[Reconciliation]:
        """One :class:`~quillon.accounts.models.Reconciliation` per window of at most 7 days
        from ``date_from`` to ``date_to``, in date order.

        Each holds its window's movements and the balances at the time it was asked for.
        """
        self._ensure_open()
        windows = date_windows(date_from, date_to, RECONCILE_MAX_SPAN_DAYS)
        return (self.reconcile(nit=nit, date_from=a, date_to=b) for a, b in windows)


class AsyncRanges:
    """``iter_debits``, ``iter_credits`` and ``iter_reconcile`` of :class:`AsyncClient`."""

    def iter_debits(
        self: _AsyncOps, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> AsyncIterator[Movement]:
        """The debits of an account over any number of days, for ``async for``
        (windows of at most 31 days, in date order, each asked for when reached)."""
        self._ensure_open()
        return _amovements(self.debits, nit, account_number, _windows(date_from, date_to))

    def iter_credits(
        self: _AsyncOps, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> AsyncIterator[Movement]:
        """The credits of an account over any number of days, for ``async for``."""
        self._ensure_open()
        return _amovements(self.credits, nit, account_number, _windows(date_from, date_to))

    def iter_reconcile(
        self: _AsyncOps, *, nit: str, date_from: DateLike, date_to: DateLike
    ) -> AsyncIterator[Reconciliation]:
        """One reconciliation per window of at most 7 days, for ``async for``."""
        self._ensure_open()
        windows = date_windows(date_from, date_to, RECONCILE_MAX_SPAN_DAYS)
        return _areconcile(self, nit, windows)


async def _areconcile(
    client: _AsyncOps, nit: str, windows: Windows
) -> AsyncIterator[Reconciliation]:
    for first, last in windows:
        yield await client.reconcile(nit=nit, date_from=first, date_to=last)
