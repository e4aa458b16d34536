"""Results as columnar tables, for pyarrow, pandas, polars, DuckDB and CSV files.

``client.tables.debits(...)`` (and ``credits``, ``balances``,
``list_accounts``, ``reconcile``) gives a :class:`Table`: the engine builds
its columns from the gateway's answer in the same pass that decodes and
converts each record, with no Python object per value. A table speaks the
Arrow PyCapsule interface, so any Arrow-aware library reads it without a
copy, as many times as wanted::

    import pyarrow as pa, polars as pl, duckdb

    t = client.tables.debits(nit=..., account_number=..., date_from=..., date_to=...)
    pa.table(t)
    pl.DataFrame(t)
    duckdb.sql("select currency, sum(amount) from t group by currency")

None of those libraries is needed by the package itself: :meth:`Table.to_arrow`,
:meth:`Table.to_pandas` and :meth:`Table.to_polars` import theirs when called
and raise :class:`~quillon.accounts.errors.MissingExtraError` (an
``ImportError``) naming what to install when it is missing.
:meth:`Table.write_csv` and :meth:`Table.write_jsonl` need none of them.

Columns are named after the result fields. Amounts are ``decimal128(38, S)``,
``S`` the largest scale of the column, every value rescaled exactly (an amount
column that would need more than 38 digits is text instead); ``transaction_at``
is a ``timestamp[us]`` when every value of the column is an ISO 8601 local
date-time, text otherwise; status words and currencies are dictionary-encoded
texts; the parties ``origin`` and ``destination`` are struct columns; absent
values are nulls.
"""

from __future__ import annotations

import io
import os
from dataclasses import dataclass
from typing import IO, Any, NamedTuple

from quillon.accounts import _objects
from quillon.accounts.errors import MissingExtraError

__all__ = ["ARROW_EXTRA", "Column", "ReconciliationTables", "Table"]

ARROW_EXTRA = "pip install 'quillon-accounts[arrow]'"
"""What installs pyarrow for the methods that need it."""


class Column(NamedTuple):
    """One column of a :class:`Table`: its name, readable type and whether it may hold nulls.

    The type reads like Arrow's: ``string``, ``dictionary<string>``, ``uint64``,
    ``decimal128(38, 2)``, ``timestamp[us]``, ``struct<account: string, ...>``.
    For a full Arrow schema use ``table.to_arrow().schema``.
    """

    name: str
    """The column's name: the result field's, such as ``amount`` or ``origin``."""
    type: str
    """The column's type as Arrow names it, such as ``decimal128(38, 2)``."""
    nullable: bool
    """Whether the column may hold nulls (absent values)."""


def _need(module: str, method: str, install: str) -> Any:
    """``module`` imported, or the one-line error naming what ``method`` needs."""
    try:
        return __import__(module)
    except ImportError:
        raise MissingExtraError(f"Table.{method} needs {module}: {install}") from None


def _pyarrow(method: str) -> Any:
    return _need("pyarrow", method, ARROW_EXTRA)


