"""The ``_objects`` module as an object of the interpreter: records the collector
can free, a state of its own per module object, all-or-nothing binding, and a
per-call check that the bound classes still make their objects as the call
path would."""

from __future__ import annotations

import gc
import importlib.util
import json
import subprocess
import sys
import weakref
from collections.abc import Callable, Iterator
from decimal import Decimal
from pathlib import Path
from types import ModuleType
from typing import Any

import pytest

from quillon.accounts import _fast_results, _objects, models
from test_fast_results import BALANCES, MANY

RECONCILE = json.dumps({"code": "00", "data": [MANY, BALANCES]}).encode()
DEBITS = json.dumps({"code": "00", "data": MANY}).encode()
CLASSES = {name: getattr(models, name) for name in _objects.FIELDS}
STATUSES = (Decimal, models.AccountStatus, models.PaymentStatus)


class Node:
    """A user's object that points back at a result: a reference cycle."""

    def __init__(self, back: object) -> None:
        self.back = back


def attach(record: object) -> None:
    object.__setattr__(record, "note", Node(record))


@pytest.mark.parametrize(
    "pick",
    [lambda r: r, lambda r: r.movements[0], lambda r: r.balances[2]],
    ids=["reconciliation", "movement", "balance"],
)
def test_a_cycle_through_a_result_is_freed(pick: Callable[[Any], object]) -> None:
    result = _objects.parse("accounts.reconcile", 200, RECONCILE)
    record = pick(result)
    attach(record)
    watch = weakref.ref(record.__dict__["note"])
    del result, record
    gc.collect()
    assert watch() is None


def test_only_records_of_atoms_are_left_to_reference_counting() -> None:
    result = _objects.parse("accounts.reconcile", 200, RECONCILE)
    assert result is not None
    movement = result.movements[0]
    assert gc.is_tracked(result)
    assert gc.is_tracked(movement)  # holds a status enum and its parties
    assert not gc.is_tracked(movement.origin)  # texts only


def fresh_module() -> ModuleType:
    """A second module object of the same extension."""
    assert _objects.__file__ is not None
    found = importlib.util.spec_from_file_location("_objects", _objects.__file__)
    assert found is not None
    assert found.loader is not None
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def refuses(*changes: Any) -> list[tuple[Any, ...]]:
    """bind() arguments with one part replaced by something that cannot be bound."""
    classes = dict(CLASSES)
    without = {k: v for k, v in classes.items() if k != "Balance"}

    def loud(word: str) -> object:
        if word == "closed":  # after a few have been made
            raise ValueError(word)
        return models.AccountStatus(word)

    return [
        (*STATUSES, {**classes, "Movement": None}),
        (*STATUSES, without),
        (Decimal, loud, models.PaymentStatus, classes),
        (Decimal, models.AccountStatus, models.PaymentStatus, {**classes, "Party": 3}),
        *changes,
    ]


def test_each_module_object_has_its_own_binding() -> None:
    other = fresh_module()
    with pytest.raises(RuntimeError):
        other.parse("accounts.debits", 200, DEBITS)
    for args in refuses():
        with pytest.raises((TypeError, ValueError)):
            other.bind(*args)
        # a failed bind binds nothing
        with pytest.raises(RuntimeError):
            other.parse("accounts.debits", 200, DEBITS)
    assert other.bind(*STATUSES, CLASSES) is True
    for args in refuses():  # nor undoes the binding made before
        with pytest.raises((TypeError, ValueError)):
            other.bind(*args)
    assert other.parse("accounts.debits", 200, DEBITS) == _objects.parse(
        "accounts.debits", 200, DEBITS
    )
    table = other.table("accounts.debits", 200, DEBITS)
    assert type(table) is other.Columns
    assert type(table) is not _objects.Columns
    with pytest.raises(TypeError):
        other.concat([_objects.table("accounts.debits", 200, DEBITS)])
    # Its function keeps it alive; once both are gone the collector clears
    # its state, and the package's module is unharmed.
    parse = other.parse
    del other, table
    gc.collect()
    assert parse("accounts.debits", 200, DEBITS)
    del parse
    gc.collect()
    assert _fast_results.from_bytes("accounts.debits", 200, DEBITS, None) == _objects.parse(
        "accounts.debits", 200, DEBITS
    )


