"""The Python-visible surface of the native module: attributes, argument
binding, conversion errors, and what crosses the boundary unchanged."""

import gc
import importlib.util
import json
import sys
from typing import Any

import pytest

from quillon.accounts import _native

HAS_NOTES = sys.version_info >= (3, 11)


def envelope(op: str, payload: str = "") -> dict[str, Any]:
    out: dict[str, Any] = json.loads(_native.call(op, payload))
    return out


def test_module_attributes() -> None:
    assert _native.__all__ == ["call", "__version__", "PROTOCOL_VERSION"]
    # The attributes say what "version" answers.
    assert envelope("version")["value"] == {
        "core": _native.__version__,
        "protocol": _native.PROTOCOL_VERSION,
    }
    assert _native.__file__ is not None
    assert _native.__file__.endswith("_native.abi3.so")
    # Nothing public beyond the three names; PanicException is not exposed.
    public = {name for name in vars(_native) if not name.startswith("__")}
    assert public == {"call", "PROTOCOL_VERSION"}


def test_a_second_module_object_gets_its_own_attributes() -> None:
    found = importlib.util.find_spec("quillon.accounts._native")
    assert found is not None
    assert found.loader is not None
    fresh = importlib.util.module_from_spec(found)
    found.loader.exec_module(fresh)
    assert fresh.__all__ == ["call", "__version__", "PROTOCOL_VERSION"]
    assert fresh.__all__ is not _native.__all__
    # Its function keeps it (and its state) alive; once both are dropped the
    # collector traverses and clears that state, and this module is unharmed.
    call = fresh.call
    del fresh
    gc.collect()
    assert call("version", "") == _native.call("version", "")
    del call
    gc.collect()
    assert envelope("accounts.get.build")["error"]["kind"] == "ffi"


def test_a_subinterpreter_gets_a_module_of_its_own() -> None:
    interpreters = pytest.importorskip("_xxsubinterpreters")
    assert _native.__file__ is not None
    script = (
        "import gc, importlib.util\n"
        f"found = importlib.util.spec_from_file_location('_native', {_native.__file__!r})\n"
        "module = importlib.util.module_from_spec(found)\n"
        "found.loader.exec_module(module)\n"
        "assert module.call('describe', '').startswith('{\"ok\":true')\n"
        "del module\n"
        "gc.collect()\n"
    )
    # One stable-ABI build for 3.10 on cannot declare a GIL of its own, so
    # it loads in subinterpreters that share the main interpreter's GIL.
    interpreter = interpreters.create(isolated=False)
    try:
        interpreters.run_string(interpreter, script)
    finally:
        interpreters.destroy(interpreter)
    assert _native.call("version", "") == '{"ok":true,"value":{"core":"0.1.0","protocol":2}}'


def test_version_never_reads_the_payload() -> None:
    assert _native.call("version", "[" * 500) == _native.call("version", "")


class Text(str):
    pass


@pytest.mark.parametrize(
    ("args", "kwargs"),
    [
        (("version", ""), {}),
        ((Text("version"), Text("")), {}),  # str subclasses are accepted
    ],
)
def test_arguments_bind_by_position_or_keyword(
    args: tuple[Any, ...], kwargs: dict[str, Any]
) -> None:
    assert _native.call(*args, **kwargs) == '{"ok":true,"value":{"core":"0.1.0","protocol":2}}'


@pytest.mark.parametrize(
    ("args", "kwargs", "message"),
    [
        (("a", "b", "c"), {}, "call() takes 2 positional arguments but 3 were given"),
        ((), {}, "call() missing 2 required positional arguments: 'op' and 'payload'"),
        # Binding is checked before conversion: a bad type does not mask it.
        ((1,), {}, "call() missing 1 required positional argument: 'payload'"),
    ],
)
def test_binding_errors(args: tuple[Any, ...], kwargs: dict[str, Any], message: str) -> None:
    with pytest.raises(TypeError) as info:
        _native.call(*args, **kwargs)
    assert str(info.value) == message
    assert getattr(info.value, "__notes__", None) is None


@pytest.mark.parametrize(
    ("op", "payload", "error", "message", "param"),
    [
        (1, "", TypeError, "'int' object is not an instance of 'str'", "op"),
        ("version", None, TypeError, "'NoneType' object is not an instance of 'str'", "payload"),
        # When both are wrong the error concerns `op`, which is converted first.
        (None, 2.5, TypeError, "'NoneType' object is not an instance of 'str'", "op"),
        ("version", "\ud800", UnicodeEncodeError, None, "payload"),
    ],
)
def test_conversion_errors_carry_a_note(
    op: Any, payload: Any, error: type[Exception], message: str | None, param: str
) -> None:
    with pytest.raises(error) as info:
        _native.call(op, payload)
    if message is not None:
        assert str(info.value) == message
    expected = [f"while processing '{param}'"] if HAS_NOTES else None
    assert getattr(info.value, "__notes__", None) == expected


@pytest.mark.parametrize(
    "value",
    [
        {"reason": 'caf\u00e9 "x"\n\ud83d\ude00'},
        {"n": [2**70, -1.5e300, 0.1, None, True, {}]},
    ],
)
def test_payload_text_as_json_dumps_writes_it(value: Any) -> None:
    from quillon.accounts import protocol

    assert protocol._dumps(value) == json.dumps(value)
