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

import asyncio
import copy
import inspect
import logging
import ssl
import threading
import time
import urllib.parse
from collections.abc import Awaitable, Callable, Iterable, Mapping, Sequence
from typing import Any, NamedTuple, ParamSpec, TypeVar, cast

import httpx

from quillon.accounts import _body, _deadline
from quillon.accounts._body import ACCEPT_ENCODING, DEFAULT_MAX_RESPONSE_BYTES
from quillon.accounts._inputs import check_input, coerce
from quillon.accounts._iterate import AsyncRanges, SyncRanges
from quillon.accounts._logging import Redactor, logger, mask_headers
from quillon.accounts._requests import RequestMaker
from quillon.accounts._settings import check_call_options, resolve
from quillon.accounts._table_calls import AsyncTables, Tables
from quillon.accounts.config import (
    AccessToken,
    AsyncTokenProvider,
    ClientConfig,
    Environment,
    TokenProvider,
    check_credential,
)
from quillon.accounts.errors import (
    BODY_PREVIEW_CHARS,
    ApiError,
    AuthenticationError,
    QuillonError,
    TransportError,
    ValidationError,
)
from quillon.accounts.models import (
    AccountRange,
    AccountRef,
    Balance,
    BalancesQuery,
    CreateAccounts,
    CreatedAccounts,
    DateLike,
    MerchantAccount,
    MerchantAccounts,
    MerchantRange,
    MerchantRef,
    Movement,
    NewAccount,
    Reconciliation,
    StatusChange,
    StatusChanged,
    StatusChanges,
    date_text,
)
from quillon.accounts.oauth import AsyncClientCredentials, ClientCredentials
from quillon.accounts.protocol import (
    BALANCES,
    CREATE_ACCOUNTS,
    CREDITS,
    DEBITS,
    GET_ACCOUNT,
    LIST_ACCOUNTS,
    RECONCILE,
    SET_STATUS,
    HttpRequest,
    HttpResponse,
    InputRecord,
    Operation,
    build,
    parse,
)
from quillon.accounts.ranges import batches
from quillon.accounts.responses import Exchange, RawResponse, raw_response, raw_response_async
from quillon.accounts.responses import collecting as collecting_exchanges
from quillon.accounts.responses import record as record_exchange
from quillon.accounts.retry import MAYBE_SENT, NOT_SENT, Attempts, RetryPolicy

__all__ = ["DEFAULT_MAX_RESPONSE_BYTES", "DEFAULT_TIMEOUT", "AsyncClient", "Client"]

In = TypeVar("In", bound=InputRecord)
R = TypeVar("R")
P = ParamSpec("P")

DEFAULT_TIMEOUT = httpx.Timeout(20.0, connect=5.0)

# Texts taken from an answer (a gateway message, say) are cut to this many characters.
MAX_ERROR_TEXT = 1000
# Failures of the exchange that another try would meet again.
_LOCAL = (httpx.UnsupportedProtocol, httpx.LocalProtocolError, httpx.InvalidURL, UnicodeError)


def _transport_error(
    exc: Exception, redactor: Redactor, run: Attempts, request: HttpRequest
) -> TransportError:
    """The TransportError for a failure of httpx (or of encoding a request for it)."""
    # A bad scheme or a request httpx itself refused to write never left the machine.
    sent = not isinstance(exc, (*NOT_SENT, *_LOCAL))
    retryable = isinstance(exc, (*NOT_SENT, *MAYBE_SENT))
    detail = f"{type(exc).__name__}: {str(exc) or type(exc).__name__}"
    if run.remaining() <= 0:
        detail = (
            f"no answer within the call's deadline of {run.policy.max_elapsed:g} s "
            f"(RetryPolicy.max_elapsed): {detail}"
        )
    detail = redactor.scrub(detail, cut=True)
    if len(detail) > MAX_ERROR_TEXT:
        detail = detail[:MAX_ERROR_TEXT] + "..."
    host = redactor.scrub(urllib.parse.urlsplit(request.url).netloc)
    tries = f"{run.attempts} attempt{'s' if run.attempts != 1 else ''}"
    detail += f" ({request.method} {host}, {tries} in {run.elapsed():.1f} s)"
    return TransportError(detail, sent=sent, retryable=retryable)


