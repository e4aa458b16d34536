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

from typing import cast

import httpx

from quillon.accounts._body import BodyReader

__all__ = ["BODY", "LIMIT", "ensure"]

# Request extension: (limit in bytes, monotonic deadline) of the answer.
LIMIT = "quillon_accounts.limit"
# Response extension: the body as the package reads it, taken by the hook.
BODY = "quillon_accounts.body"


def _reader(response: httpx.Response) -> BodyReader | None:
    bound = response.request.extensions.get(LIMIT)
    if bound is None or response.is_stream_consumed:
        return None
    limit, deadline = bound
    return BodyReader(response.headers.get("content-encoding"), limit, deadline)


def _keep(response: httpx.Response, raw: list[bytes], reader: BodyReader) -> None:
    response.extensions[BODY] = reader.finish()
    response.stream = httpx.ByteStream(b"".join(raw))


def _read_first(response: httpx.Response) -> None:
    reader = _reader(response)
    if reader is None:
        return
    stream = cast(httpx.SyncByteStream, response.stream)
    raw: list[bytes] = []
    try:
        for chunk in stream:
            raw.append(chunk)
            reader.feed(chunk)
    finally:
        stream.close()
    _keep(response, raw, reader)


async def _aread_first(response: httpx.Response) -> None:
    reader = _reader(response)
    if reader is None:
        return
    stream = cast(httpx.AsyncByteStream, response.stream)
    raw: list[bytes] = []
    try:
        async for chunk in stream:
            raw.append(chunk)
            reader.feed(chunk)
    finally:
        await stream.aclose()
    _keep(response, raw, reader)


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
