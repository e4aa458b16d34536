"""The deadline of a call, held on every connection whatever the server sends.

httpx applies its timeouts to each read and write on its own, so a server
that sends one byte just before each read timeout runs out (headers dripped,
``100 Continue`` answered for ever) could hold a call for ever. The client
sets the call's deadline in a context variable (:func:`deadline`) and:

- async: runs the exchange under a timeout scope (:func:`within`), which
  cancels it wherever it waits once the deadline passes;
- sync: a blocking read can only be cut from inside the connection, so the
  network backend of the pool is wrapped (:func:`guard`): each connect, read
  and write then waits at most until the deadline, whatever timeout httpx
  asked for, and fails with httpx's own timeout once it has passed.

:func:`guard` is the one place that reaches into httpx's and httpcore's
private attributes (``_transport``, ``_mounts``, ``_pool``,
``_network_backend``): httpx offers no public way to give a pool of a client
already made another network backend. It fails closed: a pool it cannot
wrap is reported, and the calls through it then go by :class:`Watch`, which
takes each new connection's socket from httpcore's public ``trace``
extension, refuses connections it did not see opened, and shuts the socket
down when the deadline passes.
"""

from __future__ import annotations

import contextlib
import contextvars
import heapq
import socket
import ssl
import sys
import threading
import time
import typing
from collections.abc import AsyncIterator, Iterable

import httpcore
import httpx

__all__ = ["Watch", "deadline", "guard", "left", "send", "settle", "within"]

# The monotonic time by which the running call must end, or None outside a call.
_DEADLINE: contextvars.ContextVar[float | None] = contextvars.ContextVar(
    "quillon_accounts_deadline", default=None
)

SocketOptions = (
    Iterable[tuple[int, int, int] | tuple[int, int, bytes | bytearray] | tuple[int, int, None, int]]
    | None
)


class _Within:
    """The context of :func:`deadline`."""

    __slots__ = ("_at", "_token")

    def __init__(self, at: float) -> None:
        self._at = at
        self._token: contextvars.Token[float | None] | None = None

    def __enter__(self) -> float:
        outer = _DEADLINE.get()
        at = self._at if outer is None or self._at < outer else outer
        self._token = _DEADLINE.set(at)
        return at

    def __exit__(self, *exc_info: object) -> None:
        assert self._token is not None
        _DEADLINE.reset(self._token)


def deadline(at: float) -> _Within:
    """Every socket operation of a guarded pool within the block ends by ``at`` (monotonic).

    Within an earlier deadline (a token fetched during a call, say), the
    earlier one holds. Gives the deadline in force.
    """
    return _Within(at)


def left() -> float | None:
    """Seconds until the running call's deadline, or None outside a call."""
    at = _DEADLINE.get()
    return None if at is None else at - time.monotonic()


if sys.version_info >= (3, 11):
    import asyncio
    import math
    import weakref

    class _Timers:
        """The deadlines of one event loop's scopes, under one timer.

        Calls end long before their deadlines as a rule, so the timer set
        for the earliest deadline seldom fires; entering and leaving a scope
        costs a dictionary entry, not a timer each.
        """

        def __init__(self, loop: asyncio.AbstractEventLoop) -> None:
            self._loop = loop
            self._due: dict[_Scope, float] = {}
            self._handle: asyncio.TimerHandle | None = None
            self._at = math.inf

        def add(self, scope: _Scope) -> None:
            self._due[scope] = scope.at
            if scope.at < self._at:
                self._arm(scope.at)

        def remove(self, scope: _Scope) -> None:
            self._due.pop(scope, None)

        def _arm(self, at: float) -> None:
            if self._handle is not None:
                self._handle.cancel()
            self._at = at
            self._handle = self._loop.call_later(max(0.0, at - time.monotonic()), self._fire)

        def _fire(self) -> None:
            self._handle, self._at = None, math.inf
            now = time.monotonic()
            for scope, at in list(self._due.items()):
                if at <= now:
                    del self._due[scope]
                    scope.expire()
            if self._due:
                self._arm(min(self._due.values()))

    _TIMERS: weakref.WeakKeyDictionary[asyncio.AbstractEventLoop, _Timers] = (
        weakref.WeakKeyDictionary()
    )

    class _Scope:
        """The context of :func:`within`, as ``asyncio.timeout`` but under a shared timer."""

        __slots__ = ("_cancelling", "_expired", "_task", "_timers", "at")

        def __init__(self, at: float) -> None:
            self.at = at
            self._expired = False

        async def __aenter__(self) -> _Scope:
            loop = asyncio.get_running_loop()
            task = asyncio.current_task()
            if task is None:
                raise RuntimeError("a deadline scope must be entered in a task")
            self._task = task
            self._cancelling = task.cancelling()
            timers = _TIMERS.get(loop)
            if timers is None:
                timers = _TIMERS[loop] = _Timers(loop)
            self._timers = timers
            timers.add(self)
            return self

        async def __aexit__(
            self, kind: type[BaseException] | None, exc: BaseException | None, tb: object
        ) -> None:
            self._timers.remove(self)
            # Once expired, the cancellation is taken back whatever ended the block.
            expired = self._expired and self._task.uncancel() <= self._cancelling
            if expired and kind is asyncio.CancelledError:
                raise TimeoutError from exc

        def expire(self) -> None:
            self._expired = True
            self._task.cancel()

    def within(at: float) -> typing.AsyncContextManager[object]:
        """Cancels what the block awaits at ``at`` (monotonic), raising ``TimeoutError``."""
        return _Scope(at)

