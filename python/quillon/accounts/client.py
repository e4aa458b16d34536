"""``Client`` and ``AsyncClient``: the engine's requests sent over httpx.

Each method builds its request with the engine, sends it, and hands the answer
back to the engine for the typed result. Failures raise the exceptions of
:mod:`quillon.accounts.errors`. Idempotent operations are retried on retryable
gateway failures and on connection failures under the client's
:class:`~quillon.accounts.retry.RetryPolicy`; "accounts.create" is sent again
only when the request cannot have reached the gateway (the connection was
never made).
"""

from __future__ import annotations

import ssl
import threading
import time
from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import Any, TypeVar, cast

import httpx

from quillon.accounts import _body, _deadline, models, protocol
from quillon.accounts._base import DEFAULT_TIMEOUT, ClientBase
from quillon.accounts._body import DEFAULT_MAX_RESPONSE_BYTES
from quillon.accounts._call import Answer, Call, Done, Failure, Fetch, Send, Sleep
from quillon.accounts._iterate import SyncRanges, movement_windows
from quillon.accounts._table_calls import Tables
from quillon.accounts.async_client import AsyncClient, AsyncClientRawResponses
from quillon.accounts.config import AccessToken, ClientConfig, Environment, TokenProvider
from quillon.accounts.oauth import ClientCredentials
from quillon.accounts.raw_response import RawMethod, RawResponses
from quillon.accounts.retry import RetryPolicy

__all__ = [
    "DEFAULT_MAX_RESPONSE_BYTES",
    "DEFAULT_TIMEOUT",
    "AsyncClient",
    "AsyncClientRawResponses",
    "Client",
    "ClientRawResponses",
]

In = TypeVar("In", bound=protocol.InputRecord)
R = TypeVar("R")


