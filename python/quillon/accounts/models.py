"""Typed records: the inputs of the operations and the results they return.

Results are frozen dataclasses built from the engine's JSON. Amounts are
:class:`decimal.Decimal` (the engine writes them as exact decimal text and they
never pass through ``float``); statuses are enums, and the gateway's own status
word is kept beside them as ``raw_status``.
"""

from __future__ import annotations

import datetime
import re
from collections.abc import Mapping
from dataclasses import dataclass
from decimal import Decimal
from enum import Enum
from typing import Any

__all__ = [
    "Account",
    "AccountRange",
    "AccountRef",
    "AccountStatus",
    "Balance",
    "BalancesQuery",
    "CreateAccounts",
    "CreatedAccounts",
    "DateLike",
    "Establishment",
    "MerchantAccount",
    "MerchantAccounts",
    "MerchantRange",
    "MerchantRef",
    "Movement",
    "NewAccount",
    "Party",
    "PaymentStatus",
    "Reconciliation",
    "StatusChange",
    "StatusChanged",
    "StatusChanges",
    "date_text",
    "parse_datetime",
    "to_jsonable",
]

DateLike = datetime.date | str
"""A day: a ``datetime.date`` or a "yyyy-mm-dd" text (a ``datetime`` is refused)."""


class AccountStatus(str, Enum):
    """Status of an account; ``unknown`` stands for any word the gateway sends that is not known."""

    ACTIVE = "active"
    """In use (the gateway's "ACTIVA")."""
    BLOCKED = "blocked"
    """Blocked: no movement is accepted (the gateway's "BLOQUEADA")."""
    SUSPENDED = "suspended"
    """Suspended for the time being (the gateway's "SUSPENDIDA")."""
    CLOSED = "closed"
    """Closed for good (the gateway's "CERRADA")."""
    UNKNOWN = "unknown"
    """A word the gateway sent that is none of the above; the record's ``raw_status`` holds it.
    """

    def __str__(self) -> str:
        return self.value

    @classmethod
    def from_json(cls, word: Any) -> AccountStatus:
        """The status for an engine word; ``UNKNOWN`` for a word it does not know."""
        try:
            return cls(word)
        except ValueError:
            return cls.UNKNOWN


class PaymentStatus(str, Enum):
    """Normalised state of a movement; ``unknown`` stands for any word the gateway sends
    that is not known (the word itself stays in ``raw_status``)."""

    PENDING = "pending"
    """Not yet under way (such as "PENDIENTE" or "INICIALIZADO")."""
    PROCESSING = "processing"
    """Under way (such as "EN_PROCESO", "ENVIADO" or "TRANSITO")."""
    PAID = "paid"
    """Done: the money moved (such as "PAGADO", "APROBADA" or "COMPLETADO")."""
    CANCELLED = "cancelled"
    """Cancelled before it was done ("CANCELADO")."""
    EXPIRED = "expired"
    """Not done in time."""
    REJECTED = "rejected"
    """Refused (such as "RECHAZADO")."""
    REVERSED = "reversed"
    """Done, then undone ("REVERTIDO")."""
    ERROR = "error"
    """Failed at the gateway or a bank ("ERROR")."""
    UNKNOWN = "unknown"
    """A word the gateway sent that is none of the above; ``raw_status`` holds it."""

    def __str__(self) -> str:
        return self.value

    @classmethod
    def from_json(cls, word: Any) -> PaymentStatus:
        """The status for an engine word; ``UNKNOWN`` for a word it does not know."""
        try:
            return cls(word)
        except ValueError:
            return cls.UNKNOWN


def date_text(value: DateLike, name: str = "date") -> str:
    """A date as the "yyyy-mm-dd" text the engine expects.

    A text is passed on unchanged (the engine checks it); a ``datetime`` is
    refused, since dropping its time and zone silently could pick the wrong day.
    """
    if isinstance(value, datetime.datetime):
        raise TypeError(f"{name} must be a date or a 'yyyy-mm-dd' text, not a datetime")
    if isinstance(value, datetime.date):
        return f"{value.year:04d}-{value.month:02d}-{value.day:02d}"
    if isinstance(value, str):
        return value
    raise TypeError(f"{name} must be a date or a 'yyyy-mm-dd' text, not {type(value).__name__}")