def patched_init(cls: type) -> Callable[..., None]:
    plain = next(vars(k)["__init__"] for k in cls.__mro__ if "__init__" in vars(k))

    def init(self: Any, *args: Any, **kwargs: Any) -> None:
        plain(self, *args, **kwargs)
        object.__setattr__(self, "seen", True)

    return init


def changes() -> Iterator[tuple[str, str, Callable[[type], object]]]:
    for cls in ("Movement", "Party"):
        yield cls, "__init__", patched_init
        yield cls, "__post_init__", lambda _: lambda self: None
        yield cls, "__new__", lambda c: staticmethod(lambda k, *a, **kw: object.__new__(k))


@pytest.mark.parametrize(("name", "attr", "value"), list(changes()))
def test_a_class_changed_after_binding_is_left_to_the_call_path(
    name: str, attr: str, value: Callable[[type], object]
) -> None:
    # Subclasses bound to a module of their own: a class whose __new__ was
    # ever set keeps a slot that differs from the one it was bound with.
    classes = {n: type(n, (c,), {}) for n, c in CLASSES.items()}
    module = fresh_module()
    module.bind(*STATUSES, classes)
    balances = json.dumps(BALANCES).encode()
    assert module.parse("accounts.debits", 200, DEBITS) is not None
    setattr(classes[name], attr, value(classes[name]))
    assert module.parse("accounts.debits", 200, DEBITS) is None
    assert module.parse("accounts.balances", 200, balances)  # makes neither class
    if attr != "__new__":
        delattr(classes[name], attr)
        assert module.parse("accounts.debits", 200, DEBITS) is not None
    if attr == "__post_init__":  # on a base class, too
        base = getattr(models, name)
        base.__post_init__ = value(base)
        try:
            assert module.parse("accounts.debits", 200, DEBITS) is None
        finally:
            del base.__post_init__
        assert module.parse("accounts.debits", 200, DEBITS) is not None


SUBINTERPRETER_FIRST = """
import sys
import %s as interpreters

script = '''
import importlib.util, sys
for name, path in %r:
    found = importlib.util.spec_from_file_location("quillon.accounts." + name, path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    sys.modules[found.name] = module
from quillon.accounts import _fast_results
if _fast_results.from_bytes("accounts.debits", 200, b'{"code": "00", "data": []}', None) == []:
    open(%r, "w").close()
'''
sub = interpreters.create(%s)
interpreters.run_string(sub, script)
interpreters.destroy(sub)
assert "quillon.accounts" not in sys.modules
from quillon.accounts import _fast_results
print(_fast_results.from_bytes("accounts.debits", 200, b'{"code": "00", "data": []}', None))
"""


def test_a_destroyed_subinterpreter_leaves_the_fast_path_on(tmp_path: Path) -> None:
    found = [n for n in ("_xxsubinterpreters", "_interpreters") if importlib.util.find_spec(n)]
    if not found:
        pytest.skip("no subinterpreters here")
    from quillon.accounts import _native

    # A subinterpreter sharing the main GIL: the one the stable ABI build supports.
    shared_gil = "isolated=False" if found[0] == "_xxsubinterpreters" else "'legacy'"

    # The very files this interpreter loaded: one library, as in a process
    # whose subinterpreter imports the package first.
    files = [("_native", _native.__file__), ("_objects", _objects.__file__)]
    built = tmp_path / "built in the subinterpreter"
    ran = subprocess.run(
        [sys.executable, "-c", SUBINTERPRETER_FIRST % (found[0], files, str(built), shared_gil)],
        capture_output=True,
        text=True,
        timeout=60,
        check=False,
    )
    assert ran.returncode == 0, ran.stderr
    assert built.exists()
    assert ran.stdout.strip() == "[]"


@pytest.mark.parametrize(
    "name", ["accounts.nope", "accounts.debits.parse", "accounts.debit", "ACCOUNTS.DEBITS", ""]
)
def test_only_an_operation_s_exact_name_is_built(name: str) -> None:
    assert _objects.parse(name, 200, DEBITS) is None
    with pytest.raises(ValueError, match="no table"):
        _objects.table(name, 200, DEBITS)
