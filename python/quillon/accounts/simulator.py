"""A local stand-in for the merchant-accounts gateway, for demos and tests.

It is a real HTTP server on loopback that serves the eight endpoints with the
gateway's envelope ({"code": "00", "data": ...}) and Spanish records, keeps
its state (opened accounts are listed, status changes stick), checks the
bearer token, and answers bad input with rejections by code. It can be told
to fail on purpose::

    with GatewaySimulator() as sim:
        client = Client(client_id="demo", token=sim.token, base_url=sim.url)
        sim.fail_next(status=503, retry_after=1, count=2)
        client.list_accounts(nit=sim.nit)     # retried twice, then answered

Its data are fixed: merchant nit "1234567" with two establishments (15 and
16) and four accounts; movements are made up for any day from a seed, so the
same question always gets the same answer.
"""

from __future__ import annotations

import datetime as dt
import itertools
import json
import logging
import random
import re
import secrets
import threading
import time
from collections.abc import Callable, Iterator
from dataclasses import dataclass, field
from decimal import Decimal
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Any

from quillon.accounts.config import AccessToken

__all__ = ["API_PATH", "Fault", "GatewaySimulator", "RecordedRequest"]

API_PATH = "/cuentas-comercios/v1/cuentas"

log = logging.getLogger("quillon.accounts.simulator")

STATUS_WORDS = ("ACTIVA", "BLOQUEADA", "SUSPENDIDA", "CERRADA")


class _Rejection(Exception):
    """A gateway refusal: HTTP status, envelope code, error code and messages."""

    def __init__(self, status: int, code: str, error_code: str, messages: list[str]) -> None:
        super().__init__("; ".join(messages))
        self.status = status
        self.code = code
        self.error_code = error_code
        self.messages = messages

    def body(self) -> dict[str, Any]:
        return {
            "code": self.code,
            "errorCode": self.error_code,
            "errorMessage": "; ".join(self.messages),
            "data": self.messages if len(self.messages) > 1 else None,
        }


def _bad_request(*messages: str) -> _Rejection:
    return _Rejection(400, "01", "VAL-001", list(messages))


def _not_found(message: str) -> _Rejection:
    return _Rejection(404, "04", "NF-004", [message])


@dataclass
class _Account:
    number: str
    alias: str
    category: str
    status: str
    establishment_id: int
    available: Decimal
    booked: Decimal
    held: Decimal
    currency_key: str = "moneda"
    has_history: bool = True


@dataclass
class _Establishment:
    id: int
    name: str
    numbers: list[str] = field(default_factory=list)


@dataclass(frozen=True)
class Fault:
    """One scripted misbehaviour, used by the next matching request.

    ``status`` with ``body`` (JSON text or not) replaces the answer; ``delay``
    seconds pass before answering (with ``status`` None the normal answer
    follows); ``drop`` closes the connection without any answer. ``path``,
    when given, limits the fault to requests whose path ends with it.
    """

    status: int | None = None
    body: str | None = None
    retry_after: str | None = None
    delay: float = 0.0
    drop: bool = False
    path: str | None = None

    def matches(self, path: str) -> bool:
        return self.path is None or path.rstrip("/").endswith(self.path.rstrip("/"))


@dataclass(frozen=True)
class RecordedRequest:
    """A request the simulator received (credentials left out)."""

    method: str
    path: str
    body: str
    client_id: str | None
    authorized: bool
    at: float


_FAULT_MESSAGES = {
    408: "Tiempo de espera agotado",
    429: "Demasiadas solicitudes, intente más tarde",
    500: "Error interno del servidor",
    502: "Puerta de enlace incorrecta",
    503: "Servicio no disponible temporalmente",
    504: "Tiempo de espera de la puerta de enlace agotado",
}

_COUNTERPARTS = [
    ("Distribuidora del Valle S.A.", "4512387", "1001", "Banco Unión"),
    ("María Fernanda Quispe", "6723451", "1014", "Banco Mercantil"),
    ("Importadora Illimani Ltda.", "3390012", "1003", "Banco Nacional"),
    ("Jorge Mamani Choque", "5128890", "1009", "Banco Económico"),
]
_MOVEMENT_STATES = ["PAGADO"] * 6 + ["PENDIENTE", "EN_PROCESO", "RECHAZADO", "REVERTIDO"]