# Inputs ---------------------------------------------------------------------


@dataclass(frozen=True)
class MerchantRef:
    """Input of ``accounts.list``: the merchant, by its tax number (NIT, 7 to 20 digits)."""

    nit: str
    """The merchant's tax number (NIT): 7 to 20 digits."""

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        return {"nit": self.nit}


@dataclass(frozen=True)
class AccountRef:
    """Input of ``accounts.get``: the merchant's NIT (7 to 20 digits) and an account number
    (8 to 20 digits)."""

    nit: str
    """The merchant's tax number (NIT): 7 to 20 digits."""
    account_number: str
    """The account number: 8 to 20 digits."""

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        return {"nit": self.nit, "account_number": self.account_number}


@dataclass(frozen=True)
class NewAccount:
    """An account to open: its ``alias`` and its ``category`` (each 1 to 45 characters).

    Accounts are opened in bolivianos (currency "068").
    """

    alias: str
    """The name the merchant gives the account: 1 to 45 characters."""
    category: str
    """The merchant's category for the account (such as "Ventas"): 1 to 45 characters."""

    @classmethod
    def coerce(cls, value: NewAccount | Mapping[str, str]) -> NewAccount:
        """``value`` itself, or the account its "alias" and "category" keys describe."""
        if isinstance(value, NewAccount):
            return value
        return cls(alias=value["alias"], category=value["category"])

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        return {"alias": self.alias, "category": self.category}


@dataclass(frozen=True)
class CreateAccounts:
    """Input of ``accounts.create``: accounts to open under establishment ``establishment_id``
    of the merchant ``nit`` (7 to 20 digits). Aliases and categories are at most 45 characters."""

    nit: str
    """The merchant's tax number (NIT): 7 to 20 digits."""
    establishment_id: int
    """The establishment that is to hold the new accounts."""
    accounts: tuple[NewAccount, ...]
    """The accounts to open, in order."""

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        return {
            "nit": self.nit,
            "establishment_id": self.establishment_id,
            "accounts": [a.to_json() for a in self.accounts],
        }


@dataclass(frozen=True)
class StatusChange:
    """A status to give an account, with the reason for it (1 to 50 characters).

    ``status`` is an :class:`AccountStatus` or its word ("active", "blocked",
    "suspended", "closed"); ``account_number`` has 8 to 20 digits.
    """

    account_number: str
    """The account number: 8 to 20 digits."""
    status: AccountStatus | str
    """The new status: an :class:`AccountStatus` or its word ("active", "blocked", "suspended" or
    "closed").
    """
    reason: str
    """Why the status changes: 1 to 50 characters."""

    @classmethod
    def coerce(cls, value: StatusChange | Mapping[str, Any]) -> StatusChange:
        """``value`` itself, or the change its "account_number", "status" and "reason" keys
        describe."""
        if isinstance(value, StatusChange):
            return value
        return cls(
            account_number=value["account_number"], status=value["status"], reason=value["reason"]
        )

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        status = self.status.value if isinstance(self.status, AccountStatus) else self.status
        return {"account_number": self.account_number, "status": status, "reason": self.reason}


@dataclass(frozen=True)
class StatusChanges:
    """Input of ``accounts.set_status``: status changes of the merchant ``nit``'s accounts."""

    nit: str
    """The merchant's tax number (NIT): 7 to 20 digits."""
    changes: tuple[StatusChange, ...]
    """The changes, one per account, in order."""

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        return {"nit": self.nit, "changes": [c.to_json() for c in self.changes]}


@dataclass(frozen=True)
class MerchantRange:
    """Input of ``accounts.reconcile``: the merchant and a period of at most 7 days."""

    nit: str
    """The merchant's tax number (NIT): 7 to 20 digits."""
    date_from: str
    """The first day, "yyyy-mm-dd", included."""
    date_to: str
    """The last day, "yyyy-mm-dd", included: at most 7 days after ``date_from``."""

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        return {"nit": self.nit, "date_from": self.date_from, "date_to": self.date_to}


