"""Typed records: the inputs of the operations and the results they return.

Results are frozen dataclasses built from the engine's JSON. Amounts are
:class:`decimal.Decimal` (the engine writes them as exact decimal text and they
never pass through ``float``); statuses are enums, and the gateway's own status
word is kept beside them as ``raw_status``.
"""

from __future__ import annotations

import dataclasses
import datetime as _dt
from collections.abc import Mapping, Sequence
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
    "to_jsonable",
]

DateLike = _dt.date | str


class AccountStatus(str, Enum):
    """Status of an account; ``unknown`` stands for any word the gateway sends that is not known."""

    ACTIVE = "active"
    BLOCKED = "blocked"
    SUSPENDED = "suspended"
    CLOSED = "closed"
    UNKNOWN = "unknown"

    def __str__(self) -> str:
        return self.value

    @classmethod
    def from_json(cls, word: Any) -> AccountStatus:
        try:
            return cls(word)
        except ValueError:
            return cls.UNKNOWN


class PaymentStatus(str, Enum):
    """Normalised state of a movement."""

    PENDING = "pending"
    PROCESSING = "processing"
    PAID = "paid"
    CANCELLED = "cancelled"
    EXPIRED = "expired"
    REJECTED = "rejected"
    REVERSED = "reversed"
    ERROR = "error"
    UNKNOWN = "unknown"

    def __str__(self) -> str:
        return self.value

    @classmethod
    def from_json(cls, word: Any) -> PaymentStatus:
        try:
            return cls(word)
        except ValueError:
            return cls.UNKNOWN


def date_text(value: DateLike, name: str = "date") -> str:
    """A date as the "yyyy-mm-dd" text the engine expects.

    A text is passed on unchanged (the engine checks it); a ``datetime`` is
    refused, since dropping its time and zone silently could pick the wrong day.
    """
    if isinstance(value, _dt.datetime):
        raise TypeError(f"{name} must be a date or a 'yyyy-mm-dd' text, not a datetime")
    if isinstance(value, _dt.date):
        return f"{value.year:04d}-{value.month:02d}-{value.day:02d}"
    if isinstance(value, str):
        return value
    raise TypeError(f"{name} must be a date or a 'yyyy-mm-dd' text, not {type(value).__name__}")


# Inputs ---------------------------------------------------------------------


@dataclass(frozen=True)
class MerchantRef:
    nit: str

    def to_json(self) -> dict[str, Any]:
        return {"nit": self.nit}


@dataclass(frozen=True)
class AccountRef:
    nit: str
    account_number: str

    def to_json(self) -> dict[str, Any]:
        return {"nit": self.nit, "account_number": self.account_number}


@dataclass(frozen=True)
class NewAccount:
    """An account to open: its alias and its category."""

    alias: str
    category: str

    @classmethod
    def coerce(cls, value: NewAccount | Mapping[str, str]) -> NewAccount:
        if isinstance(value, NewAccount):
            return value
        return cls(alias=value["alias"], category=value["category"])

    def to_json(self) -> dict[str, Any]:
        return {"alias": self.alias, "category": self.category}


@dataclass(frozen=True)
class CreateAccounts:
    nit: str
    establishment_id: int
    accounts: tuple[NewAccount, ...]

    def to_json(self) -> dict[str, Any]:
        return {
            "nit": self.nit,
            "establishment_id": self.establishment_id,
            "accounts": [a.to_json() for a in self.accounts],
        }


@dataclass(frozen=True)
class StatusChange:
    """A status to give an account, with the reason for it."""

    account_number: str
    status: AccountStatus | str
    reason: str

    @classmethod
    def coerce(cls, value: StatusChange | Mapping[str, Any]) -> StatusChange:
        if isinstance(value, StatusChange):
            return value
        return cls(
            account_number=value["account_number"], status=value["status"], reason=value["reason"]
        )

    def to_json(self) -> dict[str, Any]:
        status = self.status.value if isinstance(self.status, AccountStatus) else self.status
        return {"account_number": self.account_number, "status": status, "reason": self.reason}


@dataclass(frozen=True)
class StatusChanges:
    nit: str
    changes: tuple[StatusChange, ...]

    def to_json(self) -> dict[str, Any]:
        return {"nit": self.nit, "changes": [c.to_json() for c in self.changes]}


@dataclass(frozen=True)
class MerchantRange:
    nit: str
    date_from: str
    date_to: str

    def to_json(self) -> dict[str, Any]:
        return {"nit": self.nit, "date_from": self.date_from, "date_to": self.date_to}


