"""The simulated gateway's data and rules: records, look-ups and the eight endpoints.

Every refusal is a :class:`Rejection` with the gateway's status, envelope code,
error code and messages. Callers hold the simulator's lock.
"""

from __future__ import annotations

import datetime as dt
import itertools
import random
import re
from collections.abc import Callable, Iterator
from dataclasses import dataclass, field
from decimal import Decimal
from typing import Any

STATUS_WORDS = ("ACTIVA", "BLOQUEADA", "SUSPENDIDA", "CERRADA")
"""The account status words the gateway knows."""


class Rejection(Exception):
    """A gateway refusal: HTTP status, envelope code, error code and messages."""

    def __init__(self, status: int, code: str, error_code: str, messages: list[str]) -> None:
        super().__init__("; ".join(messages))
        self.status = status
        """The HTTP status of the refusal."""
        self.code = code
        """The envelope's code."""
        self.error_code = error_code
        """The gateway's error code (such as "CTA-009")."""
        self.messages = messages
        """The refusal's messages."""

    def body(self) -> dict[str, Any]:
        """The gateway's refusal envelope for this rejection."""
        return {
            "code": self.code,
            "errorCode": self.error_code,
            "errorMessage": "; ".join(self.messages),
            "data": self.messages if len(self.messages) > 1 else None,
        }


def bad_request(*messages: str) -> Rejection:
    """A 400 refusal of the request's input, one message per fault found."""
    return Rejection(400, "01", "VAL-001", list(messages))


def not_found(message: str) -> Rejection:
    """A 404 refusal: the merchant or account does not exist."""
    return Rejection(404, "04", "NF-004", [message])


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
        raise bad_request(f"{name}: formato de fecha inválido, se espera aaaa-mm-dd")
    try:
        return dt.date.fromisoformat(text)
    except ValueError:
        raise bad_request(f"{name}: fecha inexistente") from None


def _digits(value: Any, name: str, minimum: int) -> str:
    if not isinstance(value, str) or not re.fullmatch(rf"[0-9]{{{minimum},20}}", value):
        raise bad_request(f"{name}: debe tener entre {minimum} y 20 dígitos")
    return value