@dataclass(frozen=True)
class AccountRange:
    """Input of ``accounts.debits`` and ``accounts.credits``: one account over a period
    of at most 31 days (the clients split longer ones)."""

    nit: str
    """The merchant's tax number (NIT): 7 to 20 digits."""
    account_number: str
    """The account number: 8 to 20 digits."""
    date_from: str
    """The first day, "yyyy-mm-dd", included."""
    date_to: str
    """The last day, "yyyy-mm-dd", included: at most 31 days after ``date_from``."""

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        return {
            "nit": self.nit,
            "account_number": self.account_number,
            "date_from": self.date_from,
            "date_to": self.date_to,
        }


@dataclass(frozen=True)
class BalancesQuery:
    """Input of ``accounts.balances``: 1 to 10 account numbers (8 to 20 digits each)."""

    nit: str
    """The merchant's tax number (NIT): 7 to 20 digits."""
    account_numbers: tuple[str, ...]
    """The accounts, 1 to 10, each of 8 to 20 digits."""

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        return {"nit": self.nit, "account_numbers": list(self.account_numbers)}


# Results --------------------------------------------------------------------


_DATETIME = re.compile(
    r"(\d{4})-(\d{2})-(\d{2})[T ](\d{2}):(\d{2}):(\d{2})(?:\.(\d{1,9}))?"
    r"(Z|[+-]\d{2}:\d{2})?",
    re.ASCII,
)


def parse_datetime(text: str | None) -> datetime.datetime | None:
    """An ISO 8601 date and time as a datetime, or None (see ``Movement.transaction_datetime``)."""
    match = _DATETIME.fullmatch(text) if text is not None else None
    if match is None:
        return None
    year, month, day, hour, minute, second, fraction, zone = match.groups()
    fraction = (fraction or "").ljust(9, "0")
    if fraction[6:] != "000":
        return None
    tz: datetime.tzinfo | None = None
    if zone == "Z":
        tz = datetime.timezone.utc
    elif zone is not None:
        hours, minutes = int(zone[1:3]), int(zone[4:6])
        if hours > 23 or minutes > 59:
            return None
        offset = datetime.timedelta(hours=hours, minutes=minutes)
        tz = datetime.timezone(-offset if zone[0] == "-" else offset)
    try:
        return datetime.datetime(
            int(year),
            int(month),
            int(day),
            int(hour),
            int(minute),
            int(second),
            int(fraction[:6]),
            tzinfo=tz,
        )
    except ValueError:  # no such day or time
        return None


def _amount(value: Any) -> Decimal:
    if not isinstance(value, str):
        raise TypeError(f"amount must arrive as decimal text, got {value!r}")
    return Decimal(value)


def _opt_amount(value: Any) -> Decimal | None:
    return None if value is None else _amount(value)


@dataclass(frozen=True)
class Account:
    """One account of a merchant."""

    number: str
    """The account number (digits)."""
    alias: str | None
    """The name the merchant gave the account; None when the gateway sent none."""
    status: AccountStatus
    """The account's status."""
    raw_status: str | None
    """The gateway's own word for the status, trimmed (such as "ACTIVA")."""

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> Account:
        """The record from the engine\'s JSON form of it."""
        return cls(
            number=obj["number"],
            alias=obj["alias"],
            status=AccountStatus.from_json(obj["status"]),
            raw_status=obj["raw_status"],
        )


@dataclass(frozen=True)
class MerchantAccount:
    """The answer to ``get_account``: one account with its merchant and establishment."""

    nit: str
    """The merchant's tax number."""
    merchant_name: str | None
    """The merchant's name, if the gateway sent it."""
    establishment_id: int | None
    """The establishment that holds the account; None when the gateway left it out."""
    establishment_name: str | None
    """That establishment's name, if the gateway sent it."""
    account: Account
    """The account itself."""

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> MerchantAccount:
        """The record from the engine\'s JSON form of it."""
        return cls(
            nit=obj["nit"],
            merchant_name=obj["merchant_name"],
            establishment_id=obj["establishment_id"],
            establishment_name=obj["establishment_name"],
            account=Account.from_json(obj["account"]),
        )


