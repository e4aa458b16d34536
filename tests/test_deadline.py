"""The call's deadline and size limit against a server that drips its answer and
against what a lent httpx client brings along: connections pooled before the
call, response hooks that read the body, and a token endpoint that stalls while
other calls wait. Raw-socket servers of the tests' own on loopback."""

from __future__ import annotations

import asyncio
import socket
import threading
import time
import tracemalloc
import zlib
from collections.abc import Callable
from typing import Any

import httpx
import pytest

from quillon.accounts import (
    AccessToken,
    AsyncClient,
    Client,
    QuillonError,
    ResponseTooLargeError,
    RetryPolicy,
    TransportError,
    _deadline,
)
from rawserver import RawServer, read_request, response

NIT = "1234567"
TOKEN_ANSWER = b'{"access_token":"tok-abcdefghijkl","token_type":"Bearer","expires_in":3600}'


def gateway(fault: str) -> Callable[[socket.socket, bytes], None]:
    """Answers /ping at once and keeps the connection; then holds the next request."""

    def answer(conn: socket.socket, request: bytes) -> None:
        while b"/ping" in request.split(b"\r\n", 1)[0]:
            conn.sendall(response(200, b"pong"))
            request = read_request(conn)
            if not request:
                return
        if fault != "100 Continue for ever":
            length = b"Content-Length: 100000\r\n\r\n" if fault == "body dripped" else b""
            conn.sendall(b"HTTP/1.1 200 OK\r\n" + length + b"X-Drip: ")
            drip = b"a"
        else:
            drip = b"HTTP/1.1 100 Continue\r\n\r\n"
        for _step in range(80):  # 20 s at most; ends sooner once the client hangs up
            conn.sendall(drip)
            time.sleep(0.25)

    return answer


class Wrapper(httpx.BaseTransport):
    """A transport around httpx's own, as callers write for logging or metrics."""

    def __init__(self) -> None:
        self.inner = httpx.HTTPTransport()

    def handle_request(self, request: httpx.Request) -> httpx.Response:
        return self.inner.handle_request(request)

    def close(self) -> None:
        self.inner.close()


def options(url: str, max_elapsed: float) -> dict[str, Any]:
    return dict(
        client_id="cid",
        token=AccessToken("tok-abcdefghijkl"),
        base_url=url,
        retry=RetryPolicy(max_attempts=3, initial_backoff=0.01, max_elapsed=max_elapsed),
        timeout=1.0,
    )


KINDS = [
    "sync, own pool",
    "sync, pooled before",
    "sync, wrapped transport",
    "async",
    "async, own pool",
]
CASES = [("headers dripped", k) for k in KINDS] + [
    *(("100 Continue for ever", k) for k in KINDS[1:4]),
    *(("body dripped", k) for k in ("sync, own pool", "sync, pooled before", "async, own")),
]


@pytest.mark.parametrize(("fault", "kind"), CASES)
def test_no_connection_escapes_the_deadline(fault: str, kind: str) -> None:
    # Each read gets a byte within the 1 s timeout; max_elapsed ends the call all the same.
    with RawServer(gateway(fault), lifetime=25.0) as server:
        lent = "own" not in kind

        def call() -> None:
            transport = Wrapper() if "wrapped" in kind else None
            with httpx.Client(transport=transport) as http:
                http.get(server.url + "/ping").raise_for_status()
                with Client(**options(server.url, 2.0), http_client=http if lent else None) as c:
                    c.list_accounts(nit=NIT)

        async def call_async() -> None:
            async with httpx.AsyncClient() as http:
                (await http.get(server.url + "/ping")).raise_for_status()
                settings = options(server.url, 2.0)
                async with AsyncClient(**settings, http_client=http if lent else None) as c:
                    await c.list_accounts(nit=NIT)

        started = time.monotonic()
        with pytest.raises(TransportError) as raised:
            asyncio.run(call_async()) if "async" in kind else call()
        took = time.monotonic() - started
    assert "deadline" in raised.value.message
    assert took < 5.0, took  # the server would hold the call for 20 s


def token_endpoint_that_stalls(conn: socket.socket, request: bytes) -> None:
    time.sleep(8.0)  # longer than the waiting call's deadline
    conn.sendall(response(200, TOKEN_ANSWER, "Content-Type: application/json"))


def holding(client: Client) -> None:
    with pytest.raises(QuillonError):
        client.list_accounts(nit=NIT)


