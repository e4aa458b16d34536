"""The property the objects fuzzer checks on each input, run in the
interpreter it embeds: the result objects built straight from the answer
bytes (``_objects.parse``) are those of the engine's ``call`` read by the
package, or both refuse. Raises AssertionError (or whatever escaped the
package) when the fast path builds something else than the call.

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
    # None leaves the answer to the call, which is then the one that counts
    # (so for a body that names "data" twice: the one-pass list reader and
    # the document disagree on which one is meant, and the call decides).
    if fast is not None:
        same(fast, called)