@dataclass(frozen=True)
class Establishment:
    """One establishment (branch) of a merchant, with its accounts."""

    id: int
    """The establishment's number at the gateway."""
    name: str | None
    """The establishment's name, if the gateway sent it."""
    accounts: tuple[Account, ...]
    """Its accounts, in the gateway's order."""

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> Establishment:
        """The record from the engine\'s JSON form of it."""
        return cls(
            id=obj["id"],
            name=obj["name"],
            accounts=tuple(Account.from_json(a) for a in obj["accounts"]),
        )


@dataclass(frozen=True)
class MerchantAccounts:
    """The answer to ``list_accounts``: the merchant and its establishments with their
    accounts; :meth:`accounts` flattens them."""

    nit: str
    """The merchant's tax number."""
    merchant_name: str | None
    """The merchant's name, if the gateway sent it."""
    establishments: tuple[Establishment, ...]
    """The merchant's establishments, each with its accounts."""

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> MerchantAccounts:
        """The record from the engine\'s JSON form of it."""
        return cls(
            nit=obj["nit"],
            merchant_name=obj["merchant_name"],
            establishments=tuple(Establishment.from_json(e) for e in obj["establishments"]),
        )

    def accounts(self) -> list[Account]:
        """Every account of every establishment, in order."""
        return [a for e in self.establishments for a in e.accounts]


@dataclass(frozen=True)
class CreatedAccounts:
    """The answer to ``create_accounts``: the accounts just opened, with their new numbers,
    under establishment ``establishment_id`` of merchant ``nit``."""

    nit: str
    """The merchant's tax number."""
    merchant_name: str | None
    """The merchant's name, if the gateway sent it."""
    establishment_id: int
    """The establishment that holds the new accounts."""
    establishment_name: str | None
    """That establishment's name, if the gateway sent it."""
    accounts: tuple[Account, ...]
    """The accounts opened, with the numbers the gateway gave them, in the order asked."""

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> CreatedAccounts:
        """The record from the engine\'s JSON form of it."""
        return cls(
            nit=obj["nit"],
            merchant_name=obj["merchant_name"],
            establishment_id=obj["establishment_id"],
            establishment_name=obj["establishment_name"],
            accounts=tuple(Account.from_json(a) for a in obj["accounts"]),
        )


@dataclass(frozen=True)
class StatusChanged:
    """One entry of the answer to ``set_status``: the account's status now."""

    account_number: str
    """The account number."""
    status: AccountStatus
    """The account's status now."""
    raw_status: str
    """The gateway's word for it, exactly as received."""

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> StatusChanged:
        """The record from the engine\'s JSON form of it."""
        return cls(
            account_number=obj["account_number"],
            status=AccountStatus.from_json(obj["status"]),
            raw_status=obj["raw_status"],
        )


@dataclass(frozen=True)
class Party:
    """One side of a movement. Each field is None when the gateway sent nothing (or
    blanks) for it."""

    account: str | None
    """The account number on this side."""
    document_id: str | None
    """The holder's identity document number."""
    name: str | None
    """The holder's name."""
    bank_code: str | None
    """The bank's code."""
    bank_name: str | None
    """The bank's name."""

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> Party:
        """The record from the engine\'s JSON form of it."""
        return cls(
            account=obj["account"],
            document_id=obj["document_id"],
            name=obj["name"],
            bank_code=obj["bank_code"],
            bank_name=obj["bank_name"],
        )