def _number(value: Decimal) -> float:
    # Gateway amounts arrive either as JSON numbers or as strings. A float
    # written by json.dumps keeps the shortest text that reads back to it, so
    # amounts with two decimals come out digit for digit.
    return float(value)


def _days(first: dt.date, last: dt.date) -> Iterator[dt.date]:
    day = first
    while day <= last:
        yield day
        day += dt.timedelta(days=1)


def _parse_day(text: Any, name: str) -> dt.date:
    if not isinstance(text, str) or not re.fullmatch(r"\d{4}-\d{2}-\d{2}", text):
        raise _bad_request(f"{name}: formato de fecha inválido, se espera aaaa-mm-dd")
    try:
        return dt.date.fromisoformat(text)
    except ValueError:
        raise _bad_request(f"{name}: fecha inexistente") from None


def _digits(value: Any, name: str, minimum: int) -> str:
    if not isinstance(value, str) or not re.fullmatch(rf"[0-9]{{{minimum},20}}", value):
        raise _bad_request(f"{name}: debe tener entre {minimum} y 20 dígitos")
    return value


class _State:
    """The simulated gateway's data. Callers hold the simulator's lock."""

    def __init__(self) -> None:
        self.nit = "1234567"
        self.merchant_name = "Comercial Andina S.R.L."
        self.establishments: dict[int, _Establishment] = {}
        self.accounts: dict[str, _Account] = {}
        self._numbers = itertools.count(30000001)
        seed = [
            (
                15,
                "Sucursal Centro",
                "10000001",
                "Cuenta principal",
                "Ventas",
                "ACTIVA",
                "15230.75",
                "moneda",
            ),
            (
                15,
                "Sucursal Centro",
                "10000002",
                "Caja chica",
                "Gastos",
                "ACTIVA",
                "820.40",
                "tipoMoneda",
            ),
            (
                15,
                "Sucursal Centro",
                "10000003",
                "Ahorro",
                "Reservas",
                "BLOQUEADA",
                "50000.00",
                "moneda",
            ),
            (
                16,
                "Sucursal Norte",
                "20000001",
                "Ventas norte",
                "Ventas",
                "ACTIVA",
                "7310.10",
                "moneda",
            ),
        ]
        for est_id, est_name, number, alias, category, status, available, currency_key in seed:
            est = self.establishments.setdefault(est_id, _Establishment(est_id, est_name))
            est.numbers.append(number)
            avail = Decimal(available)
            held = Decimal("150.00") if status == "ACTIVA" else Decimal("0.00")
            self.accounts[number] = _Account(
                number=number,
                alias=alias,
                category=category,
                status=status,
                establishment_id=est_id,
                available=avail,
                booked=avail + held,
                held=held,
                currency_key=currency_key,
            )

    # Wire records.

    def wire_account(self, acc: _Account) -> dict[str, Any]:
        return {"numeroCuenta": acc.number, "alias": acc.alias, "estado": acc.status}

    def wire_balance(self, acc: _Account) -> dict[str, Any]:
        return {
            "numeroCuenta": acc.number,
            "estado": acc.status,
            acc.currency_key: "068",
            "saldoDisponible": _number(acc.available),
            "saldoContable": f"{acc.booked:.2f}",
            "saldoRetenido": f"{acc.held:.2f}",
            "fechaUltimoCredito": "2024-01-30" if acc.has_history else None,
            "fechaUltimoDebito": "2024-01-29" if acc.has_history else None,
        }

    def movements(
        self, acc: _Account, first: dt.date, last: dt.date, kind: str | None
    ) -> list[dict[str, Any]]:
        """Made-up movements of one account, the same for the same days every time."""
        out: list[dict[str, Any]] = []
        if not acc.has_history:
            return out
        for day in _days(first, last):
            # Every value is drawn whatever ``kind`` asks for, so that a movement
            # looks the same in the debits, the credits and the reconciliation.
            rng = random.Random(f"{acc.number}:{day.isoformat()}")
            for i in range(rng.choice((0, 1, 1, 2))):
                credit = rng.random() < 0.55
                amount = Decimal(rng.randint(500, 250000)) / 100
                fee = Decimal("0.00") if credit else (amount / 100).quantize(Decimal("0.01"))
                name, doc, bank_code, bank_name = rng.choice(_COUNTERPARTS)
                own = {
                    "cuenta": acc.number,
                    "ci": None,
                    "nombre": self.merchant_name,
                    "banco": "1001",
                    "nombreBanco": "Banco Unión",
                }
                other = {
                    "cuenta": str(rng.randint(10**9, 10**10 - 1)),
                    "ci": doc,
                    "nombre": name,
                    "banco": bank_code,
                    "nombreBanco": bank_name,
                }
                origin, dest = (other, own) if credit else (own, other)
                at = dt.datetime.combine(
                    day, dt.time(rng.randint(8, 19), rng.randint(0, 59), rng.randint(0, 59))
                )
                state = rng.choice(_MOVEMENT_STATES)
                reference = rng.random()
                serial = rng.randrange(16**8)
                if kind is not None and kind != ("C" if credit else "D"):
                    continue
                out.append(
                    {
                        "transactionId": f"TX{day:%Y%m%d}{serial:08X}",
                        "tipoOperacion": "CREDITO" if credit else "DEBITO",
                        "estado": state,
                        "mensaje": "Rechazado por el banco destino" if state == "RECHAZADO" else "",
                        "fechaHoraTransaccion": at.isoformat(),
                        # Amounts as numbers and as strings, as the gateway sends both.
                        "importe": _number(amount) if i % 2 == 0 else f"{amount:.2f}",
                        "importeComision": f"{fee:.2f}",
                        "importeTotal": f"{amount + fee:.2f}",
                        "moneda": "068",
                        "cuentaOrigen": origin["cuenta"],
                        "ciClienteOrigen": origin["ci"],
                        "nombreClienteOrigen": origin["nombre"],
                        "codigoBancoOrigen": origin["banco"],
                        "nombreBancoOrigen": origin["nombreBanco"],
                        "cuentaDestino": dest["cuenta"],
                        "ciClienteDestino": dest["ci"],
                        "nombreClienteDestino": dest["nombre"],
                        "codigoBancoDestino": dest["banco"],
                        "nombreBancoDestino": dest["nombreBanco"],
                        "numeroReferencia": "N/A"
                        if reference < 0.3
                        else str(int(reference * 10**6)).zfill(6),
                        "numOrdenAch": str(10**7 + serial % (9 * 10**7)),
                        "numOrdenDestinatario": None,
                    }
                )
        out.sort(key=lambda m: str(m["fechaHoraTransaccion"]))
        return out

    # Look-ups that refuse like the gateway.

    def merchant(self, nit: Any) -> str:
        _digits(nit, "nit", 7)
        if nit != self.nit:
            raise _not_found(f"Comercio {nit} no encontrado")
        return str(nit)

    def account(self, number: Any, name: str = "numeroCuenta") -> _Account:
        _digits(number, name, 8)
        acc = self.accounts.get(number)
        if acc is None:
            raise _not_found(f"Cuenta {number} no encontrada")
        return acc

    def range(self, body: dict[str, Any], limit: int) -> tuple[dt.date, dt.date]:
        first = _parse_day(body.get("fechaInicio"), "fechaInicio")
        last = _parse_day(body.get("fechaFin"), "fechaFin")
        if last < first:
            raise _bad_request("fechaFin: anterior a fechaInicio")
        if (last - first).days > limit:
            raise _bad_request(f"El rango de fechas no puede superar {limit} días")
        return first, last

    # The eight endpoints.

    def detail(self, nit: str, number: str) -> dict[str, Any]:
        self.merchant(nit)
        acc = self.account(number)
        est = self.establishments[acc.establishment_id]
        return {
            "nit": self.nit,
            "nombreComercio": self.merchant_name,
            "idEstablecimiento": est.id,
            "nombreEstablecimiento": est.name,
            "cuenta": self.wire_account(acc),
        }

    def listing(self, nit: str) -> dict[str, Any]:
        self.merchant(nit)
        return {
            "nit": self.nit,
            "nombreComercio": self.merchant_name,
            "establecimientos": [
                {
                    "idEstablecimiento": est.id,
                    "nombreEstablecimiento": est.name,
                    "cuentas": [self.wire_account(self.accounts[n]) for n in est.numbers],
                }
                for est in self.establishments.values()
            ],
        }

    def create(self, body: dict[str, Any]) -> dict[str, Any]:
        self.merchant(body.get("nit"))
        est_obj = body.get("establecimiento")
        if not isinstance(est_obj, dict):
            raise _bad_request("establecimiento: requerido")
        est_id = est_obj.get("idEstablecimiento")
        if not isinstance(est_id, int) or isinstance(est_id, bool):
            raise _bad_request("idEstablecimiento: debe ser un número")
        est = self.establishments.get(est_id)
        if est is None:
            raise _Rejection(404, "05", "NF-005", [f"Establecimiento {est_id} no encontrado"])
        wanted = est_obj.get("cuentas")
        if not isinstance(wanted, list) or not wanted:
            raise _bad_request("cuentas: se requiere al menos una cuenta")
        problems: list[str] = []
        for item in wanted:
            alias = item.get("alias") if isinstance(item, dict) else None
            category = item.get("rubro") if isinstance(item, dict) else None
            currency = item.get("moneda") if isinstance(item, dict) else None
            if not isinstance(alias, str) or not alias.strip() or len(alias) > 45:
                problems.append("alias: requerido, hasta 45 caracteres")
            if not isinstance(category, str) or not category.strip() or len(category) > 45:
                problems.append("rubro: requerido, hasta 45 caracteres")
            if currency != "068":
                problems.append(f"moneda: {currency!r} no admitida")
        if problems:
            raise _bad_request(*problems)
        created = []
        for item in wanted:
            number = str(next(self._numbers))
            acc = _Account(
                number=number,
                alias=item["alias"],
                category=item["rubro"],
                status="ACTIVA",
                establishment_id=est.id,
                available=Decimal("0.00"),
                booked=Decimal("0.00"),
                held=Decimal("0.00"),
                has_history=False,
            )
            self.accounts[number] = acc
            est.numbers.append(number)
            created.append(self.wire_account(acc))
        return {
            "nit": self.nit,
            "nombreComercio": self.merchant_name,
            # The gateway writes this identifier as text here.
            "idEstablecimiento": str(est.id),
            "nombreEstablecimiento": est.name,
            "cuentas": created,
        }

    def change_status(self, body: dict[str, Any]) -> list[dict[str, Any]]:
        self.merchant(body.get("nit"))
        changes = body.get("cuentas")
        if not isinstance(changes, list) or not changes:
            raise _bad_request("cuentas: se requiere al menos un cambio")
        plan: list[tuple[_Account, str]] = []
        for item in changes:
            if not isinstance(item, dict):
                raise _bad_request("cuentas: formato inválido")
            acc = self.account(item.get("numeroCuenta"))
            word = item.get("estado")
            if word not in STATUS_WORDS:
                raise _bad_request(f"estado: {word!r} no es un estado válido")
            reason = item.get("descripcionMotivo")
            if not isinstance(reason, str) or not reason.strip():
                raise _bad_request("descripcionMotivo: requerido")
            if acc.status == "CERRADA" and word != "CERRADA":
                raise _Rejection(409, "07", "CTA-007", [f"La cuenta {acc.number} está cerrada"])
            plan.append((acc, word))
        for acc, word in plan:
            acc.status = word
        return [{"numeroCuenta": acc.number, "estado": acc.status} for acc, _ in plan]

    def movements_of(self, body: dict[str, Any], kind: str) -> list[dict[str, Any]]:
        self.merchant(body.get("nit"))
        if body.get("tipo") != kind:
            raise _bad_request(f"tipo: se espera {kind!r}")
        numbers = body.get("numeroCuenta")
        if not isinstance(numbers, list) or len(numbers) != 1:
            raise _bad_request("numeroCuenta: se espera una cuenta")
        acc = self.account(numbers[0])
        first, last = self.range(body, 31)
        return self.movements(acc, first, last, kind)

    def reconcile(self, body: dict[str, Any]) -> dict[str, Any]:
        self.merchant(body.get("nit"))
        first, last = self.range(body, 7)
        moves = [
            m for acc in self.accounts.values() for m in self.movements(acc, first, last, None)
        ]
        moves.sort(key=lambda m: str(m["fechaHoraTransaccion"]))
        return {
            "movimientos": moves,
            "saldos": [self.wire_balance(acc) for acc in self.accounts.values()],
        }

    def balances(self, body: dict[str, Any]) -> list[dict[str, Any]]:
        self.merchant(body.get("nit"))
        numbers = body.get("numeroCuentas")
        if not isinstance(numbers, list) or not 1 <= len(numbers) <= 10:
            raise _bad_request("numeroCuentas: entre 1 y 10 cuentas")
        return [self.wire_balance(self.account(n, "numeroCuentas")) for n in numbers]


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuillonGatewaySimulator/1.0"
    timeout = 10  # idle keep-alive connections end after this many seconds
    server: _Server

    def do_GET(self) -> None:
        self.server.sim._handle(self)

    def do_POST(self) -> None:
        self.server.sim._handle(self)

    def do_PATCH(self) -> None:
        self.server.sim._handle(self)

    def do_PUT(self) -> None:
        self.server.sim._handle(self)

    def do_DELETE(self) -> None:
        self.server.sim._handle(self)

    def log_message(self, format: str, *args: Any) -> None:
        log.debug("%s %s", self.address_string(), format % args)


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address: tuple[str, int], sim: GatewaySimulator) -> None:
        self.sim = sim
        super().__init__(address, _Handler)

    def handle_error(self, request: Any, client_address: Any) -> None:
        log.debug("connection from %s ended abruptly", client_address, exc_info=True)


