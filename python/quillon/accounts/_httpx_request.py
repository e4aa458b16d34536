"""The httpx request of one attempt, put together from pieces kept between calls.

``httpx.Client.build_request`` parses the URL text, merges the client's
headers and cookies, then adds Host and Content-Length by looking each header
up again, on every call; that costs more than the rest of a small call. For
the same URL, client headers and engine headers the outcome is the same each
time, so the parsed URL and the headers up to the body's length (Host
included) are kept here, keyed by what they were made from, and each request
is made from them with its body as a ready stream: exactly the request
``build_request`` would make. A client with default query parameters or
headers that say where the body ends goes the general way, as does a POST
without a body.
"""

from __future__ import annotations

from collections.abc import Mapping

import httpx

_MOST_URLS = 256

# Client headers after which httpx settles the body's headers otherwise.
_BODY_HEADERS = frozenset({b"content-length", b"transfer-encoding"})


class _Kept:
    """The headers of a request up to its body's length, and their encoding."""

    __slots__ = ("ascii", "headers", "key")

    def __init__(self, key: object, headers: httpx.Headers | None) -> None:
        self.key = key
        self.headers = headers
        # The encoding httpx would settle on for the request's headers, when
        # nothing but ASCII is added: set at once instead of found again.
        self.ascii = headers is not None and headers.encoding == "ascii"


class RequestMaker:
    """Makes the httpx requests of one client (safe to share between threads)."""

    def __init__(self) -> None:
        self._urls: dict[str, httpx.URL] = {}
        # Replaced as one value, so that threads sharing the client never mix
        # the headers of one key with another.
        self._kept = _Kept((), None)

    def _url(self, text: str) -> httpx.URL:
        url = self._urls.get(text)
        if url is None:
            url = httpx.URL(text)
            if len(self._urls) >= _MOST_URLS:
                self._urls.clear()
            self._urls[text] = url
        return url

    def _headers(
        self, http: httpx.Client | httpx.AsyncClient, url: httpx.URL, headers: Mapping[str, str]
    ) -> _Kept:
        client = http.headers
        key = (url.netloc, tuple(client.raw), tuple(headers.items()))
        kept = self._kept
        if kept.key == key:
            return kept
        merged = httpx.Headers(client)
        merged.update(headers)
        names = {name.lower() for name, _ in merged.raw}
        if names & _BODY_HEADERS:
            kept = _Kept(key, None)
        else:
            raw = merged.raw
            if b"host" not in names:
                raw = [(b"Host", url.netloc), *raw]
            kept = _Kept(key, httpx.Headers(raw))
        self._kept = kept
        return kept

    def make(
        self,
        http: httpx.Client | httpx.AsyncClient,
        method: str,
        url: str,
        headers: Mapping[str, str],
        content: bytes | None,
        timeout: Mapping[str, float | None],
    ) -> httpx.Request:
        """What ``http.build_request(method, url, headers=..., content=..., timeout=...)``
        gives; ``timeout`` in the form of ``httpx.Timeout.as_dict()``."""
        parsed = self._url(url)
        kept = None
        if not (http.params or parsed.is_relative_url or not parsed.host):
            kept = self._headers(http, parsed, headers)
        if kept is None or kept.headers is None or (not content and method.upper() in _BODIED):
            return http.build_request(
                method, url, headers=headers, content=content, timeout=httpx.Timeout(**timeout)
            )
        cookies = http.cookies
        request = httpx.Request(
            method,
            parsed,
            headers=kept.headers,
            cookies=cookies if cookies else None,
            stream=httpx.ByteStream(content or b""),
            extensions={"timeout": dict(timeout)},
        )
        made = request.headers
        if content:
            made["Content-Length"] = str(len(content))
        if kept.ascii and not cookies:
            made.encoding = "ascii"
        request.read()
        return request


# Methods for which httpx adds "Content-Length: 0" when there is no body.
_BODIED = frozenset({"POST", "PUT", "PATCH"})