else:
    import anyio

    @contextlib.asynccontextmanager
    async def within(at: float) -> AsyncIterator[None]:
        """Cancels what the block awaits at ``at`` (monotonic), raising ``TimeoutError``."""
        with anyio.fail_after(max(0.0, at - time.monotonic())):
            yield


def _clamp(timeout: float | None, exc: type[Exception]) -> float | None:
    remaining = left()
    if remaining is None:
        return timeout
    if remaining <= 0:
        raise exc("the call's deadline has passed")
    return remaining if timeout is None else min(timeout, remaining)


class _Stream(httpcore.NetworkStream):
    def __init__(self, inner: httpcore.NetworkStream) -> None:
        self._inner = inner

    def read(self, max_bytes: int, timeout: float | None = None) -> bytes:
        return self._inner.read(max_bytes, _clamp(timeout, httpcore.ReadTimeout))

    def write(self, buffer: bytes, timeout: float | None = None) -> None:
        self._inner.write(buffer, _clamp(timeout, httpcore.WriteTimeout))

    def close(self) -> None:
        self._inner.close()

    def start_tls(
        self,
        ssl_context: ssl.SSLContext,
        server_hostname: str | None = None,
        timeout: float | None = None,
    ) -> httpcore.NetworkStream:
        inner = self._inner.start_tls(
            ssl_context, server_hostname, _clamp(timeout, httpcore.ConnectTimeout)
        )
        return _Stream(inner)

    def get_extra_info(self, info: str) -> typing.Any:
        return self._inner.get_extra_info(info)


class _Backend(httpcore.NetworkBackend):
    def __init__(self, inner: httpcore.NetworkBackend) -> None:
        self._inner = inner

    def connect_tcp(
        self,
        host: str,
        port: int,
        timeout: float | None = None,
        local_address: str | None = None,
        socket_options: SocketOptions = None,
    ) -> httpcore.NetworkStream:
        stream = self._inner.connect_tcp(
            host, port, _clamp(timeout, httpcore.ConnectTimeout), local_address, socket_options
        )
        return _Stream(stream)

    def connect_unix_socket(
        self, path: str, timeout: float | None = None, socket_options: SocketOptions = None
    ) -> httpcore.NetworkStream:
        stream = self._inner.connect_unix_socket(
            path, _clamp(timeout, httpcore.ConnectTimeout), socket_options
        )
        return _Stream(stream)

    def sleep(self, seconds: float) -> None:
        self._inner.sleep(seconds)


def _pools(client: httpx.Client) -> list[object] | None:
    """The httpcore pools of ``client``'s transports; None when one has no pool to reach."""
    transports = [getattr(client, "_transport", None)]
    transports += list(getattr(client, "_mounts", {}).values())
    pools = [getattr(t, "_pool", None) for t in transports if t is not None]
    if not all(isinstance(p, httpcore.ConnectionPool) for p in pools):
        return None
    return pools


def _idle_closed(connections: Iterable[object]) -> list[object]:
    """Closes the idle connections among ``connections``; gives the others, still open."""
    busy: list[object] = []
    for connection in connections:
        if not isinstance(connection, httpcore.ConnectionInterface) or connection.is_closed():
            continue
        if connection.is_idle():
            connection.close()
        else:
            busy.append(connection)
    return busy


