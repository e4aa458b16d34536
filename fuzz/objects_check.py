"""The property the objects fuzzer checks on each input, run in the
interpreter it embeds: the result objects built straight from the answer
bytes (``_objects.parse``) are those of the engine's ``call`` read by the
package, or both refuse. Raises AssertionError (or whatever escaped the
package) when they differ.

Imported with ``tests/`` on the path: the call path and the comparison are
the tests' own (``test_fast_results``).
"""

from __future__ import annotations

from quillon.accounts import _objects
from quillon.accounts.errors import QuillonError
from test_fast_results import old_path, same


def check(op: str, status: int, body: bytes) -> None:
    """Holds the fast path against the call for one answer."""
    fast = _objects.parse(op, status, body)
    try:
        body.decode()
    except UnicodeDecodeError:
        assert fast is None, "built from bytes that are not UTF-8"
        return
    try:
        called = old_path(op.removeprefix("accounts."), status, body)
    except QuillonError:
        assert fast is None, f"built what the call refuses: {fast!r:.500}"
        return
    assert fast is not None, f"left a success to the call: {called!r:.500}"
    same(fast, called)
