"""The HTTP side of a call: status, headers and timing along with the typed result.

Call a method through the client's ``with_raw_response`` with the method's
own arguments; the answer is a :class:`RawResponse` holding the result and
every HTTP exchange the call made (more than one after a retry, for
``debits`` or ``credits`` over more than 31 days, or for ``balances`` of more
than ten accounts)::

    raw = client.with_raw_response.get_account(nit="1234567", account_number="10000001")
    raw.status_code, raw.headers["content-type"], raw.elapsed, raw.attempts
    account = raw.parsed

``client.with_raw_response(client.get_account)(...)`` does the same for any
method of the client's, ``execute`` included.

The ``iter_*`` methods send their requests as the caller iterates, after the
wrapped call has returned, so they cannot be wrapped (``TypeError``); wrap
``debits``, ``credits`` or ``reconcile`` per window instead.

The exchanges are collected per thread and per asyncio task, so concurrent
calls never see each other's.
"""

from __future__ import annotations

import contextvars
import functools
import time
from collections.abc import AsyncIterator, Awaitable, Callable, Iterator, Mapping
from dataclasses import dataclass, field
from typing import Any, Concatenate, Generic, NoReturn, ParamSpec, TypeVar, overload

__all__ = [
    "AsyncRawMethod",
    "AsyncRawResponses",
    "Exchange",
    "RawMethod",
    "RawResponse",
    "RawResponses",
    "raw_response",
    "raw_response_async",
]

P = ParamSpec("P")
R = TypeVar("R")
C = TypeVar("C")


def _refuse_lazy(method: Callable[..., object]) -> NoReturn:
    name = getattr(method, "__name__", "the method")
    raise TypeError(
        f"with_raw_response cannot wrap {name}: it sends its requests as you iterate, "
        "after the wrapped call has returned; wrap debits, credits or reconcile instead"
    )


@dataclass(frozen=True)
class Exchange:
    """One request sent and the answer it got.

    ``url`` is the request's URL (it holds no credential); ``headers`` are the
    response's headers with any credential masked; ``elapsed`` is the
    seconds from sending the request to reading the whole answer; ``attempt``
    counts from 1 within the call.
    """

    method: str
    """The request's HTTP method."""
    url: str
    """The request's URL (it holds no credential)."""
    status: int
    """The answer's HTTP status."""
    headers: Mapping[str, str] = field(repr=False)
    """The answer's headers, names in lower case, credentials masked."""
    elapsed: float
    """Seconds from sending the request to reading the whole answer."""
    attempt: int
    """Which attempt of its request this was, counting from 1 within the call."""


@dataclass(frozen=True)
class RawResponse(Generic[R]):
    """A typed result with the HTTP exchanges that produced it.

    ``parsed`` is what the method returns; ``exchanges`` every exchange made,
    in order, failed attempts included; ``elapsed`` the seconds the whole call
    took, waits between retries included. ``status_code``, ``headers`` and
    ``attempts`` describe the last exchange.
    """

    parsed: R
    """The typed result, as the method returns it."""
    exchanges: tuple[Exchange, ...]
    """Every exchange the call made, in order, failed attempts included."""
    elapsed: float
    """Seconds the whole call took, waits between retries included."""

    @property
    def last(self) -> Exchange:
        """The last exchange of the call."""
        if not self.exchanges:
            raise LookupError("the call made no HTTP exchange")
        return self.exchanges[-1]

    @property
    def status_code(self) -> int:
        """HTTP status of the last exchange."""
        return self.last.status

    @property
    def status(self) -> int:
        """The same as :attr:`status_code`."""
        return self.last.status

    @property
    def headers(self) -> Mapping[str, str]:
        """Response headers of the last exchange (names in lower case)."""
        return self.last.headers

    @property
    def attempts(self) -> int:
        """Attempts made for the last request (1 when it was not retried)."""
        return self.last.attempt


_SEEN: contextvars.ContextVar[list[Exchange] | None] = contextvars.ContextVar(
    "quillon_accounts_exchanges", default=None
)


def record(exchange: Exchange) -> None:
    """Notes an exchange for the ``with_raw_response`` call in progress, if any."""
    seen = _SEEN.get()
    if seen is not None:
        seen.append(exchange)


def collecting() -> bool:
    """Whether a ``with_raw_response`` call in progress collects the exchanges
    (the clients make an :class:`Exchange` only then)."""
    return _SEEN.get() is not None


