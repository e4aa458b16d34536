"""Caller mistakes in input records, refused before the engine is called.

The engine refuses them too, but as a malformed payload; here they become a
:class:`ValidationError` that names the field and, for a status, lists the
words that are accepted.
"""

from __future__ import annotations

import dataclasses
import functools
from collections.abc import Mapping
from typing import Any, TypeVar

from quillon.accounts.errors import ValidationError
from quillon.accounts.models import AccountStatus, NewAccount, StatusChange

__all__ = ["check_input", "coerce"]

_SETTABLE = tuple(s.value for s in AccountStatus if s is not AccountStatus.UNKNOWN)
_MAX_ID = 2**64 - 1

Record = TypeVar("Record", NewAccount, StatusChange)


def _shown(value: object) -> str:
    text = repr(value)
    return text if len(text) <= 40 else text[:37] + "..."


def _check_value(name: str, field: str, value: object) -> None:
    if name == "establishment_id":
        if isinstance(value, bool) or not isinstance(value, int):
            raise ValidationError(f"must be an int, not {type(value).__name__}", field=field)
        if not 1 <= value <= _MAX_ID:
            raise ValidationError(f"must lie between 1 and {_MAX_ID}", field=field)
    elif name == "status":
        if isinstance(value, AccountStatus):
            return
        if not isinstance(value, str) or value not in (*_SETTABLE, AccountStatus.UNKNOWN.value):
            raise ValidationError(
                f"unknown status {_shown(value)}; valid: {', '.join(_SETTABLE)}", field=field
            )
    elif not isinstance(value, str):
        raise ValidationError(f"must be a text, not {type(value).__name__}", field=field)


@functools.lru_cache(maxsize=64)
def _field_names(kind: type) -> tuple[str, ...] | None:
    """The fields of a record class, None for any other class."""
    if not dataclasses.is_dataclass(kind):
        return None
    return tuple(f.name for f in dataclasses.fields(kind))


# Fields whose values are checked for more than being texts.
_SPECIAL = frozenset({"establishment_id", "status"})


def check_input(record: Any, prefix: str = "") -> None:
    """Raises ValidationError for a field of ``record`` of the wrong type or an unknown word."""
    kind: type = type(record)
    names = _field_names(kind)
    if names is None:
        return
    for name in names:
        value = getattr(record, name)
        if type(value) is str and name not in _SPECIAL:
            continue
        field = prefix + name
        if isinstance(value, (tuple, list)):
            for item in value:
                if dataclasses.is_dataclass(item):
                    check_input(item, field + ".")
                else:
                    _check_value(name, field, item)
        else:
            _check_value(name, field, value)


def coerce(kind: type[Record], value: Record | Mapping[str, Any], field: str) -> Record:
    """``value`` as a record of ``kind``, a mapping taken by the record's field names."""
    if isinstance(value, kind):
        return value
    if not isinstance(value, Mapping):
        raise TypeError(
            f"{field} must hold {kind.__name__} records or mappings, not {type(value).__name__}"
        )
    names = [f.name for f in dataclasses.fields(kind)]
    for name in names:
        if name not in value:
            raise ValidationError("is missing", field=f"{field}.{name}")
    return kind(**{name: value[name] for name in names})
