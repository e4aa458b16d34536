"""``client.tables``: the clients' list calls with columnar results.

Each call goes through the client's own ``execute`` (token, retries,
deadline, size limit, error mapping) with a table variant of the operation:
the same request, and for a successful answer the engine's columns instead of
result objects. Debits and credits over any range are asked for in the
gateway's 31-day windows and reconciliations in its 7-day windows, in date
order, one record batch per window; balances ten accounts at a time.
"""

from __future__ import annotations

import asyncio
import codecs
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any, TypeVar, cast

from quillon.accounts import _objects
from quillon.accounts._fast_results import _is_utf8
from quillon.accounts.errors import FfiError
from quillon.accounts.models import (
    AccountRange,
    BalancesQuery,
    DateLike,
    MerchantRange,
    MerchantRef,
    date_text,
)
from quillon.accounts.protocol import (
    BALANCES,
    CREDITS,
    DEBITS,
    LIST_ACCOUNTS,
    RECONCILE,
    InputRecord,
    Operation,
)
from quillon.accounts.ranges import MOVEMENTS_MAX_SPAN_DAYS, RECONCILE_MAX_SPAN_DAYS, date_windows
from quillon.accounts.tables import ReconciliationTables, Table

if TYPE_CHECKING:
    from quillon.accounts.client import AsyncClient, Client

    Pair = tuple[_objects.Columns, _objects.Columns]

__all__ = ["AsyncTables", "Tables"]

In = TypeVar("In", bound=InputRecord)
T = TypeVar("T")


def _utf8(body: bytes, charset: str | None) -> bytes:
    """The body's text as UTF-8 bytes, read as ``charset`` (UTF-8 when none or unknown)."""
    if charset is None or _is_utf8(charset):
        return body
    return body.decode(codecs.lookup(charset).name, "replace").encode("utf-8")


class _TableOperation(Operation[In, T]):
    """An operation whose successful answer becomes the engine's columns.

    Anything else (a refusal, a body that does not decode) is left to the
    engine's ``parse``, which raises the same error as for the object results.
    """

    def __init__(self, base: Operation[In, Any]) -> None:
        super().__init__(base.name, base.input_type, self._no_objects)
        self._table = cast("_objects.TableOperation", base.name)

    def fast_result(self, status: int, body: bytes, charset: str | None) -> T | None:
        """The columns of a successful answer, or None to leave the answer to ``parse``."""
        body = _utf8(body, charset)
        made = _objects.table(self._table, status, body)
        if made is None:
            # Bytes that are not UTF-8 are read as the object results read
            # them: each bad sequence replaced by U+FFFD.
            mended = body.decode("utf-8", "replace").encode("utf-8")
            if mended != body:
                made = _objects.table(self._table, status, mended)
        return cast("T | None", made)

    def _no_objects(self, value: Any) -> T:
        # Reached only when the engine parses an answer into a result that it
        # could not make a table of: the two must agree, so this is a defect.
        raise FfiError(
            f"the engine read the {self.name} answer as a result but made no table of it"
        )


DEBITS_TABLE: _TableOperation[AccountRange, _objects.Columns] = _TableOperation(DEBITS)
CREDITS_TABLE: _TableOperation[AccountRange, _objects.Columns] = _TableOperation(CREDITS)
BALANCES_TABLE: _TableOperation[BalancesQuery, _objects.Columns] = _TableOperation(BALANCES)
LIST_TABLE: _TableOperation[MerchantRef, _objects.Columns] = _TableOperation(LIST_ACCOUNTS)
RECONCILE_TABLE: _TableOperation[MerchantRange, Pair] = _TableOperation(RECONCILE)


def _joined(parts: Sequence[_objects.Columns]) -> Table:
    return Table(parts[0] if len(parts) == 1 else _objects.concat(parts))


def _reconciled(pairs: Sequence[Pair]) -> ReconciliationTables:
    # Each window's answer holds the balances as they are when it is asked
    # for: the last one's are the latest, and each account appears once.
    return ReconciliationTables(
        movements=_joined([movements for movements, _ in pairs]), balances=Table(pairs[-1][1])
    )


def _period(nit: str, date_from: DateLike, date_to: DateLike) -> list[MerchantRange]:
    return [
        MerchantRange(nit=nit, date_from=date_text(a, "date_from"), date_to=date_text(b, "date_to"))
        for a, b in date_windows(date_from, date_to, RECONCILE_MAX_SPAN_DAYS)
    ]


