"""``AsyncClient``: the engine's requests sent over ``httpx.AsyncClient``.

The same calls as :class:`~quillon.accounts.client.Client`, awaited; both
run the one call of :mod:`quillon.accounts._call`.
"""

from __future__ import annotations

import asyncio
import inspect
import ssl
import time
from collections.abc import Awaitable, Callable, Iterable, Mapping, Sequence
from typing import Any, TypeVar, cast

import httpx

from quillon.accounts import _body, _deadline, models, protocol
from quillon.accounts._base import ClientBase
from quillon.accounts._body import DEFAULT_MAX_RESPONSE_BYTES
from quillon.accounts._call import Answer, Call, Done, Failure, Fetch, Send, Sleep
from quillon.accounts._iterate import AsyncRanges, movement_windows
from quillon.accounts._table_calls import AsyncTables
from quillon.accounts.config import AccessToken, AsyncTokenProvider, ClientConfig, Environment
from quillon.accounts.oauth import AsyncClientCredentials
from quillon.accounts.raw_response import AsyncRawMethod, AsyncRawResponses
from quillon.accounts.retry import RetryPolicy

__all__ = ["AsyncClient", "AsyncClientRawResponses"]

In = TypeVar("In", bound=protocol.InputRecord)
R = TypeVar("R")


class AsyncClient(AsyncRanges, ClientBase):
    """Asynchronous client over ``httpx.AsyncClient``; the same methods as :class:`Client`,
    awaited, and the ``iter_*`` methods for ``async for``.
        The token provider may also be a coroutine function; tokens for the
    client-credentials grant come through
    :class:`~quillon.accounts.oauth.AsyncClientCredentials`.
    """

    _HTTP = httpx.AsyncClient
    _CREDENTIALS = AsyncClientCredentials

    @staticmethod
    def _guard(http: Any) -> list[object]:
        # Every exchange runs under a timeout scope: nothing to wrap.
        return []

    def __init__(
        self,
        *,
        client_id: str | None = None,
        token: str | AccessToken | AsyncTokenProvider | None = None,
        environment: Environment | str | None = None,
        base_url: str | None = None,
        client_secret: str | None = None,
        basic_token: str | None = None,
        token_url: str | None = None,
        config: ClientConfig | None = None,
        timeout: float | httpx.Timeout | None = None,
        retry: RetryPolicy | None = None,
        verify: bool | ssl.SSLContext = True,
        http_client: httpx.AsyncClient | None = None,
        max_response_bytes: int = DEFAULT_MAX_RESPONSE_BYTES,
        clock: Callable[[], float] = time.time,
        sleep: Callable[[float], Awaitable[None]] = asyncio.sleep,
    ) -> None:
        options = dict(locals())
        del options["self"]
        ClientBase.__init__(self, **options)
        # Shared with the clients derived from this one (with_options).
        self._lock = asyncio.Lock()

    async def __aenter__(self) -> AsyncClient:
        return self

    async def __aexit__(self, *exc_info: object) -> None:
        await self.aclose()

    async def aclose(self) -> None:
        """Closes the connection pool, unless it was lent by the caller or shared with
        the client this one was derived from. Calls made after this raise
        :class:`~quillon.accounts.errors.ClientClosedError`."""
        self._closed = True
        if self._owns_http:
            await self._http.aclose()

    def with_options(
        self,
        *,
        timeout: float | httpx.Timeout | None = None,
        retry: RetryPolicy | None = None,
        headers: Mapping[str, str] | None = None,
    ) -> AsyncClient:
        """A client like this one with other options, sharing its pool and token
        (see :meth:`Client.with_options`)."""
        return cast(AsyncClient, self._derive(timeout, retry, headers))

    @property
    def tables(self) -> AsyncTables:
        """The list calls with columnar :class:`~quillon.accounts.tables.Table` results,
        awaited (see :attr:`Client.tables`)."""
        return AsyncTables(self)

    @property
    def with_raw_response(self) -> AsyncClientRawResponses:
        """This client's methods made to return (once awaited) a
        :class:`~quillon.accounts.raw_response.RawResponse`
        (see :attr:`Client.with_raw_response`)::

            raw = await client.with_raw_response.get_account(nit=..., account_number=...)
        """
        return AsyncClientRawResponses(self)

    async def _token(self, fetch: Fetch) -> AccessToken | None:
        if not self._needs_token(fetch.refused):
            return self._token_now()
        try:
            async with _deadline.within(fetch.deadline), self._lock:
                if not self._needs_token(fetch.refused):  # another call fetched it meanwhile
                    return self._token_now()
                token = self._refresh(fetch.refused)
                if inspect.isawaitable(token):
                    token = await token
                return self._accept_token(token)
        except TimeoutError:
            raise self._no_token() from None

    async def execute(self, operation: protocol.Operation[In, R], input: In) -> R:
        """Runs one operation with its input record: build, send (with retries), parse.

        The whole call, retries and waits included, ends within ``retry.max_elapsed``.
        """
        self._ensure_open()
        call = Call(self, operation, input)
        with _deadline.deadline(call.deadline):
            action = call.start()
            while not isinstance(action, Done):
                action = call.send(await self._act[type(action)](self, action))
            return cast(R, action.result)

    async def _exchange(self, send: Send) -> Answer | Failure:
        try:
            async with _deadline.within(send.deadline):
                resp = await self._http.send(
                    self._request(send), stream=True, follow_redirects=False
                )
                body = await _body.aread(resp, self.max_response_bytes, send.deadline)
            return Answer(resp, body)
        except TimeoutError:
            return Failure(httpx.ReadTimeout("the call's deadline has passed"))
        except _body.FAILURES as exc:
            return Failure(exc)
        except RuntimeError as exc:  # httpx's refusal of a pool closed meanwhile
            raise self._closed_failure(exc) or exc from None

    async def _pause(self, sleep: Sleep) -> None:
        await self._sleep(sleep.seconds)

    _act: Mapping[type, Callable[..., Awaitable[Any]]] = {
        Fetch: _token,
        Send: _exchange,
        Sleep: _pause,
    }

    async def get_account(self, *, nit: str, account_number: str) -> models.MerchantAccount:
        """One account with its merchant and establishment (see :meth:`Client.get_account`)."""
        return await self.execute(
            protocol.GET_ACCOUNT, models.AccountRef(nit=nit, account_number=account_number)
        )

    async def list_accounts(self, *, nit: str) -> models.MerchantAccounts:
        """Every establishment of the merchant with its accounts."""
        return await self.execute(protocol.LIST_ACCOUNTS, models.MerchantRef(nit=nit))

    async def create_accounts(
        self,
        *,
        nit: str,
        establishment_id: int,
        accounts: Iterable[models.NewAccount | Mapping[str, str]],
    ) -> models.CreatedAccounts:
        """Opens accounts under an establishment (see :meth:`Client.create_accounts`)."""
        return await self.execute(
            protocol.CREATE_ACCOUNTS, self._create_input(nit, establishment_id, accounts)
        )

    async def set_status(
        self, *, nit: str, changes: Iterable[models.StatusChange | Mapping[str, Any]]
    ) -> list[models.StatusChanged]:
        """Gives accounts a new status (see :meth:`Client.set_status`)."""
        return await self.execute(protocol.SET_STATUS, self._status_input(nit, changes))

    async def reconcile(
        self, *, nit: str, date_from: models.DateLike, date_to: models.DateLike
    ) -> models.Reconciliation:
        """Movements and balances of at most 7 days (see :meth:`Client.reconcile`)."""
        return await self.execute(
            protocol.RECONCILE,
            self._reconcile_input(nit, date_from, date_to),
        )

    async def credits(
        self, *, nit: str, account_number: str, date_from: models.DateLike, date_to: models.DateLike
    ) -> list[models.Movement]:
        """The credits of one account over any number of days, in windows of 31 days
        joined into one list (see :meth:`Client.credits`)."""
        return await self._movements(protocol.CREDITS, nit, account_number, date_from, date_to)

    async def debits(
        self, *, nit: str, account_number: str, date_from: models.DateLike, date_to: models.DateLike
    ) -> list[models.Movement]:
        """The debits of one account over any number of days, in windows of 31 days
        joined into one list (see :meth:`Client.debits`)."""
        return await self._movements(protocol.DEBITS, nit, account_number, date_from, date_to)

    async def _movements(
        self,
        operation: protocol.Operation[models.AccountRange, list[models.Movement]],
        nit: str,
        account_number: str,
        date_from: models.DateLike,
        date_to: models.DateLike,
    ) -> list[models.Movement]:
        out: list[models.Movement] = []
        for first, last in movement_windows(date_from, date_to):
            input = self._range_input(nit, account_number, first, last)
            window: list[models.Movement] = await self.execute(operation, input)
            out.extend(window)
        return out

    async def balances(
        self, *, nit: str, account_numbers: Sequence[str], max_concurrency: int = 4
    ) -> list[models.Balance]:
        """The balances of any number of accounts, in the order asked.

        Asked for ten accounts at a time, at most ``max_concurrency`` requests at once;
        the first failure is raised once the requests under way have ended.
        """
        if max_concurrency < 1:
            raise ValueError("max_concurrency must be at least 1")
        gate = asyncio.Semaphore(max_concurrency)

        async def one(query: models.BalancesQuery) -> list[models.Balance]:
            async with gate:
                return await self.execute(protocol.BALANCES, query)

        queries = self._balances_inputs(nit, account_numbers)
        if len(queries) == 1:
            return await self.execute(protocol.BALANCES, queries[0])
        answers = await asyncio.gather(*(one(q) for q in queries), return_exceptions=True)
        for answer in answers:
            if isinstance(answer, BaseException):
                raise answer
        return [b for answer in answers for b in cast(list[models.Balance], answer)]