@pytest.mark.parametrize("kind", ["sync", "async"])
def test_a_call_waiting_for_another_calls_token_keeps_its_own_deadline(kind: str) -> None:
    with RawServer(token_endpoint_that_stalls, lifetime=12.0) as server:
        settings: dict[str, Any] = dict(
            client_id="cid", client_secret="s3cret-value", base_url=server.url, timeout=10.0
        )
        patient = RetryPolicy(max_attempts=1, max_elapsed=10.0)
        hasty = RetryPolicy(max_attempts=1, max_elapsed=2.0)

        def fetching_started() -> None:
            until = time.monotonic() + 5
            while not server.requests and time.monotonic() < until:
                time.sleep(0.01)

        def call() -> float:
            with Client(**settings, retry=patient) as client:
                first = threading.Thread(target=holding, args=(client,), daemon=True)
                first.start()
                fetching_started()
                started = time.monotonic()
                with pytest.raises(TransportError, match="no access token within"):
                    client.with_options(retry=hasty).list_accounts(nit=NIT)
                return time.monotonic() - started

        async def call_async() -> float:
            async with AsyncClient(**settings, retry=patient) as client:
                first = asyncio.create_task(client.list_accounts(nit=NIT))
                await asyncio.to_thread(fetching_started)
                started = time.monotonic()
                with pytest.raises(TransportError, match="no access token within"):
                    await client.with_options(retry=hasty).list_accounts(nit=NIT)
                took = time.monotonic() - started
                first.cancel()
                return took

        took = asyncio.run(call_async()) if kind == "async" else call()
    assert took < 5.0, took  # the other call holds the token request for 8 s


def gzip_bomb(inflated: int) -> bytes:
    """A gzip stream of ``inflated`` zero bytes."""
    z = zlib.compressobj(9, zlib.DEFLATED, 31)
    block = bytes(1 << 20)
    return b"".join(z.compress(block) for _ in range(inflated >> 20)) + z.flush()


BOMB = gzip_bomb(64 << 20)
LIMIT = 1 << 20


def bomb(conn: socket.socket, _: bytes) -> None:
    conn.sendall(response(200, BOMB, "Content-Encoding: gzip", "Content-Type: application/json"))


def reading_hook(response: httpx.Response) -> None:
    response.read()


async def reading_hook_async(response: httpx.Response) -> None:
    await response.aread()


@pytest.mark.parametrize("kind", ["sync", "async", "token endpoint"])
def test_a_lent_clients_hook_that_reads_the_body_cannot_pass_the_limit(kind: str) -> None:
    with RawServer(bomb, connections=4) as server:
        settings: dict[str, Any] = dict(
            client_id="cid", base_url=server.url, retry=RetryPolicy(max_attempts=1), timeout=5.0
        )

        def call() -> None:
            with httpx.Client(event_hooks={"response": [reading_hook]}) as http:
                if kind == "token endpoint":  # the token's own limit, 1 MiB
                    settings["client_secret"] = "s3cret-value"
                else:
                    settings.update(token=AccessToken("tok-abcdefghijkl"), max_response_bytes=LIMIT)
                with Client(**settings, http_client=http) as client:
                    client.list_accounts(nit=NIT)

        async def call_async() -> None:
            hooks = {"response": [reading_hook_async]}
            async with httpx.AsyncClient(event_hooks=hooks) as http:
                client = AsyncClient(
                    **settings,
                    token=AccessToken("tok-abcdefghijkl"),
                    http_client=http,
                    max_response_bytes=LIMIT,
                )
                await client.list_accounts(nit=NIT)

        tracemalloc.start()
        try:
            with pytest.raises(ResponseTooLargeError) as raised:
                asyncio.run(call_async()) if kind == "async" else call()
            peak = tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
    assert raised.value.limit == LIMIT
    assert peak < 16 * LIMIT, peak  # 64 MiB once inflated


def test_deadline_scopes_on_one_loop_expire_each_at_its_own_time() -> None:
    async def wait(seconds: float, sleep: float) -> str:
        try:
            async with _deadline.within(time.monotonic() + seconds):
                await asyncio.sleep(sleep)
        except TimeoutError:
            await asyncio.sleep(0.01)  # no cancellation is left pending
            return "timed out"
        await asyncio.sleep(0.01)
        return "done"

    async def main() -> list[str]:
        return list(
            await asyncio.gather(
                wait(0.3, 5), wait(5, 0.6), wait(0.1, 5), wait(5, 0.01), wait(-1, 5)
            )
        )

    assert asyncio.run(main()) == ["timed out", "done", "timed out", "done", "timed out"]
