"""Texts made safe for a terminal: no character in them can drive it.

Gateway texts (messages, aliases, names) reach stderr in log lines and stdout
in tables and JSON. A control character (C0, DEL, C1: ESC, BEL, CSI...) or a
bidirectional override could move the cursor, retitle the window, or show a
line other than the one written; these are shown as escapes instead.
"""

from __future__ import annotations

import logging

__all__ = ["EscapingFormatter", "escape_json", "printable"]

# C0 (the line feed left to the caller), DEL, C1, and the bidirectional
# embeddings, overrides and isolates (plus the marks that steer them).
_RISKY = (
    *range(0x20),
    0x7F,
    *range(0x80, 0xA0),
    0x061C,
    0x200E,
    0x200F,
    *range(0x202A, 0x202F),
    *range(0x2066, 0x206A),
)


def _escape(code: int) -> str:
    return f"\\x{code:02x}" if code < 0x100 else f"\\u{code:04x}"


_KEEP_LINES = {c: _escape(c) for c in _RISKY if c != 0x0A}
_ONE_LINE = {c: _escape(c) for c in _RISKY}
# JSON writers escape C0 in strings themselves, and put line feeds between
# members; the others can only stand in strings, where \uXXXX means the same.
_JSON = {c: f"\\u{c:04x}" for c in _RISKY if c >= 0x20}


def printable(text: str, *, lines: bool = True) -> str:
    """``text`` with every risky character escaped; the line feed too unless ``lines``."""
    return text.translate(_KEEP_LINES if lines else _ONE_LINE)


def escape_json(text: str) -> str:
    """JSON text (as ``json.dumps`` writes it) with the risky characters its
    strings hold written as ``\\uXXXX``; the value it stands for is unchanged."""
    return text.translate(_JSON)


class EscapingFormatter(logging.Formatter):
    """Log lines whose message has every risky character escaped, the line feed
    included: a message may quote the gateway, and must not forge a line. A
    traceback keeps its lines."""

    def formatMessage(self, record: logging.LogRecord) -> str:
        return printable(super().formatMessage(record), lines=False)
