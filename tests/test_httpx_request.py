"""Requests made from kept pieces against httpx's own ``build_request``."""

from __future__ import annotations

import httpx
import pytest

from quillon.accounts._httpx_request import RequestMaker

URL = "https://gw.test/root/cuentas-comercios/v1/cuentas/debitos"
HEADERS = {"Authorization": "Bearer t", "Content-Type": "application/json", "client_id": "c"}


@pytest.mark.parametrize(
    "options",
    [
        {},
        {"headers": {"User-Agent": "mine", "X-Trace": "1", "client_id": "lent"}},
        {"cookies": {"session": "s1"}},
        {"params": {"debug": "1"}},
        {"base_url": "https://other.test/base"},
        {"headers": {"Host": "front.test", "Accept-Encoding": "br"}},
        {"headers": {"Content-Length": "3"}},
        {"headers": {"X-Name": "café".encode()}},
    ],
)
@pytest.mark.parametrize(
    ("method", "content"),
    [
        ("POST", b'{"nit":"1"}'),
        ("GET", None),
        ("POST", None),
        ("GET", b"x"),
        ("POST", "é".encode()),
    ],
)
def test_the_same_request_as_build_request(
    options: dict[str, object], method: str, content: bytes | None
) -> None:
    http = httpx.Client(**options)  # type: ignore[arg-type]
    maker = RequestMaker()
    timeout = httpx.Timeout(3.0, connect=1.0)
    for headers in (HEADERS, {**HEADERS, "Authorization": "Bearer new"}, HEADERS):
        made = maker.make(http, method, URL, headers, content, timeout.as_dict())
        expected = http.build_request(
            method, URL, headers=headers, content=content, timeout=timeout
        )
        assert made.method == expected.method
        assert made.url == expected.url
        assert made.headers.raw == expected.headers.raw
        assert made.headers.encoding == httpx.Headers(made.headers.raw).encoding
        assert made.read() == expected.read()
        assert made.extensions == expected.extensions
    http.close()
