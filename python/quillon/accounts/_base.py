"""What ``Client`` and ``AsyncClient`` share: settings, the pool, tokens and input records.

The call itself is :mod:`quillon.accounts._call`; each client only carries
out its actions, the sync one blocking and the async one awaiting.
"""

from __future__ import annotations

import copy
import time
from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import Any

import httpx

from quillon.accounts import _cap
from quillon.accounts._body import ACCEPT_ENCODING
from quillon.accounts._call import Send
from quillon.accounts._httpx_request import RequestMaker
from quillon.accounts._inputs import check_input, coerce
from quillon.accounts._iterate import check_reconcile_range
from quillon.accounts._logging import Redactor, mask_headers
from quillon.accounts._settings import check_call_options, resolve
from quillon.accounts.config import AccessToken, check_credential
from quillon.accounts.errors import (
    AuthenticationError,
    ClientClosedError,
    ConfigurationError,
    ConfigurationTypeError,
    QuillonError,
    TransportError,
    ValidationError,
)
from quillon.accounts.models import (
    AccountRange,
    BalancesQuery,
    CreateAccounts,
    DateLike,
    MerchantRange,
    NewAccount,
    StatusChange,
    StatusChanges,
    date_text,
)
from quillon.accounts.protocol import HttpRequest, JsonKept, Operation, build
from quillon.accounts.ranges import batches
from quillon.accounts.raw_response import Exchange
from quillon.accounts.raw_response import collecting as collecting_exchanges
from quillon.accounts.raw_response import record as record_exchange
from quillon.accounts.retry import Attempts, RetryPolicy

DEFAULT_TIMEOUT = httpx.Timeout(20.0, connect=5.0)

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
            raise ConfigurationTypeError("header names and values must be texts")
        if name.lower() in _OWN_HEADERS:
            raise ConfigurationError(
                f"the header {name} is set by the client and cannot be replaced"
            )
        if not name or not name.isascii() or not all(c.isalnum() or c in "-_" for c in name):
            raise ConfigurationError(f"{name!r} is not a header name")
        if not value.isascii() or not value.isprintable():
            raise ConfigurationError(
                f"the value of the header {name} holds a control or non-ASCII character"
            )
        out[name] = value
    return out


def _cut(value: float | None, left: float) -> float:
    """A timeout of httpx's cut to the ``left`` seconds of the call's deadline."""
    return left if value is None or value > left else value