@dataclass(frozen=True)
class Movement:
    """One debit or credit of an account."""

    transaction_id: str | None
    """The gateway's identifier of the transaction."""
    operation_type: str
    """The gateway's word for the kind of movement (such as "DEBITO")."""
    status: PaymentStatus
    """The normalised state of the payment."""
    raw_status: str
    """The gateway's own word for that state."""
    message: str | None
    """The gateway's remark (a rejection reason, say), or None."""
    transaction_at: str | None
    """Date and time as the gateway wrote it, such as "2024-01-04T15:26:08" (the gateway's local
    time; no zone is given); :attr:`transaction_datetime` gives it as a ``datetime``.
    """
    amount: Decimal
    """The amount moved: an exact decimal in the currency's units (not cents)."""
    fee: Decimal | None
    """The commission charged, if the gateway stated one."""
    total: Decimal | None
    """The amount with the fee, if the gateway stated it."""
    currency: str | None
    """The currency as the gateway codes it (ISO 4217 numeric: "068" for the boliviano)."""
    origin: Party
    """The paying side."""
    destination: Party
    """The receiving side."""
    reference: str | None
    """The payer's reference."""
    ach_order_number: str | None
    """The clearing house's order number."""
    recipient_order_number: str | None
    """The receiving bank's order number."""

    @property
    def transaction_datetime(self) -> datetime.datetime | None:
        """``transaction_at`` as a datetime: naive for a local time, aware when an offset is given.

        None where the text is absent or not an ISO 8601 date and time
        (``YYYY-MM-DDTHH:MM:SS``, a space allowed for the ``T``, an optional
        fraction of up to nine digits and an optional ``Z`` or ``±HH:MM``), and
        where a fraction finer than a microsecond would be lost.
        """
        return parse_datetime(self.transaction_at)

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> Movement:
        """The record from the engine\'s JSON form of it."""
        return cls(
            transaction_id=obj["transaction_id"],
            operation_type=obj["operation_type"],
            status=PaymentStatus.from_json(obj["status"]),
            raw_status=obj["raw_status"],
            message=obj["message"],
            transaction_at=obj["transaction_at"],
            amount=_amount(obj["amount"]),
            fee=_opt_amount(obj["fee"]),
            total=_opt_amount(obj["total"]),
            currency=obj["currency"],
            origin=Party.from_json(obj["origin"]),
            destination=Party.from_json(obj["destination"]),
            reference=obj["reference"],
            ach_order_number=obj["ach_order_number"],
            recipient_order_number=obj["recipient_order_number"],
        )


@dataclass(frozen=True)
class Balance:
    """The balances of one account, exact decimals in the currency's units (not cents)."""

    account_number: str
    """The account number."""
    status: AccountStatus
    """The account's status."""
    raw_status: str | None
    """The gateway's own word for it."""
    currency: str | None
    """ISO 4217 numeric code as the gateway sends it ("068": boliviano)."""
    available: Decimal
    """What can be spent or transferred now (normally ``booked - held``)."""
    booked: Decimal
    """The ledger balance: every movement posted so far."""
    held: Decimal
    """The part of ``booked`` that is retained (held funds, pending debits) and cannot be spent
    yet.
    """
    last_credit_at: str | None
    """Day (or time) of the last credit, as the gateway wrote it, or None."""
    last_debit_at: str | None
    """Day (or time) of the last debit, as the gateway wrote it, or None."""

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> Balance:
        """The record from the engine\'s JSON form of it."""
        return cls(
            account_number=obj["account_number"],
            status=AccountStatus.from_json(obj["status"]),
            raw_status=obj["raw_status"],
            currency=obj["currency"],
            available=_amount(obj["available"]),
            booked=_amount(obj["booked"]),
            held=_amount(obj["held"]),
            last_credit_at=obj["last_credit_at"],
            last_debit_at=obj["last_debit_at"],
        )


@dataclass(frozen=True)
class Reconciliation:
    """The answer to ``reconcile``: the movements of every account of the merchant in the
    period, in time order, and the balances of those accounts now."""

    movements: tuple[Movement, ...]
    """The movements of every account of the merchant in the period, in time order."""
    balances: tuple[Balance, ...]
    """The balances of those accounts at the time of asking."""

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> Reconciliation:
        """The record from the engine\'s JSON form of it."""
        return cls(
            movements=tuple(Movement.from_json(m) for m in obj["movements"]),
            balances=tuple(Balance.from_json(b) for b in obj["balances"]),
        )


def to_jsonable(value: Any) -> Any:
    """A result (record, list, enum, amount) as plain JSON data, with the engine's member names.

    Amounts become decimal text, never floats. :func:`quillon.accounts.export.to_data`
    does the same and has :func:`~quillon.accounts.export.from_data` to read it back.
    """
    from quillon.accounts.export import to_data

    return to_data(value)