@dataclass(frozen=True)
class AccountRange:
    nit: str
    account_number: str
    date_from: str
    date_to: str

    def to_json(self) -> dict[str, Any]:
        return {
            "nit": self.nit,
            "account_number": self.account_number,
            "date_from": self.date_from,
            "date_to": self.date_to,
        }


@dataclass(frozen=True)
class BalancesQuery:
    nit: str
    account_numbers: tuple[str, ...]

    def to_json(self) -> dict[str, Any]:
        return {"nit": self.nit, "account_numbers": list(self.account_numbers)}


# Results --------------------------------------------------------------------


def _amount(value: Any) -> Decimal:
    if not isinstance(value, str):
        raise TypeError(f"amount must arrive as decimal text, got {value!r}")
    return Decimal(value)


def _opt_amount(value: Any) -> Decimal | None:
    return None if value is None else _amount(value)


@dataclass(frozen=True)
class Account:
    number: str
    alias: str | None
    status: AccountStatus
    raw_status: str | None

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> Account:
        return cls(
            number=obj["number"],
            alias=obj["alias"],
            status=AccountStatus.from_json(obj["status"]),
            raw_status=obj["raw_status"],
        )


@dataclass(frozen=True)
class MerchantAccount:
    nit: str
    merchant_name: str | None
    establishment_id: int | None
    establishment_name: str | None
    account: Account

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> MerchantAccount:
        return cls(
            nit=obj["nit"],
            merchant_name=obj["merchant_name"],
            establishment_id=obj["establishment_id"],
            establishment_name=obj["establishment_name"],
            account=Account.from_json(obj["account"]),
        )


@dataclass(frozen=True)
class Establishment:
    id: int
    name: str | None
    accounts: tuple[Account, ...]

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> Establishment:
        return cls(
            id=obj["id"],
            name=obj["name"],
            accounts=tuple(Account.from_json(a) for a in obj["accounts"]),
        )


@dataclass(frozen=True)
class MerchantAccounts:
    nit: str
    merchant_name: str | None
    establishments: tuple[Establishment, ...]

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> MerchantAccounts:
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
    nit: str
    merchant_name: str | None
    establishment_id: int
    establishment_name: str | None
    accounts: tuple[Account, ...]

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> CreatedAccounts:
        return cls(
            nit=obj["nit"],
            merchant_name=obj["merchant_name"],
            establishment_id=obj["establishment_id"],
            establishment_name=obj["establishment_name"],
            accounts=tuple(Account.from_json(a) for a in obj["accounts"]),
        )


@dataclass(frozen=True)
class StatusChanged:
    account_number: str
    status: AccountStatus
    raw_status: str

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> StatusChanged:
        return cls(
            account_number=obj["account_number"],
            status=AccountStatus.from_json(obj["status"]),
            raw_status=obj["raw_status"],
        )


@dataclass(frozen=True)
class Party:
    account: str | None
    document_id: str | None
    name: str | None
    bank_code: str | None
    bank_name: str | None

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> Party:
        return cls(
            account=obj["account"],
            document_id=obj["document_id"],
            name=obj["name"],
            bank_code=obj["bank_code"],
            bank_name=obj["bank_name"],
        )


@dataclass(frozen=True)
class Movement:
    transaction_id: str | None
    operation_type: str
    status: PaymentStatus
    raw_status: str
    message: str | None
    transaction_at: str | None
    amount: Decimal
    fee: Decimal | None
    total: Decimal | None
    currency: str | None
    origin: Party
    destination: Party
    reference: str | None
    ach_order_number: str | None
    recipient_order_number: str | None

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> Movement:
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
    account_number: str
    status: AccountStatus
    raw_status: str | None
    currency: str | None
    available: Decimal
    booked: Decimal
    held: Decimal
    last_credit_at: str | None
    last_debit_at: str | None

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> Balance:
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
    movements: tuple[Movement, ...]
    balances: tuple[Balance, ...]

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> Reconciliation:
        return cls(
            movements=tuple(Movement.from_json(m) for m in obj["movements"]),
            balances=tuple(Balance.from_json(b) for b in obj["balances"]),
        )


def to_jsonable(value: Any) -> Any:
    """A result (record, list, enum, amount) as plain JSON data, with the engine's member names.

    Amounts become decimal text, never floats.
    """
    if dataclasses.is_dataclass(value) and not isinstance(value, type):
        return {f.name: to_jsonable(getattr(value, f.name)) for f in dataclasses.fields(value)}
    if isinstance(value, Enum):
        return value.value
    if isinstance(value, Decimal):
        return format(value, "f")
    if isinstance(value, Sequence) and not isinstance(value, str):
        return [to_jsonable(v) for v in value]
    return value