class ClientBase:
    """Configuration, pool, token bookkeeping and input records of either client.

    A subclass names its httpx client class (``_HTTP``), its token provider
    for the client-credentials grant (``_CREDENTIALS``) and how a pool it is
    given is held to the call's deadline (``_guard``).
    """

    _HTTP: Any
    _CREDENTIALS: Any
    # The pool's connections opened before it was held to the deadline and still
    # busy, for _deadline.settle; None when it could not be (_deadline.guard).
    _guard: Callable[[Any], list[object] | None]

    def __init__(
        self,
        *,
        client_id: str | None,
        token: Any,
        environment: Any,
        base_url: str | None,
        client_secret: str | None,
        basic_token: str | None,
        token_url: str | None,
        config: Any,
        timeout: float | httpx.Timeout | None,
        retry: RetryPolicy | None,
        verify: Any,
        http_client: Any,
        max_response_bytes: int,
        clock: Callable[[], float],
        sleep: Callable[[float], Any],
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
        # Every setting is checked before a pool is made that a refusal would leak.
        check_call_options(timeout, retry)
        if isinstance(max_response_bytes, bool) or not isinstance(max_response_bytes, int):
            raise ConfigurationTypeError("max_response_bytes must be an int")
        if max_response_bytes < 1:
            raise ConfigurationError("max_response_bytes must be at least 1")
        self._owns_http = http_client is None
        self._closed = False
        self._http = http_client or self._HTTP(
            timeout=DEFAULT_TIMEOUT if timeout is None else timeout, verify=verify
        )
        self._older = type(self)._guard(self._http)
        source = settings.token
        if settings.use_credentials:
            source = self._CREDENTIALS.from_config(
                settings.config, token_url=settings.token_url, http_client=self._http, clock=clock
            )
        self.config = settings.config
        self.retry = retry if retry is not None else RetryPolicy()
        self.max_response_bytes = max_response_bytes
        self._timeout = None if timeout is None else httpx.Timeout(timeout)
        self._clock = clock
        self._sleep = sleep
        self._redactor = Redactor(self.config.secrets())
        self._requests = RequestMaker()
        self._json = JsonKept()
        self._static: AccessToken | None = None
        self._provider: Callable[[], Any] | None = None
        self._cached: AccessToken | None = None
        self._headers: dict[str, str] = {}
        if isinstance(source, AccessToken):
            check_credential(source.access_token, "access_token")
            self._static = source
            self._redactor.add(source.access_token)
        elif callable(source):
            self._provider = source
        elif source is not None:
            raise ConfigurationTypeError(
                "token must be an AccessToken or a callable that returns one"
            )

    def _derive(
        self, timeout: Any, retry: RetryPolicy | None, headers: Mapping[str, str] | None
    ) -> Any:
        check_call_options(timeout, retry)
        clone = copy.copy(self)
        clone._owns_http = False
        if timeout is not None:
            clone._timeout = httpx.Timeout(timeout)
        if retry is not None:
            clone.retry = retry
        if headers:
            clone._headers = {**self._headers, **_extra_headers(headers)}
        return clone

    def _ensure_open(self) -> None:
        """Raises :class:`ClientClosedError` once this client, the client it was derived
        from or the httpx client lent to it has been closed."""
        if self._closed or self._http.is_closed:
            raise ClientClosedError(
                f"this {type(self).__name__} has been closed"
                if self._closed
                else f"the connection pool of this {type(self).__name__} has been closed "
                "(by the client it was derived from, or by the owner of the http_client lent "
                "to it); make a new client"
            )

    def _closed_failure(self, exc: BaseException) -> ClientClosedError | None:
        """The error for a send that httpx refused because the pool closed meanwhile."""
        if isinstance(exc, RuntimeError) and self._http.is_closed:
            try:
                self._ensure_open()
            except ClientClosedError as err:
                return err
        return None

    # Tokens.

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

    def _refresh(self, refused: AccessToken | None) -> Any:
        """What the provider gives for a new token (an awaitable from an async one)."""
        assert self._provider is not None
        self._drop_refused(refused)
        return self._provider()

    def _accept_token(self, token: object) -> AccessToken:
        if not isinstance(token, AccessToken):
            raise TypeError(
                f"the token provider returned {type(token).__name__}, not an AccessToken"
            )
        check_credential(token.access_token, "access_token")
        self._redactor.add(token.access_token)
        self._cached = token
        return token

    def _no_token(self) -> TransportError:
        """The failure of a call whose deadline passed while it waited for a token."""
        return TransportError(
            f"no access token within the call's deadline of {self.retry.max_elapsed:g} s "
            "(RetryPolicy.max_elapsed): the token request under way has not ended",
            sent=False,
            retryable=True,
        )

    def _forget_if_refused(self, err: QuillonError, token: AccessToken | None) -> None:
        # A token the gateway refused is not offered again: the next call asks
        # the provider for a new one (a creation refused this way is not resent).
        if isinstance(err, AuthenticationError) and err.status == 401 and self._cached is token:
            self._cached = None
            self._drop_refused(token)

    def _token_now(self) -> AccessToken | None:
        return self._static if self._provider is None else self._cached

    # Requests.

    def _build(
        self, operation: Operation[Any, Any], token: AccessToken | None, input: Any
    ) -> HttpRequest:
        check_input(input)
        try:
            return build(operation, self.config, token, input, kept=self._json)
        except QuillonError as err:
            raise err.scrubbed(self._redactor.scrub) from None

    def _request(self, send: Send) -> httpx.Request:
        """The httpx request of one attempt, its timeouts cut to what is left of the deadline."""
        http = self._http
        _cap.ensure(http)
        configured = http.timeout if self._timeout is None else self._timeout
        left = send.deadline - time.monotonic()
        if left < 0.0:
            left = 0.0
        timeout = {
            "connect": _cut(configured.connect, left),
            "read": _cut(configured.read, left),
            "write": _cut(configured.write, left),
            "pool": _cut(configured.pool, left),
        }
        request = send.request
        body = request.body
        made = self._requests.make(
            http,
            request.method,
            request.url,
            {**self._headers, **request.headers, "Accept-Encoding": ACCEPT_ENCODING},
            None if body is None else body.encode("utf-8"),
            timeout,
        )
        made.extensions[_cap.LIMIT] = (self.max_response_bytes, send.deadline)
        return made

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
    def _reconcile_input(nit: str, date_from: DateLike, date_to: DateLike) -> MerchantRange:
        check_reconcile_range(date_from, date_to)
        return MerchantRange(
            nit=nit,
            date_from=date_text(date_from, "date_from"),
            date_to=date_text(date_to, "date_to"),
        )

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