def raw_response(method: Callable[P, R]) -> Callable[P, RawResponse[R]]:
    """``method`` (a :class:`~quillon.accounts.Client` method) made to return a
    :class:`RawResponse` around its result."""

    @functools.wraps(method)
    def run(*args: P.args, **kwargs: P.kwargs) -> RawResponse[R]:
        seen: list[Exchange] = []
        reset = _SEEN.set(seen)
        started = time.monotonic()
        try:
            result = method(*args, **kwargs)
        finally:
            _SEEN.reset(reset)
        if isinstance(result, Iterator):
            _refuse_lazy(method)
        return RawResponse(result, tuple(seen), time.monotonic() - started)

    return run


def raw_response_async(
    method: Callable[P, Awaitable[R]],
) -> Callable[P, Awaitable[RawResponse[R]]]:
    """``method`` (an :class:`~quillon.accounts.AsyncClient` method) made to return a
    :class:`RawResponse` around its result."""

    @functools.wraps(method)
    async def run(*args: P.args, **kwargs: P.kwargs) -> RawResponse[R]:
        seen: list[Exchange] = []
        reset = _SEEN.set(seen)
        started = time.monotonic()
        try:
            call = method(*args, **kwargs)
            if isinstance(call, AsyncIterator):
                _refuse_lazy(method)
            result = await call
        finally:
            _SEEN.reset(reset)
        return RawResponse(result, tuple(seen), time.monotonic() - started)

    return run


class RawResponses(Generic[C]):
    """The ``with_raw_response`` of a sync client: its methods, each returning a
    :class:`RawResponse`, as attributes (``client.with_raw_response.debits(...)``),
    and called with one of the client's methods, that method made to return one."""

    def __init__(self, client: C) -> None:
        self._client = client

    def __call__(self, method: Callable[P, R]) -> Callable[P, RawResponse[R]]:
        """``method`` made to return a :class:`RawResponse` around its result."""
        return raw_response(method)


class AsyncRawResponses(Generic[C]):
    """The ``with_raw_response`` of an async client, as :class:`RawResponses` with
    awaitable methods."""

    def __init__(self, client: C) -> None:
        self._client = client

    def __call__(self, method: Callable[P, Awaitable[R]]) -> Callable[P, Awaitable[RawResponse[R]]]:
        """``method`` made to return (once awaited) a :class:`RawResponse`."""
        return raw_response_async(method)


class RawMethod(Generic[C, P, R]):
    """One client method on :class:`RawResponses`: read from an accessor, it is that
    client's method returning a :class:`RawResponse`, with the same parameters."""

    def __init__(self, method: Callable[Concatenate[C, P], R]) -> None:
        self._name = method.__name__
        self.__doc__ = f"``{self._name}``, returning a :class:`RawResponse` around its result."

    @overload
    def __get__(self, accessor: None, owner: type[Any]) -> RawMethod[C, P, R]: ...

    @overload
    def __get__(
        self, accessor: RawResponses[C], owner: type[Any] | None = None
    ) -> Callable[P, RawResponse[R]]: ...

    def __get__(
        self, accessor: RawResponses[C] | None, owner: type[Any] | None = None
    ) -> RawMethod[C, P, R] | Callable[P, RawResponse[R]]:
        if accessor is None:
            return self
        method: Callable[P, R] = getattr(accessor._client, self._name)
        return raw_response(method)


class AsyncRawMethod(Generic[C, P, R]):
    """One async client method on :class:`AsyncRawResponses`, returning (once awaited)
    a :class:`RawResponse`."""

    def __init__(self, method: Callable[Concatenate[C, P], Awaitable[R]]) -> None:
        self._name = method.__name__
        self.__doc__ = f"``{self._name}``, returning a :class:`RawResponse` once awaited."

    @overload
    def __get__(self, accessor: None, owner: type[Any]) -> AsyncRawMethod[C, P, R]: ...

    @overload
    def __get__(
        self, accessor: AsyncRawResponses[C], owner: type[Any] | None = None
    ) -> Callable[P, Awaitable[RawResponse[R]]]: ...

    def __get__(
        self, accessor: AsyncRawResponses[C] | None, owner: type[Any] | None = None
    ) -> AsyncRawMethod[C, P, R] | Callable[P, Awaitable[RawResponse[R]]]:
        if accessor is None:
            return self
        method: Callable[P, Awaitable[R]] = getattr(accessor._client, self._name)
        return raw_response_async(method)
