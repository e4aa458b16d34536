"""Results as plain JSON-ready data, and back.

``to_data`` turns any result (a record, or the list a list operation returns)
into dicts, lists, texts, integers, booleans and None, ready for
``json.dumps``; ``from_data`` turns that data back into the same typed
result::

    movements = client.debits(...)
    text = json.dumps(to_data(movements))
    assert from_data(list[Movement], json.loads(text)) == movements

Member names are the records' attribute names. Amounts become exact decimal
text ("1500.25", never a float), statuses their word ("paid"), dates and times
stay the texts the gateway sent. The conversion follows each record's type
annotations, so it covers every result type of :mod:`quillon.accounts.models`.
"""

from __future__ import annotations

import dataclasses
import types
import typing
from collections.abc import Mapping
from decimal import Decimal, InvalidOperation
from enum import Enum
from typing import Any, TypeVar, Union, cast, overload

__all__ = ["from_data", "from_dict", "to_data", "to_dict"]

T = TypeVar("T")


def to_data(value: Any) -> Any:
    """``value`` as JSON-ready data: records become dicts, sequences lists, amounts texts."""
    if isinstance(value, Enum):
        return value.value
    if isinstance(value, Decimal):
        return format(value, "f")
    if isinstance(value, (str, int, float, bool)) or value is None:
        return value
    if isinstance(value, Mapping):
        return {str(k): to_data(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [to_data(v) for v in value]
    if not isinstance(value, type):
        names = _field_names(type(value))
        if names is not None:
            return {name: to_data(getattr(value, name)) for name in names}
    raise TypeError(f"cannot export a {type(value).__name__}")


def to_dict(record: Any) -> dict[str, Any]:
    """One result record as a JSON-ready dict (see :func:`to_data`)."""
    data = to_data(record)
    if not isinstance(data, dict):
        raise TypeError(f"to_dict takes a result record, not a {type(record).__name__}")
    return data


def from_dict(cls: type[T], data: Mapping[str, Any]) -> T:
    """The record of type ``cls`` that :func:`to_dict` gave ``data`` for."""
    return cast(T, _load(cls, data, cls.__name__))


@overload
def from_data(tp: type[T], data: Any) -> T: ...
@overload
def from_data(tp: Any, data: Any) -> Any: ...
def from_data(tp: Any, data: Any) -> Any:
    """The typed value of type ``tp`` (such as ``list[Movement]``) that :func:`to_data` gave
    ``data`` for. Raises ``ValueError`` naming the member that does not fit."""
    return _load(tp, data, getattr(tp, "__name__", str(tp)))


# The record types' members, from their dataclass fields or, failing that,
# their annotations: whichever way a record class is written, its annotated
# attributes are its members and its constructor takes them by name.


def _field_names(cls: type) -> tuple[str, ...] | None:
    hints = _hints(cls)
    return None if hints is None else tuple(hints)


_HINTS: dict[type, dict[str, Any] | None] = {}


def _hints(cls: type) -> dict[str, Any] | None:
    try:
        return _HINTS[cls]
    except KeyError:
        hints = _HINTS[cls] = _read_hints(cls)
        return hints


def _read_hints(cls: type) -> dict[str, Any] | None:
    if dataclasses.is_dataclass(cls):
        names = [f.name for f in dataclasses.fields(cls)]
    elif getattr(cls, "__module__", "").startswith("quillon.accounts"):
        names = [n for n in getattr(cls, "__annotations__", {}) if not n.startswith("_")]
    else:
        return None
    try:
        hints = typing.get_type_hints(cls)
    except NameError:  # an annotation that cannot be resolved
        return None
    return {name: hints[name] for name in names if name in hints}


def _load(tp: Any, data: Any, where: str) -> Any:
    origin = typing.get_origin(tp)
    if origin is Union or origin is types.UnionType:
        args = typing.get_args(tp)
        if data is None and type(None) in args:
            return None
        options = [a for a in args if a is not type(None)]
        if len(options) == 1:
            return _load(options[0], data, where)
        return _load_first(options, data, where)
    if origin in (list, tuple):
        if not isinstance(data, list):
            raise ValueError(f"{where}: expected a list, got {type(data).__name__}")
        args = typing.get_args(tp)
        item = args[0] if args else Any
        items = [_load(item, v, f"{where}[{i}]") for i, v in enumerate(data)]
        return items if origin is list else tuple(items)
    if tp is Any:
        return data
    if isinstance(tp, type):
        return _load_type(tp, data, where)
    raise TypeError(f"{where}: cannot load a {tp!r}")


def _load_first(options: list[Any], data: Any, where: str) -> Any:
    for option in options:
        try:
            return _load(option, data, where)
        except (TypeError, ValueError):
            continue
    raise ValueError(f"{where}: {data!r} fits none of {options!r}")


def _load_type(tp: type, data: Any, where: str) -> Any:
    if issubclass(tp, Enum):
        try:
            return tp(data)
        except ValueError:
            raise ValueError(f"{where}: {data!r} is not a {tp.__name__}") from None
    if tp is Decimal:
        if not isinstance(data, str):
            raise ValueError(f"{where}: an amount must be decimal text, got {data!r}")
        try:
            return Decimal(data)
        except InvalidOperation:
            raise ValueError(f"{where}: {data!r} is not a decimal amount") from None
    if tp in (str, bool):
        if not isinstance(data, tp):
            raise ValueError(f"{where}: expected {tp.__name__}, got {data!r}")
        return data
    if tp is int:
        if not isinstance(data, int) or isinstance(data, bool):
            raise ValueError(f"{where}: expected an integer, got {data!r}")
        return data
    hints = _hints(tp)
    if hints is None:
        raise TypeError(f"{where}: cannot load a {tp.__name__}")
    if not isinstance(data, Mapping):
        raise ValueError(f"{where}: expected an object, got {type(data).__name__}")
    missing = [name for name in hints if name not in data]
    if missing:
        raise ValueError(f"{where}: missing member {missing[0]!r}")
    return tp(**{name: _load(hint, data[name], f"{where}.{name}") for name, hint in hints.items()})