class AsyncClientRawResponses(AsyncRawResponses[AsyncClient]):
    """``AsyncClient.with_raw_response``: each method of the client, returning (once
    awaited) a :class:`~quillon.accounts.raw_response.RawResponse`."""

    get_account = AsyncRawMethod(AsyncClient.get_account)
    """:meth:`AsyncClient.get_account`, giving a ``RawResponse`` once awaited."""
    list_accounts = AsyncRawMethod(AsyncClient.list_accounts)
    """:meth:`AsyncClient.list_accounts`, giving a ``RawResponse`` once awaited."""
    create_accounts = AsyncRawMethod(AsyncClient.create_accounts)
    """:meth:`AsyncClient.create_accounts`, giving a ``RawResponse`` once awaited."""
    set_status = AsyncRawMethod(AsyncClient.set_status)
    """:meth:`AsyncClient.set_status`, giving a ``RawResponse`` once awaited."""
    reconcile = AsyncRawMethod(AsyncClient.reconcile)
    """:meth:`AsyncClient.reconcile`, giving a ``RawResponse`` once awaited."""
    credits = AsyncRawMethod(AsyncClient.credits)
    """:meth:`AsyncClient.credits`, giving a ``RawResponse`` once awaited."""
    debits = AsyncRawMethod(AsyncClient.debits)
    """:meth:`AsyncClient.debits`, giving a ``RawResponse`` once awaited."""
    balances = AsyncRawMethod(AsyncClient.balances)
    """:meth:`AsyncClient.balances`, giving a ``RawResponse`` once awaited."""