def guard(client: httpx.Client) -> list[object] | None:
    """Holds every connection of ``client``'s pools to the deadline of the call under way.

    Connections opened from now on go through the wrapped backend; those the
    pool holds already were opened without it, and are closed once idle (the
    pool opens new ones as needed): the ones still busy are given back, for
    :func:`settle` before each call. None when a pool could not be reached:
    the calls then go by :class:`Watch`.
    """
    pools = _pools(client)
    if pools is None:
        return None
    older: list[object] = []
    for pool in pools:
        backend = getattr(pool, "_network_backend", None)
        if isinstance(backend, _Backend):
            continue
        if not isinstance(backend, httpcore.NetworkBackend):
            return None
        setattr(pool, "_network_backend", _Backend(backend))  # noqa: B010
        older += typing.cast(httpcore.ConnectionPool, pool).connections
    return _idle_closed(older)


def settle(older: list[object]) -> list[object]:
    """:func:`guard`'s connections opened before it, closed once idle; gives those still busy."""
    return _idle_closed(older)


class _Reused(Exception):
    """A request was about to go out on a connection not seen opened."""


class _Watchdog:
    """One thread that shuts sockets down at their deadlines."""

    def __init__(self) -> None:
        self._due: list[tuple[float, int, socket.socket]] = []
        self._cancelled: set[int] = set()
        self._next = 0
        self._wake = threading.Condition()
        self._thread: threading.Thread | None = None

    def add(self, at: float, sock: socket.socket) -> int:
        with self._wake:
            self._next += 1
            heapq.heappush(self._due, (at, self._next, sock))
            if self._thread is None:
                self._thread = threading.Thread(
                    target=self._run, name="quillon-deadline", daemon=True
                )
                self._thread.start()
            self._wake.notify()
            return self._next

    def cancel(self, key: int) -> None:
        with self._wake:
            if any(k == key for _, k, _ in self._due):
                self._cancelled.add(key)

    def _run(self) -> None:
        while True:
            with self._wake:
                while not self._due or self._due[0][0] > time.monotonic():
                    wait = None if not self._due else self._due[0][0] - time.monotonic()
                    self._wake.wait(wait)
                _, key, sock = heapq.heappop(self._due)
                if key in self._cancelled:
                    self._cancelled.discard(key)
                    continue
            with contextlib.suppress(OSError):
                sock.shutdown(socket.SHUT_RDWR)


_WATCHDOG = _Watchdog()
# Each refusal closes one connection of the pool's; past this many the pool
# keeps handing out connections this call cannot hold, and the call fails.
_MOST_REFUSED = 32


class Watch:
    """The deadline of one sync request through a pool :func:`guard` could not wrap.

    Set as the request's ``trace`` extension: it takes the socket of each
    connection opened for the request and has it shut down at ``at``, and
    refuses (closing it) a connection opened before, which it cannot hold.
    """

    __slots__ = ("_at", "_keys", "refused")

    def __init__(self, at: float) -> None:
        self._at = at
        self._keys: list[int] = []
        self.refused = 0

    def __call__(self, name: str, info: dict[str, typing.Any]) -> None:
        if name.endswith((".connect_tcp.complete", ".connect_unix_socket.complete")):
            stream = info.get("return_value")
            sock = None if stream is None else stream.get_extra_info("socket")
            if isinstance(sock, socket.socket):
                self._keys.append(_WATCHDOG.add(self._at, sock))
        elif name.endswith(".send_request_headers.started") and not self._keys:
            self.refused += 1
            if self.refused > _MOST_REFUSED:
                raise httpx.ConnectError(
                    "the pool offers only connections that cannot be held to the call's deadline"
                )
            raise _Reused

    def done(self) -> None:
        """The request and its answer have ended: its sockets are left alone."""
        for key in self._keys:
            _WATCHDOG.cancel(key)
        self._keys.clear()


def send(http: httpx.Client, request: httpx.Request, watch: Watch | None) -> httpx.Response:
    """``request`` sent through ``http`` (streamed, redirects not followed), under
    ``watch`` when the pool is not guarded: sent again after each refused connection."""
    if watch is not None:
        request.extensions["trace"] = watch
    while True:
        try:
            return http.send(request, stream=True, follow_redirects=False)
        except _Reused:
            continue
