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
        # The objects are made without __init__: a class that does more
        # there than store its fields is left to the engine's call.
        if not (isinstance(cls, type) and dataclasses.is_dataclass(cls)):
            return False
        if hasattr(cls, "__post_init__"):
            return False
        if tuple(f.name for f in dataclasses.fields(cls)) != _objects.FIELDS[name]:
            return False
    # Each interpreter binds its own module object. Every call then checks
    # that the classes still make their objects as they did here (the same
    # __new__ and __init__, no __post_init__) and otherwise answers None.
    return _objects.bind(Decimal, models.AccountStatus, models.PaymentStatus, classes)


READY = _bind()


@functools.lru_cache(maxsize=16)
def _is_utf8(charset: str) -> bool:
    try:
        return codecs.lookup(charset).name == "utf-8"
    except LookupError:  # an unknown charset is read as UTF-8
        return True


def from_bytes(operation: str, status: int, body: bytes, charset: str | None) -> Any | None:
    """The result of ``operation`` from the answer, or None to leave it to the engine's ``call``.

    ``charset`` is the one the answer declares; the body's text is read as
    UTF-8 when it declares none or one unknown. Only UTF-8 bodies are taken
    here, since only for them are the bytes the text.
    """
    if not READY or not (charset is None or _is_utf8(charset)):
        return None
    return _objects.parse(operation, status, body)
