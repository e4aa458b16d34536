"""Access tokens from an OAuth 2.0 token endpoint (the client-credentials grant).

:class:`ClientCredentials` (for :class:`~quillon.accounts.Client`) and
:class:`AsyncClientCredentials` (for :class:`~quillon.accounts.AsyncClient`)
ask the token endpoint for a token with ``grant_type=client_credentials``,
authenticating with HTTP Basic: either the ``basic_token`` you were given
(the base64 text after "Basic "), or the ``client_id`` and ``client_secret``.
The token is kept and handed out until shortly before it expires (30 seconds,
or half its lifetime for short-lived tokens); concurrent callers that find it
expired wait for one request, not one each. After the gateway refuses a token
(HTTP 401), :meth:`~ClientCredentials.invalidate` makes the next call fetch a
new one; the clients do this for you.

Neither the secret, the basic token nor any access token appears in a
``repr``, a log line or an exception message::

    tokens = ClientCredentials.from_config(ClientConfig.from_env())
    with Client(config=tokens.config, token=tokens) as client:
        ...
"""

from __future__ import annotations

import asyncio
import base64
import json
import threading
import time
import urllib.parse
from collections.abc import Callable, Mapping
from typing import Any, Generic, TypeVar

import httpx

from quillon.accounts import _body, _cap, _deadline
from quillon.accounts._logging import Redactor, logger
from quillon.accounts.config import (
    EXPIRY_LEEWAY_SECONDS,
    AccessToken,
    ClientConfig,
    check_credential,
    token_lifetime,
)
from quillon.accounts.errors import (
    ApiError,
    AuthenticationError,
    DecodeError,
    MissingSettingError,
    QuillonError,
    TransportError,
    ValidationError,
)
from quillon.accounts.retry import MAYBE_SENT, NOT_SENT

__all__ = [
    "DEFAULT_TOKEN_PATH",
    "AsyncClientCredentials",
    "ClientCredentials",
    "default_token_url",
]

DEFAULT_TOKEN_PATH = "/oauth/token"
"""Path of the token endpoint under the gateway's base URL, unless ``token_url`` says otherwise."""

TOKEN_TIMEOUT = httpx.Timeout(10.0, connect=5.0)
# A token request ends within this many seconds however slowly the endpoint
# answers (or sooner, within the deadline of the call that needs the token),
# and its answer may not exceed this many bytes.
TOKEN_DEADLINE = 30.0
MAX_TOKEN_ANSWER = 1 << 20

# OAuth error words that mean the credentials themselves were refused.
_REFUSALS = frozenset(
    {"invalid_client", "unauthorized_client", "invalid_grant", "invalid_scope", "access_denied"}
)


def default_token_url(config: ClientConfig) -> str:
    """The token endpoint for ``config``: its base URL followed by :data:`DEFAULT_TOKEN_PATH`."""
    return config.url(DEFAULT_TOKEN_PATH)


H = TypeVar("H", httpx.Client, httpx.AsyncClient)
E = TypeVar("E", bound="_Endpoint[Any]")


