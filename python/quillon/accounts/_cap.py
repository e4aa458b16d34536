"""The size limit and deadline of an answer, kept when a lent client's hooks read it.

httpx runs a client's response hooks inside ``send``, before the caller sees
the response, so a hook of a lent client that reads the body
(``response.read()``) would take it whole and inflated, whatever its size.
When the client has response hooks, :func:`ensure` puts one of ours first.
For a request the package sent (marked with the :data:`LIMIT` extension:
the limit in bytes and the monotonic deadline) it reads the body itself,
through the same counting reader as every answer, then leaves the hooks that
follow the bytes as received, now known to stay within the limit once
inflated, and the body for the package's own reader (:data:`BODY`).
"""

from __future__ import annotations

import contextlib
from typing import Any

import httpx

from quillon.accounts._body import BodyReader

__all__ = ["BODY", "LIMIT", "ensure"]

# Request extension: (limit in bytes, monotonic deadline) of the answer.
LIMIT = "quillon_accounts.limit"
# Response extension: the body as the package reads it, taken by the hook.
BODY = "quillon_accounts.body"


class _Taker:
    """Takes the body of one response: the bytes as received, and as the package reads them."""

    __slots__ = ("_reader", "response", "stream")

    def __init__(self, response: httpx.Response, reader: BodyReader) -> None:
        self.response = response
        self.stream: Any = response.stream
        self._reader = reader

    @classmethod
    def of(cls, response: httpx.Response) -> _Taker | None:
        """A taker for a response to one of the package's requests, not yet read."""
        bound = response.request.extensions.get(LIMIT)
        if bound is None or response.is_stream_consumed:
            return None
        limit, deadline = bound
        reader = BodyReader(response.headers.get("content-encoding"), limit, deadline)
        return cls(response, reader)

    def feed(self, chunk: bytes) -> bytes:
        """Counts ``chunk`` against the limit and the deadline; gives it back."""
        self._reader.feed(chunk)
        return chunk

    def keep(self, raw: list[bytes]) -> None:
        """Leaves the body to the package's reader, and the bytes to the hooks that follow."""
        self.response.extensions[BODY] = self._reader.finish()
        self.response.stream = httpx.ByteStream(b"".join(raw))


def _read_first(response: httpx.Response) -> None:
    taker = _Taker.of(response)
    if taker is not None:
        with contextlib.closing(taker.stream):
            taker.keep([taker.feed(chunk) for chunk in taker.stream])


async def _aread_first(response: httpx.Response) -> None:
    taker = _Taker.of(response)
    if taker is not None:
        async with contextlib.aclosing(taker.stream):
            taker.keep([taker.feed(chunk) async for chunk in taker.stream])


def ensure(http: httpx.Client | httpx.AsyncClient) -> None:
    """Puts the reading hook first among ``http``'s response hooks, if it has any."""
    hooks = http.event_hooks["response"]
    if not hooks:
        return
    first = _aread_first if isinstance(http, httpx.AsyncClient) else _read_first
    if hooks[0] is not first:
        if first in hooks:
            hooks.remove(first)
        hooks.insert(0, first)
