"""The deadline of a call, enforced on every socket operation.

httpx applies its timeouts to each read and write on its own, so a server
that sends one byte just before each read timeout runs out could hold a call
for ever. The client therefore sets the call's deadline in a context variable
and wraps the network backend of the httpx connection pool: each connect,
read and write then waits at most until the deadline, whatever the timeout
httpx asked for, and fails with httpx's own timeout once it has passed.
"""

from __future__ import annotations

import contextvars
import ssl
import time
import typing
from collections.abc import Iterable

import httpcore
import httpx

__all__ = ["deadline", "guard", "guard_async", "left"]

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


class _AsyncStream(httpcore.AsyncNetworkStream):
    def __init__(self, inner: httpcore.AsyncNetworkStream) -> None:
        self._inner = inner

    async def read(self, max_bytes: int, timeout: float | None = None) -> bytes:
        return await self._inner.read(max_bytes, _clamp(timeout, httpcore.ReadTimeout))

    async def write(self, buffer: bytes, timeout: float | None = None) -> None:
        await self._inner.write(buffer, _clamp(timeout, httpcore.WriteTimeout))

    async def aclose(self) -> None:
        await self._inner.aclose()

    async def start_tls(
        self,
        ssl_context: ssl.SSLContext,
        server_hostname: str | None = None,
        timeout: float | None = None,
    ) -> httpcore.AsyncNetworkStream:
        inner = await self._inner.start_tls(
            ssl_context, server_hostname, _clamp(timeout, httpcore.ConnectTimeout)
        )
        return _AsyncStream(inner)

    def get_extra_info(self, info: str) -> typing.Any:
        return self._inner.get_extra_info(info)


class _AsyncBackend(httpcore.AsyncNetworkBackend):
    def __init__(self, inner: httpcore.AsyncNetworkBackend) -> None:
        self._inner = inner

    async def connect_tcp(
        self,
        host: str,
        port: int,
        timeout: float | None = None,
        local_address: str | None = None,
        socket_options: SocketOptions = None,
    ) -> httpcore.AsyncNetworkStream:
        stream = await self._inner.connect_tcp(
            host, port, _clamp(timeout, httpcore.ConnectTimeout), local_address, socket_options
        )
        return _AsyncStream(stream)

    async def connect_unix_socket(
        self, path: str, timeout: float | None = None, socket_options: SocketOptions = None
    ) -> httpcore.AsyncNetworkStream:
        stream = await self._inner.connect_unix_socket(
            path, _clamp(timeout, httpcore.ConnectTimeout), socket_options
        )
        return _AsyncStream(stream)

    async def sleep(self, seconds: float) -> None:
        await self._inner.sleep(seconds)


def _pools(client: httpx.Client | httpx.AsyncClient) -> list[object]:
    # httpx keeps its httpcore pool in each transport; other transports (a
    # mock, a custom one) have none, and their calls are bounded only between
    # the chunks of an answer.
    transports = [getattr(client, "_transport", None)]
    transports += list(getattr(client, "_mounts", {}).values())
    return [getattr(t, "_pool", None) for t in transports if t is not None]


def guard(client: httpx.Client) -> None:
    """Makes the connections ``client`` opens from now on keep the call's deadline."""
    for pool in _pools(client):
        backend = getattr(pool, "_network_backend", None)
        if isinstance(backend, httpcore.NetworkBackend) and not isinstance(backend, _Backend):
            setattr(pool, "_network_backend", _Backend(backend))  # noqa: B010


def guard_async(client: httpx.AsyncClient) -> None:
    """:func:`guard` for an ``httpx.AsyncClient``."""
    for pool in _pools(client):
        backend = getattr(pool, "_network_backend", None)
        if isinstance(backend, httpcore.AsyncNetworkBackend) and not isinstance(
            backend, _AsyncBackend
        ):
            setattr(pool, "_network_backend", _AsyncBackend(backend))  # noqa: B010