class Client(SyncRanges, ClientBase):
    """Synchronous client. Use it as a context manager, or call :meth:`close`.

    With no arguments the settings come from the environment:
    QUILLON_CLIENT_ID, QUILLON_ACCESS_TOKEN, QUILLON_ENVIRONMENT (development,
    sandbox or production; default sandbox), QUILLON_BASE_URL, and for the
    client-credentials grant QUILLON_CLIENT_SECRET or QUILLON_BASIC_TOKEN with
    QUILLON_TOKEN_URL. An argument wins over its variable; ``config`` holds
    the settings whole and cannot be combined with ``client_id``,
    ``environment``, ``base_url``, ``client_secret`` or ``basic_token``.
    Settings the client cannot work with raise
    :class:`~quillon.accounts.errors.ConfigurationError` (a ``ValueError``)
    here, before anything is sent: a missing client id, or no way to get a
    token, raises its subclass
    :class:`~quillon.accounts.errors.MissingSettingError` (also a
    ``TypeError``, as for a missing argument), and a setting of the wrong type
    or settings that contradict each other
    :class:`~quillon.accounts.errors.ConfigurationTypeError` (also a
    ``TypeError``). A call on a closed client raises
    :class:`~quillon.accounts.errors.ClientClosedError`.

    ``token`` is the access token as a text or an :class:`AccessToken`, or a
    callable returning an :class:`AccessToken`; the callable is asked again
    when the token has expired and once after the gateway refuses it with
    HTTP 401. Without a token but with a ``client_secret`` or ``basic_token``,
    tokens come from the OAuth token endpoint (``token_url``, default the
    base URL followed by /oauth/token) through
    :class:`~quillon.accounts.oauth.ClientCredentials`, kept until shortly
    before they expire.

    Pass ``http_client`` to use your own ``httpx.Client``; it is then yours to
    close. Redirects are never followed, whatever the lent client says: a 3xx
    answer is an :class:`ApiError`.

    ``timeout`` bounds each connect, read and write; ``retry.max_elapsed`` is
    the deadline of a whole call. An answer larger than ``max_response_bytes``
    (counted as received and after decompression) raises
    :class:`~quillon.accounts.errors.ResponseTooLargeError`.
    """

    _HTTP = httpx.Client
    _CREDENTIALS = ClientCredentials
    _guard = staticmethod(_deadline.guard)

    def __init__(
        self,
        *,
        client_id: str | None = None,
        token: str | AccessToken | TokenProvider | None = None,
        environment: Environment | str | None = None,
        base_url: str | None = None,
        client_secret: str | None = None,
        basic_token: str | None = None,
        token_url: str | None = None,
        config: ClientConfig | None = None,
        timeout: float | httpx.Timeout | None = None,
        retry: RetryPolicy | None = None,
        verify: bool | ssl.SSLContext = True,
        http_client: httpx.Client | None = None,
        max_response_bytes: int = DEFAULT_MAX_RESPONSE_BYTES,
        clock: Callable[[], float] = time.time,
        sleep: Callable[[float], None] = time.sleep,
    ) -> None:
        options = dict(locals())
        del options["self"]
        ClientBase.__init__(self, **options)
        self._lock = threading.Lock()

    def __enter__(self) -> Client:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def close(self) -> None:
        """Closes the connection pool, unless it was lent by the caller or shared with
        the client this one was derived from. Calls made after this raise
        :class:`~quillon.accounts.errors.ClientClosedError`."""
        self._closed = True
        if self._owns_http:
            self._http.close()

    def with_options(
        self,
        *,
        timeout: float | httpx.Timeout | None = None,
        retry: RetryPolicy | None = None,
        headers: Mapping[str, str] | None = None,
    ) -> Client:
        """A client like this one with another ``timeout`` (seconds per connect, read and
        write), ``retry`` policy or extra ``headers`` for every request; what is not
        given is kept.

        It shares this client's connection pool and token, and closing it leaves the
        pool open. The credential headers and those the engine sets cannot be
        replaced (``ValueError``).
        """
        return cast(Client, self._derive(timeout, retry, headers))

    @property
    def tables(self) -> Tables:
        """The list calls (``debits``, ``credits``, ``balances``, ``list_accounts``,
        ``reconcile``) with the same arguments, giving columnar
        :class:`~quillon.accounts.tables.Table` results for pyarrow, pandas, polars or
        DuckDB; debits, credits and reconciliations over any date range."""
        return Tables(self)

    @property
    def with_raw_response(self) -> ClientRawResponses:
        """This client's methods made to return a
        :class:`~quillon.accounts.raw_response.RawResponse`: the typed result in
        ``parsed``, with the HTTP status, headers, timing and attempts::

            raw = client.with_raw_response.get_account(nit=..., account_number=...)
            raw.status_code, raw.parsed.account.alias

        Calling it with one of the client's methods does the same:
        ``client.with_raw_response(client.get_account)(nit=..., account_number=...)``.
        """
        return ClientRawResponses(self)

    def _token(self, fetch: Fetch) -> AccessToken | None:
        if not self._needs_token(fetch.refused):
            return self._token_now()
        if not self._lock.acquire(timeout=max(0.0, fetch.deadline - time.monotonic())):
            raise self._no_token()
        try:
            if not self._needs_token(fetch.refused):  # another call fetched it meanwhile
                return self._token_now()
            return self._accept_token(self._refresh(fetch.refused))
        finally:
            self._lock.release()

    def execute(self, operation: protocol.Operation[In, R], input: In) -> R:
        """Runs one operation with its input record: build, send (with retries), parse.

        The whole call, retries and waits included, ends within ``retry.max_elapsed``.
        """
        self._ensure_open()
        call = Call(self, operation, input)
        with _deadline.deadline(call.deadline):
            action = call.start()
            while not isinstance(action, Done):
                action = call.send(self._act[type(action)](self, action))
            return cast(R, action.result)

    def _exchange(self, send: Send) -> Answer | Failure:
        older = self._older
        if older:
            self._older = _deadline.settle(older)
        # A pool that guard() could not reach: each request watched on its own.
        watch = None if older is not None else _deadline.Watch(send.deadline)
        try:
            request = self._request(send)
            if watch is None:
                resp = self._http.send(request, stream=True, follow_redirects=False)
            else:
                resp = _deadline.send(self._http, request, watch)
            return Answer(resp, _body.read(resp, self.max_response_bytes, send.deadline))
        except _body.FAILURES as exc:
            return Failure(exc)
        except RuntimeError as exc:  # httpx's refusal of a pool closed meanwhile
            raise self._closed_failure(exc) or exc from None
        finally:
            if watch is not None:
                watch.done()

    def _pause(self, sleep: Sleep) -> None:
        self._sleep(sleep.seconds)

    _act: Mapping[type, Callable[..., Any]] = {
        Fetch: _token,
        Send: _exchange,
        Sleep: _pause,
    }

    # One method per operation.

    def get_account(self, *, nit: str, account_number: str) -> models.MerchantAccount:
        """One account with its merchant and establishment.

        ``nit`` is the merchant's tax number (7 to 20 digits), ``account_number``
        the account's (8 to 20 digits).
        """
        return self.execute(
            protocol.GET_ACCOUNT, models.AccountRef(nit=nit, account_number=account_number)
        )

    def list_accounts(self, *, nit: str) -> models.MerchantAccounts:
        """Every establishment of the merchant ``nit`` (7 to 20 digits) with its accounts."""
        return self.execute(protocol.LIST_ACCOUNTS, models.MerchantRef(nit=nit))

    def create_accounts(
        self,
        *,
        nit: str,
        establishment_id: int,
        accounts: Iterable[models.NewAccount | Mapping[str, str]],
    ) -> models.CreatedAccounts:
        """Opens accounts under establishment ``establishment_id`` of merchant ``nit``.

        Each account is a :class:`~quillon.accounts.models.NewAccount` or a mapping with
        "alias" and "category" (each 1 to 45 characters). Never sent twice once the
        request may have reached the gateway: a failure after that is not retried.
        """
        return self.execute(
            protocol.CREATE_ACCOUNTS, self._create_input(nit, establishment_id, accounts)
        )

    def set_status(
        self, *, nit: str, changes: Iterable[models.StatusChange | Mapping[str, Any]]
    ) -> list[models.StatusChanged]:
        """Gives accounts of merchant ``nit`` a new status; the answer has one entry per
        change.

        Each change is a :class:`~quillon.accounts.models.StatusChange` or a mapping with
        "account_number" (8 to 20 digits), "status" (active, blocked, suspended or
        closed) and "reason" (1 to 50 characters).
        """
        return self.execute(protocol.SET_STATUS, self._status_input(nit, changes))

    def reconcile(
        self, *, nit: str, date_from: models.DateLike, date_to: models.DateLike
    ) -> models.Reconciliation:
        """Every movement of merchant ``nit``'s accounts from ``date_from`` to ``date_to``
        (both included, at most 7 days apart), with the accounts' balances.

        Dates are ``datetime.date`` objects or "yyyy-mm-dd" texts. A longer range is
        refused (:class:`~quillon.accounts.errors.ValidationError` on "date_to"):
        use :meth:`iter_reconcile`, which gives one reconciliation per 7 days.
        """
        return self.execute(
            protocol.RECONCILE,
            self._reconcile_input(nit, date_from, date_to),
        )

    def credits(
        self, *, nit: str, account_number: str, date_from: models.DateLike, date_to: models.DateLike
    ) -> list[models.Movement]:
        """The credits (money in) of one account from ``date_from`` to ``date_to``
        (both included), over any number of days, in time order.

        The gateway answers at most 31 days per request: a longer range is asked
        for in consecutive windows of 31 days, one request after the other, and
        the answers are joined into one list (every day asked for once). To handle
        each window's movements as it arrives, use :meth:`iter_credits`.
        """
        return self._movements(protocol.CREDITS, nit, account_number, date_from, date_to)

    def debits(
        self, *, nit: str, account_number: str, date_from: models.DateLike, date_to: models.DateLike
    ) -> list[models.Movement]:
        """The debits (money out) of one account from ``date_from`` to ``date_to``
        (both included), over any number of days, in time order.

        A range longer than the gateway's 31 days per request is asked for in
        windows, as for :meth:`credits`; :meth:`iter_debits` yields them as they come.
        """
        return self._movements(protocol.DEBITS, nit, account_number, date_from, date_to)

    def _movements(
        self,
        operation: protocol.Operation[models.AccountRange, list[models.Movement]],
        nit: str,
        account_number: str,
        date_from: models.DateLike,
        date_to: models.DateLike,
    ) -> list[models.Movement]:
        out: list[models.Movement] = []
        for first, last in movement_windows(date_from, date_to):
            window: list[models.Movement] = self.execute(
                operation, self._range_input(nit, account_number, first, last)
            )
            out.extend(window)
        return out

    def balances(self, *, nit: str, account_numbers: Sequence[str]) -> list[models.Balance]:
        """The balances of any number of accounts of merchant ``nit``, in the order asked.

        The gateway answers ten accounts per request: longer lists are asked for ten at
        a time, one request after the other.
        """
        out: list[models.Balance] = []
        for query in self._balances_inputs(nit, account_numbers):
            answer: list[models.Balance] = self.execute(protocol.BALANCES, query)
            out.extend(answer)
        return out


class ClientRawResponses(RawResponses[Client]):
    """``Client.with_raw_response``: each method of the client, returning a
    :class:`~quillon.accounts.raw_response.RawResponse` around its result."""

    get_account = RawMethod(Client.get_account)
    """:meth:`Client.get_account`, giving a ``RawResponse`` around its result."""
    list_accounts = RawMethod(Client.list_accounts)
    """:meth:`Client.list_accounts`, giving a ``RawResponse`` around its result."""
    create_accounts = RawMethod(Client.create_accounts)
    """:meth:`Client.create_accounts`, giving a ``RawResponse`` around its result."""
    set_status = RawMethod(Client.set_status)
    """:meth:`Client.set_status`, giving a ``RawResponse`` around its result."""
    reconcile = RawMethod(Client.reconcile)
    """:meth:`Client.reconcile`, giving a ``RawResponse`` around its result."""
    credits = RawMethod(Client.credits)
    """:meth:`Client.credits`, giving a ``RawResponse`` around its result."""
    debits = RawMethod(Client.debits)
    """:meth:`Client.debits`, giving a ``RawResponse`` around its result."""
    balances = RawMethod(Client.balances)
    """:meth:`Client.balances`, giving a ``RawResponse`` around its result."""