def _cut(value: float | None, left: float) -> float:
    """A timeout of httpx's cut to the ``left`` seconds of the call's deadline."""
    return left if value is None or value > left else value


class _Wait(NamedTuple):
    """Another attempt is due after ``seconds``."""

    seconds: float


def _response(resp: httpx.Response, body: bytes) -> HttpResponse:
    text = _body.text(body, resp)
    return HttpResponse(status=resp.status_code, body=text, headers=dict(resp.headers))


# Headers that the engine sets or that describe the body: not for callers to replace.
_OWN_HEADERS = frozenset(
    {
        "authorization",
        "access_token",
        "client_id",
        "accept",
        "accept-encoding",
        "content-type",
        "content-length",
        "transfer-encoding",
        "host",
    }
)


def _extra_headers(headers: Mapping[str, str]) -> dict[str, str]:
    """Checked extra headers for every request of a derived client."""
    out: dict[str, str] = {}
    for name, value in headers.items():
        if not isinstance(name, str) or not isinstance(value, str):
            raise TypeError("header names and values must be texts")
        if name.lower() in _OWN_HEADERS:
            raise ValueError(f"the header {name} is set by the client and cannot be replaced")
        if not name or not name.isascii() or not all(c.isalnum() or c in "-_" for c in name):
            raise ValueError(f"{name!r} is not a header name")
        if not value.isascii() or not value.isprintable():
            raise ValueError(
                f"the value of the header {name} holds a control or non-ASCII character"
            )
        out[name] = value
    return out


def _final(err: QuillonError, response: HttpResponse, redactor: Redactor) -> QuillonError:
    clean = err.scrubbed(lambda text: redactor.scrub(text, cut=True), limit=MAX_ERROR_TEXT)
    if isinstance(clean, ApiError):
        retry_after = response.headers.get("retry-after")
        clean.retry_after = None if retry_after is None else redactor.scrub(retry_after[:100])
    return clean