class GatewayState:
    """The simulated gateway's data. Callers hold the simulator's lock.

    ``seed``, when given, draws other made-up movements (the same for the same seed).
    """

    def __init__(self, seed: int | None = None) -> None:
        self.seed = seed
        """The seed of the made-up movements (None: the default ones)."""
        self.nit = "1234567"
        """The merchant's tax number."""
        self.merchant_name = "Comercial Andina S.R.L."
        """The merchant's name."""
        self.establishments: dict[int, _Establishment] = {}
        """The establishments by id."""
        self.accounts: dict[str, _Account] = {}
        """The accounts by number."""
        self._numbers = itertools.count(30000001)
        fixed = [
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
        for est_id, est_name, number, alias, category, status, available, currency_key in fixed:
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
        """An account as the gateway writes it."""
        return {"numeroCuenta": acc.number, "alias": acc.alias, "estado": acc.status}

    def wire_balance(self, acc: _Account) -> dict[str, Any]:
        """An account's balances as the gateway writes them (amounts as numbers and texts)."""
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
            key = f"{acc.number}:{day.isoformat()}"
            rng = random.Random(key if self.seed is None else f"{self.seed}:{key}")
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
        """The merchant's NIT, or the gateway's refusal of ``nit``."""
        _digits(nit, "nit", 7)
        if nit != self.nit:
            raise not_found(f"Comercio {nit} no encontrado")
        return str(nit)

    def account(self, number: Any, name: str = "numeroCuenta") -> _Account:
        """The account ``number``, or the gateway's refusal naming the member ``name``."""
        _digits(number, name, 8)
        acc = self.accounts.get(number)
        if acc is None:
            raise not_found(f"Cuenta {number} no encontrada")
        return acc

    def range(self, body: dict[str, Any], limit: int) -> tuple[dt.date, dt.date]:
        """The request's first and last day, refused past ``limit`` days apart."""
        first = _parse_day(body.get("fechaInicio"), "fechaInicio")
        last = _parse_day(body.get("fechaFin"), "fechaFin")
        if last < first:
            raise bad_request("fechaFin: anterior a fechaInicio")
        if (last - first).days > limit:
            raise bad_request(f"El rango de fechas no puede superar {limit} días")
        return first, last

    # The eight endpoints.

    def detail(self, nit: str, number: str) -> dict[str, Any]:
        """The answer to the lookup of one account."""
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
        """The answer to the listing of the merchant's establishments and accounts."""
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
        """Opens the accounts the body asks for; the answer lists them."""
        self.merchant(body.get("nit"))
        est_obj = body.get("establecimiento")
        if not isinstance(est_obj, dict):
            raise bad_request("establecimiento: requerido")
        est_id = est_obj.get("idEstablecimiento")
        if not isinstance(est_id, int) or isinstance(est_id, bool):
            raise bad_request("idEstablecimiento: debe ser un número")
        est = self.establishments.get(est_id)
        if est is None:
            raise Rejection(404, "05", "NF-005", [f"Establecimiento {est_id} no encontrado"])
        wanted = est_obj.get("cuentas")
        if not isinstance(wanted, list) or not wanted:
            raise bad_request("cuentas: se requiere al menos una cuenta")
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
            raise bad_request(*problems)
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
        """Applies every status change of the body, or none when one is refused."""
        self.merchant(body.get("nit"))
        changes = body.get("cuentas")
        if not isinstance(changes, list) or not changes:
            raise bad_request("cuentas: se requiere al menos un cambio")
        plan: list[tuple[_Account, str]] = []
        for item in changes:
            if not isinstance(item, dict):
                raise bad_request("cuentas: formato inválido")
            acc = self.account(item.get("numeroCuenta"))
            word = item.get("estado")
            if word not in STATUS_WORDS:
                raise bad_request(f"estado: {word!r} no es un estado válido")
            reason = item.get("descripcionMotivo")
            if not isinstance(reason, str) or not reason.strip():
                raise bad_request("descripcionMotivo: requerido")
            if acc.status == "CERRADA" and word != "CERRADA":
                raise Rejection(409, "07", "CTA-007", [f"La cuenta {acc.number} está cerrada"])
            plan.append((acc, word))
        for acc, word in plan:
            acc.status = word
        return [{"numeroCuenta": acc.number, "estado": acc.status} for acc, _ in plan]

    def movements_of(self, body: dict[str, Any], kind: str) -> list[dict[str, Any]]:
        """The debits (``kind`` "D") or credits ("C") of one account over the body's days."""
        self.merchant(body.get("nit"))
        if body.get("tipo") != kind:
            raise bad_request(f"tipo: se espera {kind!r}")
        numbers = body.get("numeroCuenta")
        if not isinstance(numbers, list) or len(numbers) != 1:
            raise bad_request("numeroCuenta: se espera una cuenta")
        acc = self.account(numbers[0])
        first, last = self.range(body, 31)
        return self.movements(acc, first, last, kind)

    def reconcile(self, body: dict[str, Any]) -> dict[str, Any]:
        """Every movement of the merchant over the body's days, with every balance."""
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
        """The balances of the 1 to 10 accounts the body names."""
        self.merchant(body.get("nit"))
        numbers = body.get("numeroCuentas")
        if not isinstance(numbers, list) or not 1 <= len(numbers) <= 10:
            raise bad_request("numeroCuentas: entre 1 y 10 cuentas")
        return [self.wire_balance(self.account(n, "numeroCuentas")) for n in numbers]

    # Dispatch.

    def answer(self, method: str, segments: list[str], body: Callable[[], dict[str, Any]]) -> Any:
        """The data of the endpoint at ``segments`` (the path after the API path).

        ``body`` reads the request's JSON object; it is called only by the
        endpoints that take one.
        """
        if method == "GET" and len(segments) == 2:
            return self.detail(segments[0], segments[1])
        if method == "GET" and len(segments) == 1:
            return self.listing(segments[0])
        route = "/".join(segments)
        handler = _BODY_ROUTES.get((method, route))
        if handler is None:
            known = route in _BODY_PATHS or len(segments) <= 2
            status = 405 if known else 404
            raise Rejection(
                status, str(status), f"NF-{status}", [f"{method} /{route} no está disponible"]
            )
        return handler(self, body())


# The endpoints that take a JSON body, by method and path after the API path.
_BODY_ROUTES: dict[tuple[str, str], Callable[[GatewayState, dict[str, Any]], Any]] = {
    ("POST", ""): GatewayState.create,
    ("PATCH", "estados"): GatewayState.change_status,
    ("POST", "debitos"): lambda state, b: state.movements_of(b, "D"),
    ("POST", "creditos"): lambda state, b: state.movements_of(b, "C"),
    ("POST", "transacciones"): GatewayState.reconcile,
    ("POST", "saldos"): GatewayState.balances,
}
_BODY_PATHS = frozenset(route for _, route in _BODY_ROUTES)
