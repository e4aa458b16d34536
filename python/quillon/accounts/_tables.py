"""Readable text tables for the results, used by the command line and the demo."""

from __future__ import annotations

from collections.abc import Sequence
from decimal import Decimal
from enum import Enum
from typing import Any

from quillon.accounts._terminal import printable
from quillon.accounts.models import (
    Balance,
    CreatedAccounts,
    MerchantAccount,
    MerchantAccounts,
    Movement,
    Reconciliation,
    StatusChanged,
)

__all__ = ["render", "table"]


def _cell(value: Any) -> str:
    if value is None:
        return "-"
    if isinstance(value, Enum):
        return str(value.value)
    if isinstance(value, Decimal):
        return f"{value:,.2f}"
    # A line feed in a gateway text (an alias, say) must not start a row of its own.
    return printable(str(value), lines=False)


def table(
    headers: Sequence[str], rows: Sequence[Sequence[Any]], numeric: Sequence[int] = ()
) -> str:
    """A plain text table; the columns listed in ``numeric`` are aligned right."""
    cells = [[_cell(v) for v in row] for row in rows]
    widths = [len(h) for h in headers]
    for row in cells:
        for i, text in enumerate(row):
            widths[i] = max(widths[i], len(text))

    def line(values: Sequence[str]) -> str:
        parts = [
            v.rjust(widths[i]) if i in numeric else v.ljust(widths[i]) for i, v in enumerate(values)
        ]
        return "  ".join(parts).rstrip()

    out = [line(list(headers)), line(["-" * w for w in widths])]
    out.extend(line(row) for row in cells)
    if not rows:
        out.append("(none)")
    return "\n".join(out)


def _fields(pairs: Sequence[tuple[str, Any]]) -> str:
    width = max(len(k) for k, _ in pairs)
    return "\n".join(f"{k.ljust(width)}  {_cell(v)}" for k, v in pairs)


def _movements(items: Sequence[Movement]) -> str:
    rows = [
        (
            m.transaction_at,
            m.transaction_id,
            m.operation_type,
            m.status,
            m.amount,
            m.fee,
            m.currency,
            m.origin.name,
            m.destination.name,
            m.reference,
        )
        for m in items
    ]
    headers = ("when", "transaction", "type", "status", "amount", "fee", "cur", "from", "to", "ref")
    return table(headers, rows, numeric=(4, 5))


def _balances(items: Sequence[Balance]) -> str:
    rows = [
        (
            b.account_number,
            b.status,
            b.currency,
            b.available,
            b.booked,
            b.held,
            b.last_credit_at,
            b.last_debit_at,
        )
        for b in items
    ]
    headers = (
        "account",
        "status",
        "cur",
        "available",
        "booked",
        "held",
        "last credit",
        "last debit",
    )
    return table(headers, rows, numeric=(3, 4, 5))


def render(result: Any) -> str:
    """The result of any operation as text."""
    if isinstance(result, MerchantAccount):
        acc = result.account
        return _fields(
            [
                ("nit", result.nit),
                ("merchant", result.merchant_name),
                (
                    "establishment",
                    f"{_cell(result.establishment_id)} {_cell(result.establishment_name)}",
                ),
                ("account", acc.number),
                ("alias", acc.alias),
                ("status", f"{acc.status.value} ({_cell(acc.raw_status)})"),
            ]
        )
    if isinstance(result, MerchantAccounts):
        est_rows: list[tuple[Any, ...]] = [
            (e.id, e.name, a.number, a.alias, a.status, a.raw_status)
            for e in result.establishments
            for a in e.accounts
        ]
        head = f"{_cell(result.nit)}  {_cell(result.merchant_name)}"
        headers = ("est.", "establishment", "account", "alias", "status", "gateway word")
        body = table(headers, est_rows)
        return f"{head}\n{body}"
    if isinstance(result, CreatedAccounts):
        head = (
            f"{_cell(result.nit)}  {_cell(result.merchant_name)}  establishment "
            f"{result.establishment_id} "
            f"{_cell(result.establishment_name)}"
        )
        rows = [(a.number, a.alias, a.status, a.raw_status) for a in result.accounts]
        return f"{head}\n{table(('account', 'alias', 'status', 'gateway word'), rows)}"
    if isinstance(result, Reconciliation):
        return (
            f"movements ({len(result.movements)})\n{_movements(result.movements)}\n\n"
            f"balances ({len(result.balances)})\n{_balances(result.balances)}"
        )
    if isinstance(result, list):
        if all(isinstance(x, StatusChanged) for x in result) and result:
            changed = [(s.account_number, s.status, s.raw_status) for s in result]
            return table(("account", "status", "gateway word"), changed)
        if all(isinstance(x, Movement) for x in result):
            return _movements(result)
        if all(isinstance(x, Balance) for x in result):
            return _balances(result)
    if isinstance(result, dict):
        return _fields(list(result.items())) if result else "(empty)"
    return str(result)