def _ranges(
    client: Client | AsyncClient,
    nit: str,
    account_number: str,
    date_from: DateLike,
    date_to: DateLike,
) -> list[AccountRange]:
    return [
        client._range_input(nit, account_number, a, b)
        for a, b in date_windows(date_from, date_to, MOVEMENTS_MAX_SPAN_DAYS)
    ]


class Tables:
    """The list calls of :class:`~quillon.accounts.Client` with
    :class:`~quillon.accounts.tables.Table` results (``client.tables``).

    Each method takes the keyword arguments of the client's method of the same
    name; debits, credits and reconciliations take any date range.
    """

    __slots__ = ("_client",)

    def __init__(self, client: Client) -> None:
        self._client = client

    def debits(
        self, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> Table:
        """The debits of one account from ``date_from`` to ``date_to`` (both included), over
        any number of days: asked for in windows of 31 days, in date order, one record batch
        per window."""
        ranges = _ranges(self._client, nit, account_number, date_from, date_to)
        return _joined([self._client.execute(DEBITS_TABLE, r) for r in ranges])

    def credits(
        self, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> Table:
        """The credits of one account over any number of days, as :meth:`debits`."""
        ranges = _ranges(self._client, nit, account_number, date_from, date_to)
        return _joined([self._client.execute(CREDITS_TABLE, r) for r in ranges])

    def balances(self, *, nit: str, account_numbers: Sequence[str]) -> Table:
        """The balances of any number of accounts, in the order asked: ten accounts per
        request, one request after the other, one record batch per request."""
        queries = self._client._balances_inputs(nit, account_numbers)
        return _joined([self._client.execute(BALANCES_TABLE, q) for q in queries])

    def list_accounts(self, *, nit: str) -> Table:
        """The merchant's accounts, one row per account with its merchant and establishment
        as columns (an establishment without accounts has no row)."""
        return Table(self._client.execute(LIST_TABLE, MerchantRef(nit=nit)))

    def reconcile(
        self, *, nit: str, date_from: DateLike, date_to: DateLike
    ) -> ReconciliationTables:
        """The movements of every account of merchant ``nit`` over any number of days, and
        the accounts' balances.

        Asked for in windows of 7 days, in date order; the movements table has one record
        batch per window, and the balances are those of the last answer (the latest).
        """
        windows = _period(nit, date_from, date_to)
        return _reconciled([self._client.execute(RECONCILE_TABLE, w) for w in windows])


class AsyncTables:
    """The list calls of :class:`~quillon.accounts.AsyncClient` with
    :class:`~quillon.accounts.tables.Table` results (``client.tables``), awaited."""

    __slots__ = ("_client",)

    def __init__(self, client: AsyncClient) -> None:
        self._client = client

    async def debits(
        self, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> Table:
        """The debits of one account over any number of days (see :meth:`Tables.debits`)."""
        ranges = _ranges(self._client, nit, account_number, date_from, date_to)
        return _joined([await self._client.execute(DEBITS_TABLE, r) for r in ranges])

    async def credits(
        self, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> Table:
        """The credits of one account over any number of days (see :meth:`Tables.debits`)."""
        ranges = _ranges(self._client, nit, account_number, date_from, date_to)
        return _joined([await self._client.execute(CREDITS_TABLE, r) for r in ranges])

    async def balances(
        self, *, nit: str, account_numbers: Sequence[str], max_concurrency: int = 4
    ) -> Table:
        """The balances of any number of accounts, in the order asked.

        Ten accounts per request, at most ``max_concurrency`` requests at once; the
        first failure is raised once the requests under way have ended.
        """
        if max_concurrency < 1:
            raise ValueError("max_concurrency must be at least 1")
        gate = asyncio.Semaphore(max_concurrency)

        async def one(query: BalancesQuery) -> _objects.Columns:
            async with gate:
                return await self._client.execute(BALANCES_TABLE, query)

        queries = self._client._balances_inputs(nit, account_numbers)
        answers = await asyncio.gather(*(one(q) for q in queries), return_exceptions=True)
        for answer in answers:
            if isinstance(answer, BaseException):
                raise answer
        return _joined(cast("list[_objects.Columns]", answers))

    async def list_accounts(self, *, nit: str) -> Table:
        """The merchant's accounts, one row per account (see :meth:`Tables.list_accounts`)."""
        return Table(await self._client.execute(LIST_TABLE, MerchantRef(nit=nit)))

    async def reconcile(
        self, *, nit: str, date_from: DateLike, date_to: DateLike
    ) -> ReconciliationTables:
        """Movements over any number of days and the latest balances (see
        :meth:`Tables.reconcile`)."""
        windows = _period(nit, date_from, date_to)
        return _reconciled([await self._client.execute(RECONCILE_TABLE, w) for w in windows])
