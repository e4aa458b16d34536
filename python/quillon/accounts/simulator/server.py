"""The simulated gateway's HTTP serving: the server thread, tokens, the request log."""

from __future__ import annotations

import base64
import binascii
import collections
import itertools
import json
import logging
import secrets
import threading
import time
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Any
from urllib.parse import parse_qs, unquote_plus

from quillon.accounts._logging import mask_headers
from quillon.accounts.config import AccessToken
from quillon.accounts.simulator.faults import FaultScript
from quillon.accounts.simulator.state import GatewayState, Rejection, bad_request

# Every answer carries an identifier of its request, as the gateway's proxies add one.
_REQUEST_IDS = itertools.count(1)

__all__ = ["API_PATH", "TOKEN_PATH", "GatewaySimulator", "RecordedRequest"]

API_PATH = "/cuentas-comercios/v1/cuentas"
"""The path of the accounts API under the base URL."""
TOKEN_PATH = "/oauth/token"
"""The path of the token endpoint under the base URL."""

log = logging.getLogger("quillon.accounts.simulator")
"""The simulator's logger."""

DEFAULT_MAX_BODY = 1 << 20
"""Request bodies larger than this are refused with 413 (the largest real request, ten balances or
a batch of new accounts, is a few kilobytes).
"""
DEFAULT_LOG_SIZE = 1000
"""How many requests the log keeps, the oldest dropped first."""
BODY_TIMEOUT = 2.0
"""Once the headers are in, each piece of the body must arrive within this many seconds: a body
shorter than its Content-Length is answered 400 then.
"""
LISTEN_BACKLOG = 1024
"""Connections the kernel completes before the server accepts them: a load test's burst of hundreds
must not be dropped and left to retransmission timers.
"""


@dataclass(frozen=True)
class RecordedRequest:
    """A request the simulator received (credentials left out)."""

    method: str
    """The HTTP method."""
    path: str
    """The path without its query, the simulator's prefix included."""
    body: str
    """The body as text; empty for a request with no valid token."""
    client_id: str | None
    """The "client_id" header, if sent."""
    authorized: bool
    """Whether the request carried a token the simulator accepts."""
    at: float
    """When it arrived (``time.time``)."""
    headers: Mapping[str, str] = field(default_factory=dict, repr=False)
    """The headers, names in lower case, credential headers masked."""


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuillonGatewaySimulator/1.0"
    timeout = 10  # idle keep-alive connections end after this many seconds
    # Headers and body go out in two writes; with Nagle's algorithm the second
    # waits for the client's delayed ACK (about 40 ms on Linux) on a kept-alive
    # connection.
    disable_nagle_algorithm = True
    server: _Server

    def do_GET(self) -> None:
        self.server.sim._handle(self)

    do_POST = do_PATCH = do_PUT = do_DELETE = do_GET

    def log_message(self, format: str, *args: Any) -> None:
        log.debug("%s %s", self.address_string(), format % args)


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = LISTEN_BACKLOG

    def __init__(self, address: tuple[str, int], sim: GatewaySimulator) -> None:
        self.sim = sim
        super().__init__(address, _Handler)

    def handle_error(self, request: Any, client_address: Any) -> None:
        log.debug("connection from %s ended abruptly", client_address, exc_info=True)


