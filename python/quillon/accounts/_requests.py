"""The httpx request of one attempt, put together from pieces kept between calls.

``httpx.Client.build_request`` parses the URL text and merges the client's
headers and cookies on every call, which costs more than the rest of a small
call. The result is the same request each time for the same URL, client
headers and engine headers, so the parsed URL and the merged headers are kept
here (keyed by what they were made from) and the request is made directly,
exactly as ``build_request`` would make it. A client with default query
parameters goes the general way.
"""

from __future__ import annotations

from collections.abc import Mapping

import httpx

_MOST_URLS = 256


class RequestMaker:
    """Makes the httpx requests of one client (safe to share between threads)."""

    def __init__(self) -> None:
        self._urls: dict[str, httpx.URL] = {}
        # (what the headers were merged from, the merged headers), replaced
        # as one value so that threads sharing the client never mix them.
        self._headers: tuple[object, httpx.Headers] = ((), httpx.Headers())

    def _url(self, text: str) -> httpx.URL:
        url = self._urls.get(text)
        if url is None:
            url = httpx.URL(text)
            if len(self._urls) >= _MOST_URLS:
                self._urls.clear()
            self._urls[text] = url
        return url

    def _merged(self, http: httpx.Client | httpx.AsyncClient,
                headers: Mapping[str, str]) -> httpx.Headers:
        key = (tuple(http.headers.raw), tuple(headers.items()))
        made_from, merged = self._headers
        if made_from != key:
            merged = httpx.Headers(http.headers)
            merged.update(headers)
            self._headers = (key, merged)
        return merged  # copied by the request

    def make(
        self,
        http: httpx.Client | httpx.AsyncClient,
        method: str,
        url: str,
        headers: Mapping[str, str],
        content: bytes | None,
        timeout: httpx.Timeout,
    ) -> httpx.Request:
        """What ``http.build_request(method, url, headers=..., content=..., timeout=...)`` gives."""
        parsed = self._url(url)
        if http.params or parsed.is_relative_url:
            return http.build_request(method, url, headers=headers, content=content,
                                      timeout=timeout)
        cookies = http.cookies
        return httpx.Request(
            method,
            parsed,
            content=content,
            headers=self._merged(http, headers),
            cookies=cookies if cookies else None,
            extensions={"timeout": timeout.as_dict()},
        )
