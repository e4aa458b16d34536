"""Rules every peer shares: vocabularies, cleaning, amounts, validation, URLs.

The peers differ in how they read and write JSON and hold records (plain
dicts and dataclasses, pydantic models, msgspec structs); the business rules
are the same job and are written once here.
"""

from __future__ import annotations

from datetime import date
from decimal import Context, Decimal, InvalidOperation
from typing import Any

# Unicode White_Space (str.strip() alone would also strip U+001C..U+001F).
WHITE_SPACE = (
    "\t\n\x0b\x0c\r \x85\xa0\u1680"
    + "".join(map(chr, range(0x2000, 0x200B)))
    + "\u2028\u2029\u202f\u205f\u3000"
)

PAYOUT = {
    "PENDIENTE": "pending",
    "PENDIENTE_PAGO": "pending",
    "INICIALIZADO": "pending",
    "PROCESO": "processing",
    "EN_PROCESO": "processing",
    "ENVIADO": "processing",
    "TRANSITO": "processing",
    "PENDIENTE_CONFIRMACION": "processing",
    "PAGADO": "paid",
    "APROBADA": "paid",
    "COMPLETADO": "paid",
    "CANCELADO": "cancelled",
    "RECHAZADO": "rejected",
    "RECHAZADA": "rejected",
    "REVERTIDO": "reversed",
    "ERROR": "error",
}
ACCOUNT_FROM_WIRE = {
    "ACTIVA": "active",
    "ACTIVO": "active",
    "BLOQUEADA": "blocked",
    "SUSPENDIDA": "suspended",
    "CERRADA": "closed",
}
ACCOUNT_TO_WIRE = {
    "active": "ACTIVA",
    "blocked": "BLOQUEADA",
    "suspended": "SUSPENDIDA",
    "closed": "CERRADA",
}

SANDBOX = "https://api-test.quillon-gateway.example/sandbox"
BASES = {
    "development": "https://api-test.quillon-gateway.example/desarrollo",
    "sandbox": SANDBOX,
    "production": "https://api.quillon-gateway.example",
}
BASE_PATH = "cuentas-comercios/v1/cuentas"

_WIDE = Context(prec=60)


class Invalid(Exception):
    """A validation failure: the field and the message the engine would give."""

    def __init__(self, field: str, message: str) -> None:
        super().__init__(f"{field}: {message}")
        self.field = field
        self.message = message


def non_empty(text: str | None) -> str | None:
    if text is None:
        return None
    return text.strip(WHITE_SPACE) or None


def _upper_key(word: str) -> str | None:
    key = word.strip(WHITE_SPACE)
    # Only ASCII letters are upper-cased, and every known word is ASCII.
    return key.upper() if key.isascii() else None


def payout(word: str) -> str:
    key = _upper_key(word)
    return PAYOUT.get(key, "unknown") if key else "unknown"


def account_status(word: str | None, default: str) -> str:
    if word is None:
        return default
    key = _upper_key(word)
    return ACCOUNT_FROM_WIRE.get(key, "unknown") if key else "unknown"


def amount_text(value: Decimal) -> str:
    """Normalised plain text: 10.50 -> 10.5, 1.5E3 -> 1500, -0.00 -> 0."""
    if not value:
        return "0"
    return format(value.normalize(_WIDE), "f")


def amount_from(value: Any) -> Decimal:
    """An amount from a decoded JSON number (int, float or Decimal) or string."""
    if isinstance(value, Decimal):
        d = value
    elif isinstance(value, bool) or value is None or isinstance(value, (list, dict)):
        raise ValueError(f"expected a number, got {value!r}")
    elif isinstance(value, str):
        try:
            d = Decimal(value.strip(WHITE_SPACE))
        except InvalidOperation:
            raise ValueError(f"invalid amount `{value}`") from None
    else:
        d = Decimal(value) if isinstance(value, int) else Decimal(repr(value))
    if not d.is_finite():
        raise ValueError(f"invalid amount `{value}`")
    return d


def opt_text(value: Any) -> str | None:
    """A string as is, a number as its text; anything else absent."""
    if isinstance(value, str):
        return value
    if isinstance(value, (int, float, Decimal)) and not isinstance(value, bool):
        return str(value)
    return None


def parse_id(text: str) -> int:
    digits = text[1:] if text.startswith("+") and len(text) > 1 else text
    if not digits:
        raise ValueError("cannot parse integer from empty string")
    if not (digits.isascii() and digits.isdigit()):
        raise ValueError("invalid digit found in string")
    n = int(digits)
    if n >= 1 << 64:
        raise ValueError("number too large to fit in target type")
    return n


# ---- build-stage validation ----------------------------------------------------


def digits(field: str, value: str, minimum: int) -> None:
    if not (minimum <= len(value) <= 20 and value.isascii() and value.isdigit()):
        raise Invalid(field, f"must be {minimum} to 20 digits")


def text_max(field: str, value: str, maximum: int) -> None:
    if not value.strip(WHITE_SPACE):
        raise Invalid(field, "must not be empty")
    if len(value) > maximum:
        raise Invalid(field, f"at most {maximum} characters")


def _day(field: str, value: str) -> int:
    if not (len(value) == 10 and value[4] == "-" and value[7] == "-" and value.isascii()):
        raise Invalid(field, "must be a date as yyyy-mm-dd")
    y, m, d = value[:4], value[5:7], value[8:]
    if not (y.isdigit() and m.isdigit() and d.isdigit()):
        raise Invalid(field, "must be a date as yyyy-mm-dd")
    try:
        return date(int(y), int(m), int(d)).toordinal()
    except ValueError:  # month or day out of range (year 0 is not needed here)
        raise Invalid(field, "must be a date as yyyy-mm-dd") from None


def date_range(first: str, last: str, span: int) -> None:
    start = _day("date_from", first)
    end = _day("date_to", last)
    if end < start:
        raise Invalid("date_to", "must not be before date_from")
    if end - start > span:
        raise Invalid("date_to", f"the range is at most {span} days")


def url(config: dict[str, Any] | Any, path: str) -> str:
    base_url = config["base_url"] if isinstance(config, dict) else config.base_url
    environment = config["environment"] if isinstance(config, dict) else config.environment
    base = base_url if base_url is not None else BASES[environment]
    return base.rstrip("/") + "/" + path.lstrip("/")


def headers(client_id: str, access_token: str | None) -> dict[str, str]:
    if access_token is None:
        raise Invalid("token", "an access token is required for this operation")
    return {
        "Accept": "application/json",
        "Authorization": f"Bearer {access_token}",
        "Content-Type": "application/json",
        "access_token": access_token,
        "client_id": client_id,
    }


def validation_error(err: Invalid) -> dict[str, Any]:
    return {
        "error": {
            "field": err.field,
            "kind": "validation",
            "message": err.message,
            "retryable": False,
        },
        "ok": False,
    }