class _Base:
    """What both clients share: configuration, token bookkeeping and input records."""

    def __init__(
        self,
        config: ClientConfig,
        token: Any,
        retry: RetryPolicy | None,
        timeout: float | httpx.Timeout | None,
        clock: Callable[[], float],
        max_response_bytes: int,
    ) -> None:
        check_call_options(timeout, retry)
        if isinstance(max_response_bytes, bool) or not isinstance(max_response_bytes, int):
            raise TypeError("max_response_bytes must be an int")
        if max_response_bytes < 1:
            raise ValueError("max_response_bytes must be at least 1")
        self.config = config
        self.retry = retry if retry is not None else RetryPolicy()
        self.max_response_bytes = max_response_bytes
        self._timeout = None if timeout is None else httpx.Timeout(timeout)
        self._clock = clock
        self._redactor = Redactor(config.secrets())
        self._requests = RequestMaker()
        self._static: AccessToken | None = None
        self._provider: Callable[[], Any] | None = None
        self._cached: AccessToken | None = None
        self._headers: dict[str, str] = {}
        if isinstance(token, AccessToken):
            check_credential(token.access_token, "access_token")
            self._static = token
            self._redactor.add(token.access_token)
        elif callable(token):
            self._provider = token
        elif token is not None:
            raise TypeError("token must be an AccessToken or a callable that returns one")

    def _derive(
        self, timeout: Any, retry: RetryPolicy | None, headers: Mapping[str, str] | None
    ) -> Any:
        check_call_options(timeout, retry)
        clone = copy.copy(self)
        clone._owns_http = False  # type: ignore[attr-defined]
        if timeout is not None:
            clone._timeout = httpx.Timeout(timeout)
        if retry is not None:
            clone.retry = retry
        if headers:
            clone._headers = {**self._headers, **_extra_headers(headers)}
        return clone

    def _attempts(self, operation: Operation[Any, Any]) -> Attempts:
        return Attempts(
            operation.name, operation.idempotent, self.retry, can_refresh=self._provider is not None
        )

    def _after_failure(self, run: Attempts, exc: Exception, request: HttpRequest) -> float:
        """The wait before another attempt after a failed exchange; raises when none is left."""
        if isinstance(exc, QuillonError):
            raise self._detailed(exc.scrubbed(self._redactor.scrub), run, request) from None
        delay = run.after_transport_error(exc)
        if delay is None:
            err = _transport_error(exc, self._redactor, run, request)
            raise self._detailed(err, run, request) from None
        self._log_retry(run, delay, f"{type(exc).__name__}: {exc}")
        return delay

    def _begin(
        self, run: Attempts, operation: Operation[Any, Any], token: AccessToken | None, input: Any
    ) -> HttpRequest:
        """The request of the next attempt, built and logged."""
        run.refused = None
        request = self._build(operation, token, input)
        run.begin()
        if logger.isEnabledFor(logging.DEBUG):
            self._log_send(operation, request, run.attempts)
        return request

    def _settle(
        self,
        run: Attempts,
        operation: Operation[Any, R],
        input: Any,
        token: AccessToken | None,
        request: HttpRequest,
        resp: httpx.Response,
        body: bytes,
        started: float,
    ) -> R | _Wait:
        """The result of an answer, or the wait before another attempt; raises when none is left."""
        if logger.isEnabledFor(logging.DEBUG):
            self._log_answer(operation, resp.status_code, started)
        self._record(request, resp, started, run)
        result = operation.fast_result(resp.status_code, body, _body.charset(resp))
        if result is not None:
            return result
        response = _response(resp, body)
        try:
            return parse(operation, input, response)
        except QuillonError as err:
            return _Wait(self._after_answer(run, err, response, token, request))

    def _after_answer(
        self,
        run: Attempts,
        err: QuillonError,
        response: HttpResponse,
        token: AccessToken | None,
        request: HttpRequest,
    ) -> float:
        """The wait before another attempt after a failure answer; raises when none is left."""
        delay = run.after_error(err, response.headers.get("retry-after"), token)
        if delay is None:
            self._forget_if_refused(err, token)
            final = self._detailed(_final(err, response, self._redactor), run, request, response)
            raise final from None
        self._log_retry(run, delay, str(err))
        return delay

    def _detailed(
        self,
        err: QuillonError,
        run: Attempts,
        request: HttpRequest,
        response: HttpResponse | None = None,
    ) -> QuillonError:
        """``err`` with what was sent and answered, secrets masked."""
        scrub = self._redactor.scrub
        err.method = request.method
        err.url = scrub(request.url)
        err.attempts = run.attempts
        err.elapsed = run.elapsed()
        if response is not None:
            err.response_headers = {
                name.lower(): scrub(value) for name, value in mask_headers(response.headers).items()
            }
            err.body_preview = scrub(response.body[: BODY_PREVIEW_CHARS + 100], cut=True)[
                :BODY_PREVIEW_CHARS
            ]
        return err

    def _record(
        self, request: HttpRequest, resp: httpx.Response, started: float, run: Attempts
    ) -> None:
        if not collecting_exchanges():
            return
        record_exchange(
            Exchange(
                method=request.method,
                url=self._redactor.scrub(request.url),
                status=resp.status_code,
                headers={
                    name: self._redactor.scrub(value)
                    for name, value in mask_headers(dict(resp.headers)).items()
                },
                elapsed=time.monotonic() - started,
                attempt=run.attempts,
            )
        )

    def _drop_refused(self, refused: AccessToken | None) -> None:
        # A provider that keeps its token (such as ClientCredentials) must not
        # hand the refused one out again.
        invalidate = getattr(self._provider, "invalidate", None)
        if refused is not None and callable(invalidate):
            invalidate(refused)

    def _needs_token(self, refused: AccessToken | None) -> bool:
        if self._provider is None:
            return False
        cached = self._cached
        # A refused token is replaced once; when several calls were refused the
        # same token, the first to get here fetches the new one for all.
        return cached is None or cached is refused or cached.expired(self._clock())

    def _accept_token(self, token: object) -> AccessToken:
        if not isinstance(token, AccessToken):
            raise TypeError(
                f"the token provider returned {type(token).__name__}, not an AccessToken"
            )
        check_credential(token.access_token, "access_token")
        self._redactor.add(token.access_token)
        self._cached = token
        return token

    def _forget_if_refused(self, err: QuillonError, token: AccessToken | None) -> None:
        # A token the gateway refused is not offered again: the next call asks
        # the provider for a new one (a creation refused this way is not resent).
        if isinstance(err, AuthenticationError) and err.status == 401 and self._cached is token:
            self._cached = None
            self._drop_refused(token)

    def _token_now(self) -> AccessToken | None:
        return self._static if self._provider is None else self._cached

    def _build(
        self, operation: Operation[Any, Any], token: AccessToken | None, input: Any
    ) -> HttpRequest:
        check_input(input)
        try:
            return build(operation, self.config, token, input)
        except QuillonError as err:
            raise err.scrubbed(self._redactor.scrub) from None

    def _request(
        self, http: httpx.Client | httpx.AsyncClient, request: HttpRequest, run: Attempts
    ) -> httpx.Request:
        """The httpx request of one attempt, its timeouts cut to what is left of the deadline."""
        configured = http.timeout if self._timeout is None else self._timeout
        left = run.deadline - time.monotonic()
        if left < 0.0:
            left = 0.0
        timeout = {
            "connect": _cut(configured.connect, left),
            "read": _cut(configured.read, left),
            "write": _cut(configured.write, left),
            "pool": _cut(configured.pool, left),
        }
        body = request.body
        return self._requests.make(
            http,
            request.method,
            request.url,
            {**self._headers, **request.headers, "Accept-Encoding": ACCEPT_ENCODING},
            None if body is None else body.encode("utf-8"),
            timeout,
        )

    @staticmethod
    def _log_send(operation: Operation[Any, Any], request: HttpRequest, attempt: int) -> None:
        logger.debug(
            "sending %s: %s %s (attempt %d)", operation.name, request.method, request.url, attempt
        )

    @staticmethod
    def _log_answer(operation: Operation[Any, Any], status: int, started: float) -> None:
        logger.debug(
            "%s answered HTTP %d in %.0f ms",
            operation.name,
            status,
            (time.monotonic() - started) * 1000,
        )

    def _log_retry(self, run: Attempts, delay: float, reason: str) -> None:
        if run.refused is not None:
            logger.info("%s: access token refused, asking the provider for a new one", run.name)
            return
        logger.warning(
            "retrying %s in %.2f s after %s (attempt %d of %d)",
            run.name,
            delay,
            self._redactor.scrub(reason),
            run.attempts + 1,
            self.retry.max_attempts,
        )

    # Input records from keyword arguments.

    @staticmethod
    def _create_input(
        nit: str, establishment_id: int, accounts: Iterable[NewAccount | Mapping[str, str]]
    ) -> CreateAccounts:
        return CreateAccounts(
            nit=nit,
            establishment_id=establishment_id,
            accounts=tuple(coerce(NewAccount, a, "accounts") for a in accounts),
        )

    @staticmethod
    def _status_input(
        nit: str, changes: Iterable[StatusChange | Mapping[str, Any]]
    ) -> StatusChanges:
        items = tuple(coerce(StatusChange, c, "changes") for c in changes)
        return StatusChanges(nit=nit, changes=items)

    @staticmethod
    def _range_input(
        nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> AccountRange:
        return AccountRange(
            nit=nit,
            account_number=account_number,
            date_from=date_text(date_from, "date_from"),
            date_to=date_text(date_to, "date_to"),
        )

    @staticmethod
    def _balances_inputs(nit: str, account_numbers: Sequence[str]) -> list[BalancesQuery]:
        # Ten accounts at most per request. No account at all is refused here:
        # the engine's refusal speaks of one request's limit of ten.
        if isinstance(account_numbers, str):
            raise TypeError("account_numbers must be a list of account numbers, not one text")
        groups = list(batches(account_numbers))
        if not groups:
            raise ValidationError("give at least one account number", field="account_numbers")
        return [BalancesQuery(nit=nit, account_numbers=group) for group in groups]

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.config!r})"


