"""Results made straight from the gateway's answer bytes.

The ``_objects`` extension decodes a successful answer and builds the result
objects of :mod:`quillon.accounts.models` in the same pass, with no JSON text
in between. It answers None for anything else (a failed answer, a body that
does not decode, a payload of another shape); the engine's ``call`` then
gives the result or the error, exactly as it always did.
"""

from __future__ import annotations

import codecs
import dataclasses
import functools
from decimal import Decimal
from typing import Any

from quillon.accounts import _objects, models


def _bind() -> bool:
    classes = {name: getattr(models, name, None) for name in _objects.FIELDS}
    for name, cls in classes.items():
        if not (isinstance(cls, type) and dataclasses.is_dataclass(cls)):
            return False
        if tuple(f.name for f in dataclasses.fields(cls)) != _objects.FIELDS[name]:
            return False
    _objects.bind(Decimal, models.AccountStatus, models.PaymentStatus, classes)
    return True


READY = _bind()


@functools.lru_cache(maxsize=16)
def _is_utf8(encoding: str) -> bool:
    try:
        return codecs.lookup(encoding).name == "utf-8"
    except LookupError:
        return False


def from_bytes(operation: str, status: int, body: bytes, encoding: str | None) -> Any | None:
    """The result of ``operation`` from the answer, or None to leave it to the engine's ``call``.

    ``encoding`` is the one the body's text is read with; only UTF-8 bodies
    are taken here, since only for them are the bytes the text.
    """
    if not READY or not _is_utf8(encoding or "utf-8"):
        return None
    return _objects.parse(operation, status, body)