class Table:
    """A columnar result: one or more record batches (one per request) of one kind of record.

    Immutable and safe to share between threads. It can be read any number of
    times through ``__arrow_c_stream__``; each read is a new, independent stream
    over the same buffers.
    """

    __slots__ = ("_columns",)

    def __init__(self, columns: _objects.Columns) -> None:
        if not isinstance(columns, _objects.Columns):
            raise TypeError(f"a Table is made from the engine's Columns, not {type(columns)!r}")
        self._columns = columns

    def __len__(self) -> int:
        return len(self._columns)

    @property
    def kind(self) -> str:
        """The kind of record of each row: "movements", "balances" or "accounts"."""
        return self._columns.kind

    @property
    def column_names(self) -> tuple[str, ...]:
        """The columns' names, in order: the result fields."""
        return self._columns.column_names

    @property
    def schema(self) -> tuple[Column, ...]:
        """The columns' names, readable types and nullability, in order."""
        return tuple(Column(*field) for field in self._columns.schema_fields())

    @property
    def num_batches(self) -> int:
        """How many record batches the table holds (one per gateway request)."""
        return self._columns.num_batches

    def __arrow_c_schema__(self) -> object:
        """The table's Arrow schema as a PyCapsule (the Arrow PyCapsule interface)."""
        return self._columns.__arrow_c_schema__()

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object:
        """A new Arrow stream of the table's batches, as a PyCapsule.

        ``requested_schema`` is accepted as the interface asks; the table's own
        schema is always the one given.
        """
        return self._columns.__arrow_c_stream__(requested_schema)

    def to_pylist(self) -> list[dict[str, Any]]:
        """The rows as dicts in column order, values as pyarrow's ``to_pylist`` gives them:
        ``Decimal`` amounts, naive ``datetime`` timestamps, dicts for the parties,
        None for nulls. Needs no pyarrow."""
        return self._columns.to_pylist()

    def to_arrow(self) -> Any:
        """The table as a ``pyarrow.Table`` (no copy of the buffers). Needs pyarrow."""
        return _pyarrow("to_arrow").table(self)

    def to_pandas(self) -> Any:
        """The table as a ``pandas.DataFrame``, through pyarrow with its default mapping.

        Amount columns come out as columns of ``decimal.Decimal`` objects (exact, but
        object dtype), timestamps as ``datetime64``, parties as dicts. Needs pyarrow and
        pandas.
        """
        arrow = _pyarrow("to_pandas")
        _need("pandas", "to_pandas", "pip install pandas")
        return arrow.table(self).to_pandas()

    def to_polars(self) -> Any:
        """The table as a ``polars.DataFrame`` (amounts as ``Decimal`` columns). Needs polars."""
        polars = _need("polars", "to_polars", "pip install polars")
        return polars.DataFrame(self)

    def write_csv(self, path_or_file: str | os.PathLike[str] | IO[bytes] | IO[str]) -> None:
        """Writes the table as CSV (RFC 4180), made by the engine; needs no pyarrow.

        A header row of the column names, parties flattened as ``origin.account``,
        ``origin.name``...; amounts as their exact decimal text, ``transaction_at``
        as the gateway wrote it, nulls as empty fields; fields quoted where needed,
        lines ended by CRLF. ``path_or_file`` is a path (the file is replaced) or an
        open file: a binary one gets the UTF-8 bytes, a text one the text (open it
        with ``newline=""`` so that line ends are kept).
        """
        _write(self._columns.csv(), path_or_file)

    def write_jsonl(self, path_or_file: str | os.PathLike[str] | IO[bytes] | IO[str]) -> None:
        """Writes the table as JSON Lines: one compact JSON object per row, members in
        column order, amounts as JSON strings of their exact text, parties as nested
        objects, nulls as null. ``path_or_file`` as for :meth:`write_csv`."""
        _write(self._columns.jsonl(), path_or_file)

    def __repr__(self) -> str:
        names = self.column_names
        shown = ", ".join(names if len(names) <= 6 else (*names[:5], "..."))
        rows = len(self)
        return (
            f"<Table of {self.kind}: {rows:,} row{'s' if rows != 1 else ''}, "
            f"{len(names)} columns ({shown})>"
        )


def _write(data: bytes, target: str | os.PathLike[str] | IO[bytes] | IO[str]) -> None:
    if isinstance(target, (str, os.PathLike)):
        with open(target, "wb") as f:
            f.write(data)
        return
    if isinstance(target, io.TextIOBase):
        target.write(data.decode("utf-8"))
        return
    write = getattr(target, "write", None)
    if not callable(write):
        raise TypeError(f"expected a path or an open file, not {type(target).__name__}")
    try:
        write(data)
    except TypeError:  # a text file that is not an io.TextIOBase
        write(data.decode("utf-8"))


@dataclass(frozen=True)
class ReconciliationTables:
    """A reconciliation as two tables: its movements and the accounts' balances."""

    movements: Table
    """The movements of the period, one row each, in the gateway's order."""
    balances: Table
    """The balances of the merchant's accounts, one row per account."""

    def __repr__(self) -> str:
        return (
            f"ReconciliationTables(movements={len(self.movements):,} rows, "
            f"balances={len(self.balances):,} rows)"
        )