class _Endpoint(Generic[H]):
    """What both providers share: the request to send, the reading of the answer, the cache."""

    def __init__(
        self,
        *,
        token_url: str,
        client_id: str | None = None,
        client_secret: str | None = None,
        basic_token: str | None = None,
        scope: str | None = None,
        http_client: H | None = None,
        timeout: float | httpx.Timeout = TOKEN_TIMEOUT,
        leeway: float = EXPIRY_LEEWAY_SECONDS,
        clock: Callable[[], float] = time.time,
        config: ClientConfig | None = None,
    ) -> None:
        if basic_token:
            credentials = basic_token
        elif client_id is not None and client_secret:
            # RFC 6749, 2.3.1: both parts form-encoded before the Basic scheme's base64.
            pair = f"{_form(client_id)}:{_form(client_secret)}"
            credentials = base64.b64encode(pair.encode("utf-8")).decode("ascii")
        else:
            raise MissingSettingError(
                "a basic_token, or a client_id with a client_secret, is required"
            )
        self.token_url = token_url
        self.scope = scope
        self.leeway = leeway
        self.config = config
        self._clock = clock
        self._authorization = f"Basic {credentials}"
        self._redactor = Redactor([credentials, client_secret or "", basic_token or ""])
        self._cached: AccessToken | None = None
        self._fetched_at = 0.0
        self._owns_http = http_client is None
        self._http: H = http_client or self._new_http(timeout)
        self._guard()
        # One fetch at a time: across threads for the sync provider, per event
        # loop for the async one (an asyncio lock belongs to one loop).
        self._thread_lock = threading.Lock()
        self._loop_locks: dict[asyncio.AbstractEventLoop, asyncio.Lock] = {}

    def _new_http(self, timeout: float | httpx.Timeout) -> H:
        raise NotImplementedError

    def _guard(self) -> None:
        """Holds the pool's requests to the deadline of the call under way, if any."""
        raise NotImplementedError

    @classmethod
    def from_config(
        cls: type[E],
        config: ClientConfig,
        *,
        token_url: str | None = None,
        scope: str | None = None,
        **options: Any,
    ) -> E:
        """A provider for the credentials of ``config`` (its ``client_secret`` or
        ``basic_token``); the token URL defaults to :func:`default_token_url`."""
        if not config.client_secret and not config.basic_token:
            raise MissingSettingError(
                "the configuration has neither a client_secret nor a basic_token"
            )
        return cls(
            token_url=token_url or default_token_url(config),
            client_id=config.client_id,
            client_secret=config.client_secret,
            basic_token=config.basic_token,
            scope=scope,
            config=config,
            **options,
        )

    @property
    def redactor(self) -> Redactor:
        """Masks the secrets and the newest tokens this provider has handed out (the
        last four: an older one has expired or been refused since)."""
        return self._redactor

    def _fresh(self) -> AccessToken | None:
        token = self._cached
        if token is None:
            return None
        lifetime = token.expires_at - self._fetched_at
        leeway = min(self.leeway, lifetime / 2)
        return None if token.expired(self._clock(), leeway) else token

    def invalidate(self, token: AccessToken | None = None) -> None:
        """Forgets the kept token (only if it is ``token``, when given): the next call fetches."""
        if token is None or self._cached is token:
            self._cached = None

    def _request(self) -> tuple[dict[str, str], bytes]:
        form = {"grant_type": "client_credentials"}
        if self.scope:
            form["scope"] = self.scope
        headers = {
            "Authorization": self._authorization,
            "Content-Type": "application/x-www-form-urlencoded",
            "Accept": "application/json",
            "Accept-Encoding": _body.ACCEPT_ENCODING,
        }
        return headers, urllib.parse.urlencode(form).encode("ascii")

    def _token_request(self, until: float) -> httpx.Request:
        """The token request, its answer held to ``until`` (monotonic) and the size limit."""
        headers, body = self._request()
        _cap.ensure(self._http)
        return self._http.build_request(
            "POST",
            self.token_url,
            headers=headers,
            content=body,
            extensions={_cap.LIMIT: (MAX_TOKEN_ANSWER, until)},
        )

    def _accept(self, resp: httpx.Response, data: bytes, started: float) -> AccessToken:
        logger.debug(
            "token endpoint answered HTTP %d in %.0f ms",
            resp.status_code,
            (time.monotonic() - started) * 1000,
        )
        text = _body.text(data, resp)
        try:
            body = json.loads(text) if text.strip() else None
        except (ValueError, RecursionError):
            body = None
        if resp.status_code != 200:
            raise self._refusal(resp.status_code, body, text)
        answer: Mapping[str, Any] = body if isinstance(body, Mapping) else {}
        value = answer.get("access_token")
        if not isinstance(value, str):
            raise DecodeError("the token endpoint's answer has no access_token")
        self._redactor.add(value)
        try:
            check_credential(value, "access_token")
        except ValidationError as err:
            raise DecodeError(
                f"the token endpoint's access_token cannot be sent in a header: it {err.message}"
            ) from None
        expires_in = answer.get("expires_in")
        # No stated lifetime: the token is kept until the gateway refuses it.
        lifetime = None if expires_in is None else token_lifetime(expires_in)
        now = self._clock()
        token_type, scope = answer.get("token_type"), answer.get("scope")
        token = AccessToken(
            access_token=value,
            token_type=token_type if isinstance(token_type, str) and token_type else "Bearer",
            expires_at=2**63 - 1 if lifetime is None else int(now) + lifetime,
            scope=scope if isinstance(scope, str) else None,
        )
        self._cached, self._fetched_at = token, now
        logger.debug("new access token, valid for %s s", lifetime)
        return token

    def _refusal(self, status: int, body: Any, text: str) -> QuillonError:
        words = body if isinstance(body, Mapping) else {}
        # OAuth's members are texts; anything else in them is not taken for a word.
        error = words.get("error") if isinstance(words.get("error"), str) else None
        detail = words.get("error_description")
        detail = detail if isinstance(detail, str) else None
        what = " ".join(x for x in (error, detail) if x) or text or "no details"
        # Cut (twice as long as kept) before masking, so that masking a body of
        # up to the answer's limit costs no more than that of a short one.
        message = self._redactor.scrub(f"the token endpoint refused: {what[:2000]}", cut=True)
        if len(message) > 1000:
            message = message[:1000] + "..."
        if status in (401, 403) or error in _REFUSALS:
            return AuthenticationError(message, status=status)
        return ApiError(message, status=status, retryable=status == 429 or status >= 500)

    def _transport(self, exc: Exception) -> TransportError:
        if isinstance(exc, TransportError):  # the answer was too large, cut or slow
            return exc.scrubbed(self._redactor.scrub)  # type: ignore[return-value]
        host = self._redactor.scrub(urllib.parse.urlsplit(self.token_url).netloc)
        detail = self._redactor.scrub(str(exc) or type(exc).__name__)[:1000]
        return TransportError(
            f"token endpoint {host} not reached: {type(exc).__name__}: {detail}",
            sent=not isinstance(exc, (*NOT_SENT, httpx.InvalidURL, UnicodeError)),
            retryable=isinstance(exc, (*NOT_SENT, *MAYBE_SENT)),
        )

    def __repr__(self) -> str:
        return f"{type(self).__name__}(token_url={self.token_url!r}, scope={self.scope!r})"


