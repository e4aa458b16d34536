"""Reading an answer's body within a size limit and the call's deadline.

The body is taken as it arrives on the wire and inflated here (gzip or
deflate), so that both the bytes received and the bytes they inflate to are
counted: reading stops, with :class:`ResponseTooLargeError`, as soon as either
passes the limit, and a small compressed answer cannot inflate to gigabytes.
"""

from __future__ import annotations

import codecs
import time
import zlib
from typing import cast

import httpx

from quillon.accounts.errors import ResponseTooLargeError, TransportError

__all__ = [
    "ACCEPT_ENCODING",
    "DEFAULT_MAX_RESPONSE_BYTES",
    "FAILURES",
    "BodyReader",
    "aread",
    "read",
    "text",
]

# The largest real answers (100,000 movements) are about 70 MB.
DEFAULT_MAX_RESPONSE_BYTES = 128 * 1024 * 1024

# The encodings the reader can inflate; asked for on every request.
ACCEPT_ENCODING = "gzip, deflate"

# What sending a request and reading its answer can raise.
FAILURES = (httpx.HTTPError, httpx.InvalidURL, httpx.StreamError, UnicodeError, TransportError)


_STEP = 1 << 20

# The response extension in which a hook leaves the body it read (_cap.BODY).
_TAKEN = "quillon_accounts.body"


def _too_large(limit: int) -> ResponseTooLargeError:
    return ResponseTooLargeError(
        f"the answer is larger than the client's limit of {limit} bytes "
        "(max_response_bytes); reading stopped there",
        limit=limit,
    )


def _late() -> TransportError:
    return TransportError(
        "the answer was still arriving at the call's deadline (RetryPolicy.max_elapsed)",
        sent=True,
        retryable=True,
    )


class _Inflater:
    def __init__(self, encoding: str) -> None:
        self.encoding = encoding
        # gzip, or deflate in its zlib wrapper; a raw deflate stream is tried on the first failure.
        self._z = zlib.decompressobj(zlib.MAX_WBITS | 32)
        self._started = False

    def feed(self, data: bytes, room: int) -> list[bytes]:
        """The inflated bytes of ``data``; never more than ``room`` + 1 of them."""
        out: list[bytes] = []
        while True:
            # In steps, so that a chunk that inflates a thousandfold costs no
            # more than the limit plus one step.
            step = min(room + 1, _STEP)
            try:
                piece = self._z.decompress(data, step)
            except zlib.error:
                if self._started or self.encoding != "deflate":
                    raise
                self._z = zlib.decompressobj(-zlib.MAX_WBITS)
                piece = self._z.decompress(data, step)
            self._started = True
            out.append(piece)
            room -= len(piece)
            if room < 0 or self._z.eof:
                break
            data = self._z.unconsumed_tail
            if not data and len(piece) < step:
                break  # all taken in, and nothing held back for want of room
        return out

    def finish(self) -> bytes:
        if self._started and not self._z.eof:
            raise zlib.error("the compressed stream ends early")
        return self._z.flush()


class BodyReader:
    """Collects the chunks of one body as received, with a running count.

    ``feed`` each chunk, then ``finish`` for the whole body: joined once,
    inflated when the answer is compressed. ``deadline`` is a monotonic time.
    """

    def __init__(self, content_encoding: str | None, limit: int, deadline: float) -> None:
        encoding = (content_encoding or "identity").strip().lower()
        if encoding == "x-gzip":
            encoding = "gzip"
        if encoding not in ("identity", "gzip", "deflate"):
            raise TransportError(
                f"the answer is in an encoding the client does not read: {encoding[:40]!r}",
                sent=True,
            )
        self._inflater = _Inflater(encoding) if encoding != "identity" else None
        self._limit = limit
        self._deadline = deadline
        self._chunks: list[bytes] = []
        self._wire = 0
        self._size = 0

    def _too_large(self) -> ResponseTooLargeError:
        return _too_large(self._limit)

    def feed(self, chunk: bytes) -> None:
        self._wire += len(chunk)
        if self._wire > self._limit:
            raise self._too_large()
        if self._inflater is None:
            self._chunks.append(chunk)
            self._size = self._wire
        else:
            try:
                pieces = self._inflater.feed(chunk, self._limit - self._size)
            except zlib.error as exc:
                raise self._bad_encoding(exc) from None
            self._chunks += pieces
            self._size += sum(map(len, pieces))
            if self._size > self._limit:
                raise self._too_large()
        if time.monotonic() > self._deadline:
            raise _late()

    def _bad_encoding(self, exc: zlib.error) -> TransportError:
        assert self._inflater is not None
        return TransportError(
            f"the answer is marked {self._inflater.encoding} but does not inflate: {exc}",
            sent=True,
        )

    def finish(self) -> bytes:
        if self._inflater is not None:
            try:
                tail = self._inflater.finish()
            except zlib.error as exc:
                raise self._bad_encoding(exc) from None
            if tail:
                self._add(tail)
        body = b"".join(self._chunks)
        self._chunks = []
        return body

    def _add(self, piece: bytes) -> None:
        self._size += len(piece)
        if self._size > self._limit:
            raise self._too_large()
        self._chunks.append(piece)


def _held(resp: httpx.Response, limit: int, deadline: float) -> bytes | None:
    """The body of an answer that httpx holds whole already, under the same limit.

    The first of the client's response hooks (:mod:`quillon.accounts._cap`)
    may have read it, and kept it in the response. A transport may hand over
    a response made with its content (as ``httpx.MockTransport`` does), which
    httpx reads and decodes at once; its stream is then spent. None for an
    answer still to be streamed.
    """
    taken = resp.extensions.get(_TAKEN)
    if taken is not None:
        return cast(bytes, taken)
    if not resp.is_stream_consumed:
        return None
    content = resp.content
    if len(content) > limit:
        raise _too_large(limit)
    if time.monotonic() > deadline:
        raise _late()
    return content


def read(resp: httpx.Response, limit: int, deadline: float) -> bytes:
    """The whole body of a streamed ``resp``, within ``limit`` and ``deadline``; closes it."""
    try:
        held = _held(resp, limit, deadline)
        if held is not None:
            return held
        reader = BodyReader(resp.headers.get("content-encoding"), limit, deadline)
        for chunk in resp.iter_raw():
            reader.feed(chunk)
        return reader.finish()
    finally:
        resp.close()


async def aread(resp: httpx.Response, limit: int, deadline: float) -> bytes:
    """:func:`read` for a response of an ``httpx.AsyncClient``."""
    try:
        held = _held(resp, limit, deadline)
        if held is not None:
            return held
        reader = BodyReader(resp.headers.get("content-encoding"), limit, deadline)
        async for chunk in resp.aiter_raw():
            reader.feed(chunk)
        return reader.finish()
    finally:
        await resp.aclose()


def charset(resp: httpx.Response) -> str | None:
    """The charset ``resp``'s Content-Type names, as ``resp.charset_encoding`` gives it.

    Most answers name none; for them the header's parameters are not parsed.
    """
    content_type = resp.headers.get("content-type")
    if content_type is None or "charset" not in content_type.lower():
        return None
    return resp.charset_encoding


def text(body: bytes, resp: httpx.Response) -> str:
    """``body`` decoded by the charset ``resp`` names (UTF-8 if none or unknown)."""
    name = resp.charset_encoding or "utf-8"
    try:
        codecs.lookup(name)
    except LookupError:
        name = "utf-8"
    return body.decode(name, "replace")