class GatewaySimulator(FaultScript):
    """The simulated gateway. Start it with ``start()`` or a ``with`` block.

    ``url`` is the base URL to give the client (``base_url=sim.url``). Its
    token endpoint (``token_url``) grants tokens to the client-credentials
    grant (see the members below).
    ``prefix`` mimics an environment's path segment (for example "/sandbox").
    Request bodies above ``max_body`` bytes are refused with 413; ``requests``
    holds the last ``log_size`` requests.
    """

    def __init__(
        self,
        host: str = "127.0.0.1",
        port: int = 0,
        *,
        prefix: str = "",
        access_token: str | None = None,
        max_body: int = DEFAULT_MAX_BODY,
        log_size: int = DEFAULT_LOG_SIZE,
        client_secret: str | None = None,
        token_ttl: float = 3600.0,
    ) -> None:
        super().__init__()
        self.oauth_client_id = "sim-client"
        """The client id the token endpoint accepts in its HTTP Basic credentials."""
        self.client_secret = client_secret or "sim-secret-" + secrets.token_hex(8)
        """The client secret the token endpoint accepts (``basic_token`` gives the two in base64).
        """
        self.token_ttl = token_ttl
        """The lifetime of the tokens the token endpoint grants, in seconds."""
        self._first_settings = (self.client_secret, token_ttl)
        # Counts resets: a request that began before one (held up by a delay,
        # say) is answered without touching the state that followed.
        self._generation = 0
        self.token_delay = 0.0
        """Seconds the token endpoint waits before answering."""
        self.tokens_granted = 0
        """How many tokens the token endpoint has granted."""
        self._address = (host, port)
        self._prefix = "/" + prefix.strip("/") if prefix.strip("/") else ""
        self._max_body = max_body
        self._lock = threading.RLock()
        self._stopping = threading.Event()
        self._server: _Server | None = None
        self._thread: threading.Thread | None = None
        self._state = GatewayState()
        self._tokens: dict[str, float] = {}
        self._issued = itertools.count(1)
        self._log: collections.deque[RecordedRequest] = collections.deque(maxlen=log_size)
        value = access_token or "sim-" + secrets.token_hex(12)
        self._tokens[value] = float(2**62)
        self.token = AccessToken(access_token=value, token_type="Bearer", expires_at=2**62)
        """An access token the simulator accepts, valid for good."""

    def reset(self, seed: int | None = None) -> None:
        """Back to the first state: the fixed accounts and statuses, only ``token``
        accepted, no scripted failure, an empty request log, no token granted and
        none delayed, the first ``client_secret`` and ``token_ttl``.
        ``seed`` draws other made-up movements (None: the usual ones).

        A request still under way (held up by a scripted delay, say) is then
        answered with 503 or dropped, and changes nothing."""
        self.clear()
        with self._lock:
            self._generation += 1
            self.client_secret, self.token_ttl = self._first_settings
            self._state = GatewayState(seed)
            value = self.token.access_token
            self._tokens = {value: float(2**62)}
            self.tokens_granted = 0
            self.token_delay = 0.0

    # Lifecycle.

    def start(self) -> GatewaySimulator:
        """Starts serving on a thread of its own (nothing happens when it already serves)."""
        if self._server is not None:
            return self
        self._stopping.clear()
        self._server = _Server(self._address, self)
        self._thread = threading.Thread(
            target=self._server.serve_forever,
            kwargs={"poll_interval": 0.05},
            name="quillon-gateway-simulator",
            daemon=True,
        )
        self._thread.start()
        log.info("gateway simulator listening on %s", self.url)
        return self

    def stop(self) -> None:
        """Stops serving and closes the listening socket."""
        server, thread = self._server, self._thread
        if server is None:
            return
        self._stopping.set()
        server.shutdown()
        server.server_close()
        if thread is not None:
            thread.join(timeout=5)
        self._server = None
        self._thread = None

    def __enter__(self) -> GatewaySimulator:
        return self.start()

    def __exit__(self, *exc_info: object) -> None:
        self.stop()

    @property
    def port(self) -> int:
        """The port it listens on (the free port taken when 0 was asked for)."""
        if self._server is None:
            raise RuntimeError("the simulator is not running")
        return int(self._server.server_address[1])

    @property
    def url(self) -> str:
        """The base URL to give a client: ``http://host:port`` and the prefix."""
        host = self._address[0]
        return f"http://{host}:{self.port}{self._prefix}"

    @property
    def token_url(self) -> str:
        """The address of the token endpoint."""
        return f"http://{self._address[0]}:{self.port}{self._prefix}{TOKEN_PATH}"

    @property
    def basic_token(self) -> str:
        """The HTTP Basic credentials of the token endpoint, as the base64 text."""
        pair = f"{self.oauth_client_id}:{self.client_secret}".encode()
        return base64.b64encode(pair).decode("ascii")

    @property
    def nit(self) -> str:
        """The NIT of the simulated merchant."""
        return self._state.nit

    def account_numbers(self) -> list[str]:
        """The numbers of every account the simulator holds, opened ones included."""
        with self._lock:
            return list(self._state.accounts)

    def account_status(self, number: str) -> str:
        """The gateway word of an account's status, as the simulator holds it."""
        with self._lock:
            return self._state.accounts[number].status

    # Tokens.

    def issue_token(self, ttl: float = 3600.0, *, value: str | None = None) -> AccessToken:
        """A new token that the simulator accepts for ``ttl`` seconds (``value``, if given)."""
        value = value or f"sim-{next(self._issued)}-{secrets.token_hex(8)}"
        expires = time.time() + ttl
        with self._lock:
            self._tokens[value] = expires
        return AccessToken(access_token=value, token_type="Bearer", expires_at=int(expires))

    def revoke(self, token: AccessToken | str) -> None:
        """Stops accepting ``token``: requests with it are refused with 401."""
        value = token.access_token if isinstance(token, AccessToken) else token
        with self._lock:
            self._tokens.pop(value, None)

    def _authorized(self, header: str | None) -> bool:
        if not header or not header.startswith("Bearer "):
            return False
        with self._lock:
            expires = self._tokens.get(header[len("Bearer ") :])
        return expires is not None and time.time() < expires

    # The request log.

    @property
    def requests(self) -> list[RecordedRequest]:
        """The logged requests, oldest first."""
        with self._lock:
            return list(self._log)

    def clear(self) -> None:
        """Forgets the scripted failures and the request log."""
        self.clear_faults()
        with self._lock:
            self._log.clear()

    def requests_to(self, suffix: str, method: str | None = None) -> list[RecordedRequest]:
        """The logged requests whose path ends with ``suffix`` (and with ``method``, if given)."""
        return [
            r
            for r in self.requests
            if r.path.rstrip("/").endswith(suffix.rstrip("/"))
            and (method is None or r.method == method)
        ]

    # Request handling.

    def _read_body(self, h: _Handler) -> bytes | None:
        """The request body, or None after answering a request whose body cannot be taken."""
        if "Transfer-Encoding" in h.headers:
            self._refuse(h, 411, "Se requiere Content-Length")
            return None
        text = (h.headers.get("Content-Length") or "0").strip()
        if not (text.isascii() and text.isdigit()) or len(text) > 18:
            self._refuse(h, 400, "Content-Length inválido")
            return None
        length = int(text)
        if length > self._max_body:
            self._refuse(h, 413, f"El cuerpo supera {self._max_body} bytes")
            return None
        if not length:
            return b""
        h.connection.settimeout(BODY_TIMEOUT)
        try:
            data = h.rfile.read(length)
        except OSError:  # a timeout among them
            data = b""
        h.connection.settimeout(h.timeout)
        if len(data) < length:
            self._refuse(h, 400, "El cuerpo es más corto que su Content-Length")
            return None
        return data

    def _refuse(self, h: _Handler, status: int, message: str) -> None:
        # The rest of the request is not read, so the connection cannot carry another.
        h.close_connection = True
        self._send_json(h, status, Rejection(status, "01", f"HTTP-{status}", [message]).body())

    def _handle(self, h: _Handler) -> None:
        try:
            self._serve(h)
        except Exception:
            log.exception("simulator failed on %s %s", h.command, h.path)
            self._refuse(h, 500, "Error interno del simulador")

    def _serve(self, h: _Handler) -> None:
        generation = self._generation
        path = h.path.split("?", 1)[0]
        raw = self._read_body(h)
        if raw is None:
            return
        if path == self._prefix + TOKEN_PATH:
            self._grant(h, raw, generation)
            return
        authorized = self._authorized(h.headers.get("Authorization"))
        with self._lock:
            if generation != self._generation:
                h.close_connection = True
                return
            self._log.append(
                RecordedRequest(
                    method=h.command,
                    path=path,
                    body=raw.decode("utf-8", "replace") if authorized else "",
                    client_id=h.headers.get("client_id"),
                    authorized=authorized,
                    at=time.time(),
                    headers=mask_headers({k.lower(): v for k, v in h.headers.items()}),
                )
            )
        if not authorized:
            self._send_json(
                h,
                401,
                {
                    "error": "invalid_token",
                    "error_description": "El token de acceso no es válido o ha expirado",
                },
            )
            return
        fault = self.take_fault(path)
        if fault is not None:
            if fault.delay and self._stopping.wait(fault.delay):
                return
            if generation != self._generation:  # reset while it waited
                h.close_connection = True
                return
            if fault.drop:
                h.close_connection = True
                return
            if fault.status is not None:
                headers = (
                    {"Retry-After": fault.retry_after} if fault.retry_after is not None else {}
                )
                self._send(h, fault.status, fault.body or "", headers)
                return
        if not h.headers.get("client_id"):
            self._send_json(
                h, 403, {"error": "invalid_client", "message": "Falta el encabezado client_id"}
            )
            return
        try:
            data = self._route(h.command, path, raw, generation)
        except Rejection as rej:
            self._send_json(h, rej.status, rej.body())
            return
        self._send_json(h, 200, {"code": "00", "message": "Operación exitosa", "data": data})

    def _grant(self, h: _Handler, raw: bytes, generation: int) -> None:
        """The token endpoint: the client-credentials grant, client authenticated by Basic."""
        if h.command != "POST":
            self._send_json(h, 405, {"error": "invalid_request"})
            return
        form = parse_qs(raw.decode("utf-8", "replace"))
        if form.get("grant_type") != ["client_credentials"]:
            self._send_json(h, 400, {"error": "unsupported_grant_type"})
            return
        if not self._basic_ok(h.headers.get("Authorization")):
            self._send_json(
                h,
                401,
                {"error": "invalid_client", "error_description": "Credenciales inválidas"},
            )
            return
        if self.token_delay and self._stopping.wait(self.token_delay):
            return
        with self._lock:
            if generation != self._generation:  # reset while it waited
                h.close_connection = True
                return
            self.tokens_granted += 1
            token = self.issue_token(self.token_ttl)
        answer: dict[str, Any] = {
            "access_token": token.access_token,
            "token_type": "Bearer",
            "expires_in": int(self.token_ttl),
        }
        if form.get("scope"):
            answer["scope"] = form["scope"][0]
        self._send_json(h, 200, answer)

    def _basic_ok(self, header: str | None) -> bool:
        if not header or not header.startswith("Basic "):
            return False
        try:
            pair = base64.b64decode(header[len("Basic ") :], validate=True).decode("utf-8")
        except (binascii.Error, UnicodeDecodeError):
            return False
        name, _, secret = pair.partition(":")
        return (unquote_plus(name), unquote_plus(secret)) == (
            self.oauth_client_id,
            self.client_secret,
        )

    def _route(self, method: str, path: str, raw: bytes, generation: int) -> Any:
        base = self._prefix + API_PATH
        if not (path == base or path.startswith(base + "/")):
            raise Rejection(404, "404", "NF-404", [f"Recurso {path} no encontrado"])
        segments = [s for s in path[len(base) :].split("/") if s]

        def body() -> dict[str, Any]:
            try:
                obj = json.loads(raw.decode("utf-8"))
            except (UnicodeDecodeError, ValueError, RecursionError):
                raise bad_request("El cuerpo de la solicitud no es JSON válido") from None
            if not isinstance(obj, dict):
                raise bad_request("El cuerpo de la solicitud debe ser un objeto JSON")
            return obj

        with self._lock:
            if generation != self._generation:  # the simulator was reset meanwhile
                raise Rejection(503, "01", "SIM-RESET", ["El simulador se reinició"])
            return self._state.answer(method, segments, body)

    @staticmethod
    def _send(
        h: _Handler,
        status: int,
        text: str,
        headers: dict[str, str] | None = None,
        content_type: str = "text/plain; charset=utf-8",
    ) -> None:
        data = text.encode("utf-8")
        if text.lstrip().startswith(("{", "[")):
            content_type = "application/json; charset=utf-8"
        try:
            h.send_response(status)
            h.send_header("Content-Type", content_type)
            h.send_header("Content-Length", str(len(data)))
            if h.close_connection:
                h.send_header("Connection", "close")
            headers = headers or {}
            if not any(name.lower() == "x-request-id" for name in headers):
                h.send_header("X-Request-Id", f"sim-{next(_REQUEST_IDS)}")
            for name, value in headers.items():
                h.send_header(name, value)
            h.end_headers()
            h.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError):
            h.close_connection = True

    def _send_json(self, h: _Handler, status: int, obj: Any) -> None:
        self._send(
            h,
            status,
            json.dumps(obj, ensure_ascii=False),
            content_type="application/json; charset=utf-8",
        )

    # Running from the command line.

    def serve_until_interrupted(self, announce: Callable[[str], None] = print) -> None:
        """Runs until Ctrl-C, telling where it listens and which token it takes."""
        self.start()
        announce(f"gateway simulator listening on {self.url}")
        announce("point the command line at it with:")
        announce(f"  export QUILLON_BASE_URL={self.url}")
        announce(f"  export QUILLON_ACCESS_TOKEN={self.token.access_token}")
        announce("  export QUILLON_CLIENT_ID=demo")
        announce(f"merchant nit {self.nit}; accounts {', '.join(self.account_numbers())}")
        try:
            while True:
                time.sleep(3600)
        except KeyboardInterrupt:
            pass
        finally:
            self.stop()
