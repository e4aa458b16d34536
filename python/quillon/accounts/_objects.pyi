from collections.abc import Sequence
from typing import Any, Literal, final, overload

FIELDS: dict[str, tuple[str, ...]]

TableOperation = Literal[
    "accounts.debits",
    "accounts.credits",
    "accounts.balances",
    "accounts.list",
    "accounts.reconcile",
]

@final
class Columns:
    """A table of results: record batches of one kind of record.

    Immutable and safe to read from any thread. Exported through the Arrow
    PyCapsule interface; every call of ``__arrow_c_stream__`` gives a new,
    independent stream of all the batches.
    """

    def __len__(self) -> int: ...
    @property
    def num_batches(self) -> int: ...
    @property
    def kind(self) -> Literal["movements", "balances", "accounts"]: ...
    @property
    def column_names(self) -> tuple[str, ...]: ...
    def __arrow_c_schema__(self) -> object: ...
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...
    def schema_fields(self) -> list[tuple[str, str, bool]]:
        """(name, type as pyarrow names it, nullable) of each column."""
    def to_pylist(self) -> list[dict[str, Any]]:
        """The rows, with the values pyarrow's ``to_pylist`` gives for the export."""
    def csv(self) -> bytes:
        """RFC 4180 CSV: header row, CRLF line ends, UTF-8 without BOM."""
    def jsonl(self) -> bytes:
        """One compact JSON object per row, each followed by LF."""

def bind(
    decimal: type[Any],
    account_status: type[Any],
    payment_status: type[Any],
    classes: dict[str, Any],
) -> bool:
    """Sets the types this module object makes results of: all of them, or
    (raising) none, an earlier binding then left whole."""

def parse(op: str, status: int, body: bytes) -> Any | None:
    """The result objects of a successful answer, or None to leave it to the
    engine's ``call``: also whenever a class the answer needs no longer has
    the ``__new__`` and ``__init__`` it was bound with, or has a
    ``__post_init__``. Raises RuntimeError before ``bind``."""

@overload
def table(
    operation: Literal["accounts.reconcile"], status: int, body: bytes
) -> tuple[Columns, Columns] | None: ...
@overload
def table(
    operation: Literal["accounts.debits", "accounts.credits", "accounts.balances", "accounts.list"],
    status: int,
    body: bytes,
) -> Columns | None: ...
@overload
def table(operation: str, status: int, body: bytes) -> Columns | tuple[Columns, Columns] | None:
    """The table of a successful list answer ("accounts.reconcile": movements
    and balances), or None when the engine's ``call`` is to report the answer.
    ``body`` is the UTF-8 JSON body. Raises ValueError for another operation."""

def concat(parts: Sequence[Columns]) -> Columns:
    """The batches of tables of one kind, in order, as one table.
    Raises ValueError for no tables or tables of different kinds."""

@overload
def empty(operation: Literal["accounts.reconcile"]) -> tuple[Columns, Columns]: ...
@overload
def empty(
    operation: Literal["accounts.debits", "accounts.credits", "accounts.balances", "accounts.list"],
) -> Columns: ...
@overload
def empty(operation: str) -> Columns | tuple[Columns, Columns]:
    """An empty table (one batch of no rows) of the kind the operation gives."""