def _form(text: str) -> str:
    return urllib.parse.quote_plus(text, safe="")


class ClientCredentials(_Endpoint[httpx.Client]):
    """Token provider for :class:`~quillon.accounts.Client`: call it for a valid token.

    ``token_url`` is the token endpoint; ``basic_token`` (the base64 text of
    "client_id:client_secret") or ``client_id`` with ``client_secret``
    authenticates; ``scope``, when given, is asked for. ``http_client`` lends
    an ``httpx.Client`` (the provider then does not close it). Thread-safe.
    """

    def _new_http(self, timeout: float | httpx.Timeout) -> httpx.Client:
        return httpx.Client(timeout=timeout)

    def _guard(self) -> None:
        # A pool that cannot be guarded has each token request watched instead.
        self._watched = _deadline.guard(self._http) is None

    def __call__(self) -> AccessToken:
        """The kept token while it is valid, else a new one from the token endpoint."""
        token = self._fresh()
        if token is not None:
            return token
        # Within a call, the wait for another thread's fetch ends with the call's deadline.
        left = _deadline.left()
        if not self._thread_lock.acquire(timeout=-1 if left is None else max(0.0, left)):
            raise TransportError(
                "no access token within the call's deadline: another token request "
                "is still under way",
                sent=False,
                retryable=True,
            )
        try:
            token = self._fresh()
            if token is not None:  # another thread fetched it while this one waited
                return token
            return self._fetch()
        finally:
            self._thread_lock.release()

    def _fetch(self) -> AccessToken:
        started = time.monotonic()
        with _deadline.deadline(started + TOKEN_DEADLINE) as until:
            watch = _deadline.Watch(until) if self._watched else None
            try:
                resp = _deadline.send(self._http, self._token_request(until), watch)
                data = _body.read(resp, MAX_TOKEN_ANSWER, until)
            except _body.FAILURES as exc:
                raise self._transport(exc) from None
            finally:
                if watch is not None:
                    watch.done()
        return self._accept(resp, data, started)

    def close(self) -> None:
        """Closes the provider's own connection pool (not one lent to it)."""
        if self._owns_http:
            self._http.close()

    def __enter__(self) -> ClientCredentials:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()


class AsyncClientCredentials(_Endpoint[httpx.AsyncClient]):
    """Token provider for :class:`~quillon.accounts.AsyncClient`: await it for a valid token.

    Takes the same arguments as :class:`ClientCredentials`, with an
    ``httpx.AsyncClient`` to lend. Concurrent tasks share one refresh.
    """

    def _new_http(self, timeout: float | httpx.Timeout) -> httpx.AsyncClient:
        return httpx.AsyncClient(timeout=timeout)

    def _guard(self) -> None:
        pass  # each token request runs under a timeout scope

    def _lock(self) -> asyncio.Lock:
        # An asyncio lock belongs to one event loop; each loop gets its own.
        loop = asyncio.get_running_loop()
        lock = self._loop_locks.get(loop)
        if lock is None:
            live = {lp: lk for lp, lk in self._loop_locks.items() if not lp.is_closed()}
            lock = live[loop] = asyncio.Lock()
            self._loop_locks = live
        return lock

    async def __call__(self) -> AccessToken:
        """The kept token while it is valid, else a new one from the token endpoint."""
        token = self._fresh()
        if token is not None:
            return token
        async with self._lock():
            token = self._fresh()
            if token is not None:  # another task fetched it while this one waited
                return token
            started = time.monotonic()
            with _deadline.deadline(started + TOKEN_DEADLINE) as until:
                try:
                    async with _deadline.within(until):
                        request = self._token_request(until)
                        resp = await self._http.send(request, stream=True, follow_redirects=False)
                        data = await _body.aread(resp, MAX_TOKEN_ANSWER, until)
                except TimeoutError:
                    late = httpx.ReadTimeout("the token request's deadline has passed")
                    raise self._transport(late) from None
                except _body.FAILURES as exc:
                    raise self._transport(exc) from None
            return self._accept(resp, data, started)

    async def aclose(self) -> None:
        """Closes the provider's own connection pool (not one lent to it)."""
        if self._owns_http:
            await self._http.aclose()

    async def __aenter__(self) -> AsyncClientCredentials:
        return self

    async def __aexit__(self, *exc_info: object) -> None:
        await self.aclose()