class GatewaySimulator:
    """The simulated gateway. Start it with ``start()`` or a ``with`` block.

    ``url`` is the base URL to give the client (``base_url=sim.url``); ``token``
    is an access token it accepts. ``prefix`` mimics an environment's path
    segment (for example "/sandbox").
    """

    def __init__(
        self,
        host: str = "127.0.0.1",
        port: int = 0,
        *,
        prefix: str = "",
        access_token: str | None = None,
    ) -> None:
        self._address = (host, port)
        self._prefix = "/" + prefix.strip("/") if prefix.strip("/") else ""
        self._lock = threading.RLock()
        self._stopping = threading.Event()
        self._server: _Server | None = None
        self._thread: threading.Thread | None = None
        self._state = _State()
        self._faults: list[Fault] = []
        self._tokens: dict[str, float] = {}
        self._issued = itertools.count(1)
        self.requests: list[RecordedRequest] = []
        value = access_token or "sim-" + secrets.token_hex(12)
        self._tokens[value] = float(2**62)
        self.token = AccessToken(access_token=value, token_type="Bearer", expires_at=2**62)

    # Lifecycle.

    def start(self) -> GatewaySimulator:
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
        if self._server is None:
            raise RuntimeError("the simulator is not running")
        return int(self._server.server_address[1])

    @property
    def url(self) -> str:
        host = self._address[0]
        return f"http://{host}:{self.port}{self._prefix}"

    @property
    def nit(self) -> str:
        return self._state.nit

    def account_numbers(self) -> list[str]:
        with self._lock:
            return list(self._state.accounts)

    def account_status(self, number: str) -> str:
        """The gateway word of an account's status, as the simulator holds it."""
        with self._lock:
            return self._state.accounts[number].status

    # Tokens.

    def issue_token(self, ttl: float = 3600.0) -> AccessToken:
        """A new token that the simulator accepts for ``ttl`` seconds."""
        value = f"sim-{next(self._issued)}-{secrets.token_hex(8)}"
        expires = time.time() + ttl
        with self._lock:
            self._tokens[value] = expires
        return AccessToken(access_token=value, token_type="Bearer", expires_at=int(expires))

    def revoke(self, token: AccessToken | str) -> None:
        value = token.access_token if isinstance(token, AccessToken) else token
        with self._lock:
            self._tokens.pop(value, None)

    def _authorized(self, header: str | None) -> bool:
        if not header or not header.startswith("Bearer "):
            return False
        with self._lock:
            expires = self._tokens.get(header[len("Bearer ") :])
        return expires is not None and time.time() < expires

    # Scripted failures.

    def script(self, *faults: Fault) -> None:
        with self._lock:
            self._faults.extend(faults)

    def fail_next(
        self,
        status: int = 503,
        *,
        count: int = 1,
        retry_after: float | str | None = None,
        body: str | dict[str, Any] | None = None,
        path: str | None = None,
    ) -> None:
        """The next ``count`` matching requests get ``status``, with Retry-After if given."""
        if body is None:
            body = {"message": _FAULT_MESSAGES.get(status, f"Error {status}")}
        text = body if isinstance(body, str) else json.dumps(body, ensure_ascii=False)
        after = (
            None
            if retry_after is None
            else str(retry_after if isinstance(retry_after, str) else int(retry_after))
        )
        self.script(*[Fault(status=status, body=text, retry_after=after, path=path)] * count)

    def slow_next(self, seconds: float, *, count: int = 1, path: str | None = None) -> None:
        """The next ``count`` matching requests are answered normally after ``seconds``."""
        self.script(*[Fault(delay=seconds, path=path)] * count)

    def garbage_next(
        self,
        status: int = 200,
        *,
        count: int = 1,
        path: str | None = None,
        body: str = "<html><body><h1>Gateway</h1>upstream said nothing useful</body></html>",
    ) -> None:
        """The next ``count`` matching requests get a body that is not JSON."""
        self.script(*[Fault(status=status, body=body, path=path)] * count)

    def drop_next(self, *, count: int = 1, path: str | None = None) -> None:
        """The next ``count`` matching requests are read, then left unanswered and closed."""
        self.script(*[Fault(drop=True, path=path)] * count)

    def clear(self) -> None:
        """Forgets the scripted failures and the request log."""
        with self._lock:
            self._faults.clear()
            self.requests.clear()

    def requests_to(self, suffix: str, method: str | None = None) -> list[RecordedRequest]:
        with self._lock:
            return [
                r
                for r in self.requests
                if r.path.rstrip("/").endswith(suffix.rstrip("/"))
                and (method is None or r.method == method)
            ]

    def _take_fault(self, path: str) -> Fault | None:
        with self._lock:
            for i, fault in enumerate(self._faults):
                if fault.matches(path):
                    return self._faults.pop(i)
        return None

    # Request handling.

    def _handle(self, h: _Handler) -> None:
        path = h.path.split("?", 1)[0]
        length = int(h.headers.get("Content-Length") or 0)
        raw = h.rfile.read(length) if length > 0 else b""
        authorized = self._authorized(h.headers.get("Authorization"))
        with self._lock:
            self.requests.append(
                RecordedRequest(
                    method=h.command,
                    path=path,
                    body=raw.decode("utf-8", "replace"),
                    client_id=h.headers.get("client_id"),
                    authorized=authorized,
                    at=time.time(),
                )
            )
        fault = self._take_fault(path)
        if fault is not None:
            if fault.delay and self._stopping.wait(fault.delay):
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
        if not h.headers.get("client_id"):
            self._send_json(
                h, 403, {"error": "invalid_client", "message": "Falta el encabezado client_id"}
            )
            return
        try:
            data = self._route(h.command, path, raw)
        except _Rejection as rej:
            self._send_json(h, rej.status, rej.body())
            return
        self._send_json(h, 200, {"code": "00", "message": "Operación exitosa", "data": data})

    def _route(self, method: str, path: str, raw: bytes) -> Any:
        base = self._prefix + API_PATH
        if not (path == base or path.startswith(base + "/")):
            raise _Rejection(404, "404", "NF-404", [f"Recurso {path} no encontrado"])
        rest = path[len(base) :].rstrip("/")
        segments = [s for s in rest.split("/") if s]
        handlers: dict[tuple[str, str], Callable[[dict[str, Any]], Any]] = {
            ("POST", ""): self._state.create,
            ("PATCH", "estados"): self._state.change_status,
            ("POST", "debitos"): lambda b: self._state.movements_of(b, "D"),
            ("POST", "creditos"): lambda b: self._state.movements_of(b, "C"),
            ("POST", "transacciones"): self._state.reconcile,
            ("POST", "saldos"): self._state.balances,
        }
        with self._lock:
            if method == "GET" and len(segments) == 2:
                return self._state.detail(segments[0], segments[1])
            if method == "GET" and len(segments) == 1:
                return self._state.listing(segments[0])
            route = "/".join(segments)
            handler = handlers.get((method, route))
            if handler is None:
                known = any(r == route for _, r in handlers) or len(segments) <= 2
                status = 405 if known else 404
                raise _Rejection(
                    status, str(status), f"NF-{status}", [f"{method} {path} no está disponible"]
                )
            try:
                body = json.loads(raw.decode("utf-8"))
            except (UnicodeDecodeError, ValueError):
                raise _bad_request("El cuerpo de la solicitud no es JSON válido") from None
            if not isinstance(body, dict):
                raise _bad_request("El cuerpo de la solicitud debe ser un objeto JSON")
            return handler(body)

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
            for name, value in (headers or {}).items():
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