class Client(SyncRanges, _Base):
    """Synchronous client. Use it as a context manager, or call :meth:`close`.

    With no arguments the settings come from the environment:
    QUILLON_CLIENT_ID, QUILLON_ACCESS_TOKEN, QUILLON_ENVIRONMENT (development,
    sandbox or production; default sandbox), QUILLON_BASE_URL, and for the
    client-credentials grant QUILLON_CLIENT_SECRET or QUILLON_BASIC_TOKEN with
    QUILLON_TOKEN_URL. An argument wins over its variable; ``config`` holds
    the settings whole and cannot be combined with ``client_id``,
    ``environment``, ``base_url``, ``client_secret`` or ``basic_token``
    (``TypeError``).

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
        settings = resolve(
            config=config,
            token=token,
            token_url=token_url,
            environ=None,
            client_id=client_id,
            environment=environment,
            base_url=base_url,
            client_secret=client_secret,
            basic_token=basic_token,
        )
        self._owns_http = http_client is None
        self._http = http_client or httpx.Client(
            timeout=DEFAULT_TIMEOUT if timeout is None else timeout, verify=verify
        )
        _deadline.guard(self._http)
        source = settings.token
        if settings.use_credentials:
            source = ClientCredentials.from_config(
                settings.config, token_url=settings.token_url, http_client=self._http, clock=clock
            )
        super().__init__(settings.config, source, retry, timeout, clock, max_response_bytes)
        self._sleep = sleep
        self._lock = threading.Lock()

    def __enter__(self) -> Client:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def close(self) -> None:
        """Closes the connection pool, unless it was lent by the caller or shared with
        the client this one was derived from."""
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

    def with_raw_response(self, method: Callable[P, R]) -> Callable[P, RawResponse[R]]:
        """``method`` (one of this client's) made to return a
        :class:`~quillon.accounts.responses.RawResponse`: the typed result in
        ``parsed``, with the HTTP status, headers, timing and attempts::

            raw = client.with_raw_response(client.get_account)(nit=..., account_number=...)
        """
        return raw_response(method)

    def _token(self, refused: AccessToken | None) -> AccessToken | None:
        if not self._needs_token(refused):
            return self._token_now()
        with self._lock:
            if self._needs_token(refused):
                assert self._provider is not None
                self._drop_refused(refused)
                return self._accept_token(self._provider())
            return self._token_now()

    def execute(self, operation: Operation[In, R], input: In) -> R:
        """Runs one operation with its input record: build, send (with retries), parse.

        The whole call, retries and waits included, ends within ``retry.max_elapsed``.
        """
        run = self._attempts(operation)
        with _deadline.deadline(run.deadline):
            while True:
                token = self._token(run.refused)
                request = self._begin(run, operation, token, input)
                started = time.monotonic()
                try:
                    resp, body = self._exchange(request, run)
                except _body.FAILURES as exc:
                    self._sleep(self._after_failure(run, exc, request))
                    continue
                outcome = self._settle(run, operation, input, token, request, resp, body, started)
                if not isinstance(outcome, _Wait):
                    return outcome
                if outcome.seconds:
                    self._sleep(outcome.seconds)

    def _exchange(self, request: HttpRequest, run: Attempts) -> tuple[httpx.Response, bytes]:
        resp = self._http.send(
            self._request(self._http, request, run), stream=True, follow_redirects=False
        )
        return resp, _body.read(resp, self.max_response_bytes, run.deadline)

    # One method per operation.

    def get_account(self, *, nit: str, account_number: str) -> MerchantAccount:
        """One account with its merchant and establishment.

        ``nit`` is the merchant's tax number (7 to 20 digits), ``account_number``
        the account's (8 to 20 digits).
        """
        return self.execute(GET_ACCOUNT, AccountRef(nit=nit, account_number=account_number))

    def list_accounts(self, *, nit: str) -> MerchantAccounts:
        """Every establishment of the merchant ``nit`` (7 to 20 digits) with its accounts."""
        return self.execute(LIST_ACCOUNTS, MerchantRef(nit=nit))

    def create_accounts(
        self, *, nit: str, establishment_id: int, accounts: Iterable[NewAccount | Mapping[str, str]]
    ) -> CreatedAccounts:
        """Opens accounts under establishment ``establishment_id`` of merchant ``nit``.

        Each account is a :class:`~quillon.accounts.models.NewAccount` or a mapping with
        "alias" and "category" (each 1 to 45 characters). Never sent twice once the
        request may have reached the gateway: a failure after that is not retried.
        """
        return self.execute(CREATE_ACCOUNTS, self._create_input(nit, establishment_id, accounts))

    def set_status(
        self, *, nit: str, changes: Iterable[StatusChange | Mapping[str, Any]]
    ) -> list[StatusChanged]:
        """Gives accounts of merchant ``nit`` a new status; the answer has one entry per
        change.

        Each change is a :class:`~quillon.accounts.models.StatusChange` or a mapping with
        "account_number" (8 to 20 digits), "status" (active, blocked, suspended or
        closed) and "reason" (1 to 50 characters).
        """
        return self.execute(SET_STATUS, self._status_input(nit, changes))

    def reconcile(self, *, nit: str, date_from: DateLike, date_to: DateLike) -> Reconciliation:
        """Every movement of merchant ``nit``'s accounts from ``date_from`` to ``date_to``
        (both included, at most 7 days apart), with the accounts' balances.

        Dates are ``datetime.date`` objects or "yyyy-mm-dd" texts; for longer periods
        use :meth:`iter_reconcile`.
        """
        return self.execute(
            RECONCILE,
            MerchantRange(
                nit=nit,
                date_from=date_text(date_from, "date_from"),
                date_to=date_text(date_to, "date_to"),
            ),
        )

    def credits(
        self, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> list[Movement]:
        """The credits (money in) of one account from ``date_from`` to ``date_to``
        (both included, at most 31 days apart), in time order.

        For longer periods use :meth:`iter_credits`.
        """
        return self.execute(CREDITS, self._range_input(nit, account_number, date_from, date_to))

    def debits(
        self, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> list[Movement]:
        """The debits (money out) of one account from ``date_from`` to ``date_to``
        (both included, at most 31 days apart), in time order.

        For longer periods use :meth:`iter_debits`.
        """
        return self.execute(DEBITS, self._range_input(nit, account_number, date_from, date_to))

    def balances(self, *, nit: str, account_numbers: Sequence[str]) -> list[Balance]:
        """The balances of any number of accounts of merchant ``nit``, in the order asked.

        The gateway answers ten accounts per request: longer lists are asked for ten at
        a time, one request after the other.
        """
        out: list[Balance] = []
        for query in self._balances_inputs(nit, account_numbers):
            answer: list[Balance] = self.execute(BALANCES, query)
            out.extend(answer)
        return out


class AsyncClient(AsyncRanges, _Base):
    """Asynchronous client over ``httpx.AsyncClient``; the same methods as :class:`Client`,
    awaited, and the ``iter_*`` methods for ``async for``.
        The token provider may also be a coroutine function; tokens for the
    client-credentials grant come through
    :class:`~quillon.accounts.oauth.AsyncClientCredentials`.
    """

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
        settings = resolve(
            config=config,
            token=token,
            token_url=token_url,
            environ=None,
            client_id=client_id,
            environment=environment,
            base_url=base_url,
            client_secret=client_secret,
            basic_token=basic_token,
        )
        self._owns_http = http_client is None
        self._http = http_client or httpx.AsyncClient(
            timeout=DEFAULT_TIMEOUT if timeout is None else timeout, verify=verify
        )
        _deadline.guard_async(self._http)
        source = settings.token
        if settings.use_credentials:
            source = AsyncClientCredentials.from_config(
                settings.config, token_url=settings.token_url, http_client=self._http, clock=clock
            )
        super().__init__(settings.config, source, retry, timeout, clock, max_response_bytes)
        self._sleep = sleep
        self._lock: asyncio.Lock | None = None

    async def __aenter__(self) -> AsyncClient:
        return self

    async def __aexit__(self, *exc_info: object) -> None:
        await self.aclose()

    async def aclose(self) -> None:
        """Closes the connection pool, unless it was lent by the caller or shared with
        the client this one was derived from."""
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

    def with_raw_response(
        self, method: Callable[P, Awaitable[R]]
    ) -> Callable[P, Awaitable[RawResponse[R]]]:
        """``method`` (one of this client's) made to return a
        :class:`~quillon.accounts.responses.RawResponse` (see :meth:`Client.with_raw_response`)."""
        return raw_response_async(method)

    async def _token(self, refused: AccessToken | None) -> AccessToken | None:
        if not self._needs_token(refused):
            return self._token_now()
        if self._lock is None:
            self._lock = asyncio.Lock()
        async with self._lock:
            if self._needs_token(refused):
                assert self._provider is not None
                self._drop_refused(refused)
                token = self._provider()
                if inspect.isawaitable(token):
                    token = await cast(Awaitable[AccessToken], token)
                return self._accept_token(token)
            return self._token_now()

    async def execute(self, operation: Operation[In, R], input: In) -> R:
        """Runs one operation with its input record: build, send (with retries), parse.

        The whole call, retries and waits included, ends within ``retry.max_elapsed``.
        """
        run = self._attempts(operation)
        with _deadline.deadline(run.deadline):
            while True:
                token = await self._token(run.refused)
                request = self._begin(run, operation, token, input)
                started = time.monotonic()
                try:
                    resp, body = await self._exchange(request, run)
                except _body.FAILURES as exc:
                    await self._sleep(self._after_failure(run, exc, request))
                    continue
                outcome = self._settle(run, operation, input, token, request, resp, body, started)
                if not isinstance(outcome, _Wait):
                    return outcome
                if outcome.seconds:
                    await self._sleep(outcome.seconds)

    async def _exchange(self, request: HttpRequest, run: Attempts) -> tuple[httpx.Response, bytes]:
        resp = await self._http.send(
            self._request(self._http, request, run), stream=True, follow_redirects=False
        )
        return resp, await _body.aread(resp, self.max_response_bytes, run.deadline)

    async def get_account(self, *, nit: str, account_number: str) -> MerchantAccount:
        """One account with its merchant and establishment (see :meth:`Client.get_account`)."""
        return await self.execute(GET_ACCOUNT, AccountRef(nit=nit, account_number=account_number))

    async def list_accounts(self, *, nit: str) -> MerchantAccounts:
        """Every establishment of the merchant with its accounts."""
        return await self.execute(LIST_ACCOUNTS, MerchantRef(nit=nit))

    async def create_accounts(
        self, *, nit: str, establishment_id: int, accounts: Iterable[NewAccount | Mapping[str, str]]
    ) -> CreatedAccounts:
        """Opens accounts under an establishment (see :meth:`Client.create_accounts`)."""
        return await self.execute(
            CREATE_ACCOUNTS, self._create_input(nit, establishment_id, accounts)
        )

    async def set_status(
        self, *, nit: str, changes: Iterable[StatusChange | Mapping[str, Any]]
    ) -> list[StatusChanged]:
        """Gives accounts a new status (see :meth:`Client.set_status`)."""
        return await self.execute(SET_STATUS, self._status_input(nit, changes))

    async def reconcile(
        self, *, nit: str, date_from: DateLike, date_to: DateLike
    ) -> Reconciliation:
        """Movements and balances of at most 7 days (see :meth:`Client.reconcile`)."""
        return await self.execute(
            RECONCILE,
            MerchantRange(
                nit=nit,
                date_from=date_text(date_from, "date_from"),
                date_to=date_text(date_to, "date_to"),
            ),
        )

    async def credits(
        self, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> list[Movement]:
        """The credits of one account over at most 31 days (see :meth:`Client.credits`)."""
        return await self.execute(
            CREDITS, self._range_input(nit, account_number, date_from, date_to)
        )

    async def debits(
        self, *, nit: str, account_number: str, date_from: DateLike, date_to: DateLike
    ) -> list[Movement]:
        """The debits of one account over at most 31 days (see :meth:`Client.debits`)."""
        return await self.execute(
            DEBITS, self._range_input(nit, account_number, date_from, date_to)
        )

    async def balances(
        self, *, nit: str, account_numbers: Sequence[str], max_concurrency: int = 4
    ) -> list[Balance]:
        """The balances of any number of accounts, in the order asked.

        Asked for ten accounts at a time, at most ``max_concurrency`` requests at once;
        the first failure is raised once the requests under way have ended.
        """
        if max_concurrency < 1:
            raise ValueError("max_concurrency must be at least 1")
        gate = asyncio.Semaphore(max_concurrency)

        async def one(query: BalancesQuery) -> list[Balance]:
            async with gate:
                return await self.execute(BALANCES, query)

        queries = self._balances_inputs(nit, account_numbers)
        if len(queries) == 1:
            return await self.execute(BALANCES, queries[0])
        answers = await asyncio.gather(*(one(q) for q in queries), return_exceptions=True)
        for answer in answers:
            if isinstance(answer, BaseException):
                raise answer
        return [b for answer in answers for b in cast(list[Balance], answer)]
