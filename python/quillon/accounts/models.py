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
    BLOCKED = "blocked"
    SUSPENDED = "suspended"
    CLOSED = "closed"
    UNKNOWN = "unknown"

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

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        return {"nit": self.nit}


@dataclass(frozen=True)
class AccountRef:
    """Input of ``accounts.get``: the merchant's NIT (7 to 20 digits) and an account number
    (8 to 20 digits)."""

    nit: str
    account_number: str

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        return {"nit": self.nit, "account_number": self.account_number}


@dataclass(frozen=True)
class NewAccount:
    """An account to open: its ``alias`` and its ``category`` (each 1 to 45 characters).

    Accounts are opened in bolivianos (currency "068").
    """

    alias: str
    category: str

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
    establishment_id: int
    accounts: tuple[NewAccount, ...]

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
    status: AccountStatus | str
    reason: str

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
    changes: tuple[StatusChange, ...]

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        return {"nit": self.nit, "changes": [c.to_json() for c in self.changes]}


@dataclass(frozen=True)
class MerchantRange:
    """Input of ``accounts.reconcile``: the merchant ``nit`` and a period of at most 7 days.

    ``date_from`` and ``date_to`` are "yyyy-mm-dd" texts, both days included; their
    difference may be at most 7 days."""

    nit: str
    date_from: str
    date_to: str

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        return {"nit": self.nit, "date_from": self.date_from, "date_to": self.date_to}


@dataclass(frozen=True)
class AccountRange:
    """Input of ``accounts.debits`` and ``accounts.credits``: one account over a period.

    ``date_from`` and ``date_to`` are "yyyy-mm-dd" texts, both days included; their
    difference may be at most 31 days."""

    nit: str
    account_number: str
    date_from: str
    date_to: str

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
    account_numbers: tuple[str, ...]

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
    """One account.

    ``number`` is the account number (digits); ``alias`` the name the merchant gave it
    (None when the gateway sent none); ``status`` the normalised status and
    ``raw_status`` the gateway's own word for it, trimmed (such as "ACTIVA")."""

    number: str
    alias: str | None
    status: AccountStatus
    raw_status: str | None

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
    """The answer to ``get_account``: one account with its merchant and establishment.

    ``nit`` is the merchant's tax number, ``merchant_name`` its name;
    ``establishment_id`` and ``establishment_name`` identify the establishment that
    holds the account (None when the gateway left them out)."""

    nit: str
    merchant_name: str | None
    establishment_id: int | None
    establishment_name: str | None
    account: Account

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
    """One establishment (branch) of a merchant: its numeric ``id``, its ``name`` and its
    accounts in the gateway's order."""

    id: int
    name: str | None
    accounts: tuple[Account, ...]

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
    """The answer to ``list_accounts``: the merchant (``nit``, ``merchant_name``) and its
    establishments with their accounts; :meth:`accounts` flattens them."""

    nit: str
    merchant_name: str | None
    establishments: tuple[Establishment, ...]

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
    merchant_name: str | None
    establishment_id: int
    establishment_name: str | None
    accounts: tuple[Account, ...]

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
    """One entry of the answer to ``set_status``: the account's status now.

    ``raw_status`` is the gateway's word exactly as received."""

    account_number: str
    status: AccountStatus
    raw_status: str

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
    """One side of a movement: the account, the holder's identity document number
    (``document_id``), name, and the bank by code and name. Each is None when the
    gateway sent nothing (or blanks) for it."""

    account: str | None
    document_id: str | None
    name: str | None
    bank_code: str | None
    bank_name: str | None

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
    """One debit or credit.

    - ``transaction_id``: the gateway's identifier of the transaction.
    - ``operation_type``: the gateway's word for the kind of movement (such as "DEBITO").
    - ``status``: the normalised state of the payment; ``raw_status`` the gateway's word.
    - ``message``: the gateway's remark (a rejection reason, say), or None.
    - ``transaction_at``: date and time as the gateway wrote it, such as
      "2024-01-04T15:26:08" (local time of the gateway; no zone is given);
      ``transaction_datetime`` gives it as a :class:`datetime.datetime`.
    - ``amount``: the amount moved; ``fee`` the commission charged; ``total`` the amount
      with the fee. Exact decimals in the account's currency units (not cents).
    - ``currency``: the currency as the gateway codes it (ISO 4217 numeric, "068" for
      the boliviano).
    - ``origin`` and ``destination``: the paying and the receiving side.
    - ``reference``: the payer's reference; ``ach_order_number`` and
      ``recipient_order_number``: the clearing house's and the receiving bank's order numbers."""

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
    """The balances of one account, exact decimals in the currency's units (not cents).

    - ``booked``: the ledger balance, every movement posted so far.
    - ``held``: the part of ``booked`` that is retained (held funds, pending debits)
      and cannot be spent yet.
    - ``available``: what can be spent or transferred now (normally ``booked - held``).
    - ``currency``: ISO 4217 numeric code as the gateway sends it ("068": boliviano).
    - ``status`` / ``raw_status``: the account's normalised status and the gateway's word.
    - ``last_credit_at`` / ``last_debit_at``: day (or time) of the last credit and debit,
      as the gateway wrote them, or None."""

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
    balances: tuple[Balance, ...]

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
