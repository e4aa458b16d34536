"""Masking secret values out of texts that came from outside, in any escaped form.

A gateway (or anything in between) may echo a secret back as it is, or as a
JSON writer, a URL encoder or a byte ``repr`` writes it, or in a mixture of
these (one character written as ``\\u002f``, the next as ``%2F``). Each
secret is looked for in two ways:

- its usual escaped forms, searched in the text as it is;
- the secret itself, searched in the text read back through JSON escapes,
  ``\\xNN`` and percent escapes (any letter case), so that any mixture of
  escaped and plain characters is found too.

Both searches take time in proportion to the text and the secrets, whatever
they hold; so does the masking of a start of a secret at the end of a text
that someone shortened (``scrub(cut=True)``).
"""

from __future__ import annotations

import bisect
import json
import re
import threading
import urllib.parse
from collections.abc import Iterable

__all__ = ["KEPT_TOKENS", "MASK", "MIN_SECRET", "Redactor"]

MASK = "***"

# Shorter secrets are not scrubbed: masking every "a" in a message would hide
# more than it protects.
MIN_SECRET = 4

# Of the secrets added after construction (the access tokens, one more per
# refresh), only this many of the newest are masked: a token is replaced only
# once it has expired or been refused, so three replacements later it opens
# nothing any more, and the cost of masking stays bounded however long a
# client lives.
KEPT_TOKENS = 4

# A start of a secret at the end of a cut text shorter than this is checked
# directly; longer ones only when the text's last PROBE characters occur in
# the secret's form at all.
_PROBE = 64

_PERCENT = re.compile(r"%[0-9A-F]{2}")
_UNICODE = re.compile(r"\\u([0-9a-f]{4})")

# The escapes the read-back view decodes: runs of byte escapes (percent or
# \xNN, read as UTF-8), runs of \uXXXX (surrogate pairs joined), \UXXXXXXXX,
# and the one-character escapes of JSON and Python.
_ESCAPES = re.compile(
    r"(?P<pct>(?:%[0-9A-Fa-f]{2})+)"
    r"|(?P<hex>(?:\\x[0-9A-Fa-f]{2})+)"
    r"|(?P<u16>(?:\\u[0-9A-Fa-f]{4})+)"
    r"|\\U(?P<u32>[0-9A-Fa-f]{8})"
    r"|\\(?P<one>[/\\\"'bfnrt0])"
)
# An escape cut short at the end of a text, or the first bytes of a character
# written as byte escapes: a cut text's read-back view is also taken without them.
_PARTIAL = re.compile(
    r"(?:\\(?:u[0-9A-Fa-f]{0,3}|U[0-9A-Fa-f]{0,7}|x[0-9A-Fa-f]?)?|%[0-9A-Fa-f]?"
    r"|\\u[dD][89abAB][0-9A-Fa-f]{2})\Z"
)
_TRAILING_BYTES = re.compile(r"(?:%[0-9A-Fa-f]{2}|\\x[0-9A-Fa-f]{2}){1,4}\Z")
_BYTE = re.compile(r"(?:%|\\x)([0-9A-Fa-f]{2})")
_PARTIAL_SPAN = 40
_ONE = {"/": "/", "\\": "\\", '"': '"', "'": "'", "b": "\b", "f": "\f", "n": "\n", "r": "\r"}
_ONE |= {"t": "\t", "0": "\0"}


def _forms(secret: str) -> set[str]:
    """The secret as it is, and as the usual escapes write it whole.

    A library that refuses a header shows it as escaped bytes (b'...\\t'), a
    JSON writer escapes quotes and non-ASCII (some also "/", some in upper case
    hex), a URL encoder percent-encodes (keeping "/" or not, writing a space as
    "+" or not, in either letter case).
    """
    forms = {secret, secret.strip()}
    forms.add(repr(secret.encode("utf-8", "surrogatepass"))[2:-1])
    forms.add(secret.encode("unicode_escape").decode("ascii"))
    for ascii_only in (True, False):
        text = json.dumps(secret, ensure_ascii=ascii_only)[1:-1]
        forms |= {text, text.replace("/", "\\/")}
        upper = _UNICODE.sub(lambda m: "\\u" + m.group(1).upper(), text)
        forms |= {upper, upper.replace("/", "\\/")}
    raw = secret.encode("utf-8", "surrogatepass")
    for quoted in (
        urllib.parse.quote(raw, safe=""),
        urllib.parse.quote(raw),
        urllib.parse.quote_plus(raw, safe=""),
    ):
        forms |= {quoted, _PERCENT.sub(lambda m: m.group(0).lower(), quoted)}
    return {form for form in forms if len(form) >= MIN_SECRET}


def _overlap(text: str, form: str) -> int:
    """The length of the longest start of ``form``, shorter than the whole and at
    least MIN_SECRET long, that ``text`` ends with; 0 when there is none.

    Linear in the shorter of the two: a prefix function (Knuth, Morris and
    Pratt) over the start of ``form`` that could fit, run over the end of
    ``text``.
    """
    size = min(len(text), len(form) - 1)
    if size < MIN_SECRET:
        return 0
    # Quick answers for the common case: short overlaps directly, long ones
    # only when the text's last characters occur in the form at all.
    short = 0
    for k in range(min(size, _PROBE - 1), MIN_SECRET - 1, -1):
        if text.endswith(form[:k]):
            short = k
            break
    if size < _PROBE or form.find(text[-_PROBE:], 0, size) == -1:
        return short
    pattern, tail = form[:size], text[-size:]
    fail = [0] * size
    k = 0
    for i in range(1, size):
        c = pattern[i]
        while k and pattern[k] != c:
            k = fail[k - 1]
        if pattern[k] == c:
            k += 1
        fail[i] = k
    k = 0
    for c in tail:
        while k and pattern[k] != c:
            k = fail[k - 1]
        if pattern[k] == c:
            k += 1
    return k if k >= MIN_SECRET else short


class _View:
    """``text`` read back through its escapes, with the way back to the text's positions."""

    def __init__(self, text: str) -> None:
        pieces: list[str] = []
        # Per piece: where it starts in the view and in the text, where it ends
        # in the text, and whether it is plain text (kept one for one).
        self.starts: list[int] = []
        self._spans: list[tuple[int, int, bool]] = []
        self.escaped = False
        at = here = 0
        for m in _ESCAPES.finditer(text):
            self.escaped = True
            if m.start() > here:
                self._piece(pieces, text[here : m.start()], at, here, m.start(), True)
                at += m.start() - here
            decoded = _decode(m)
            self._piece(pieces, decoded, at, m.start(), m.end(), False)
            at += len(decoded)
            here = m.end()
        if here < len(text):
            self._piece(pieces, text[here:], at, here, len(text), True)
        self.text = "".join(pieces)

    def _piece(
        self, pieces: list[str], text: str, at: int, start: int, end: int, plain: bool
    ) -> None:
        pieces.append(text)
        self.starts.append(at)
        self._spans.append((start, end, plain))

    def back(self, start: int, end: int) -> tuple[int, int]:
        """The span of the text that the view's ``start:end`` was read from."""
        i = bisect.bisect_right(self.starts, start) - 1
        first, _, plain = self._spans[i]
        lo = first + (start - self.starts[i]) if plain else first
        j = bisect.bisect_right(self.starts, end - 1) - 1
        first, last, plain = self._spans[j]
        hi = first + (end - self.starts[j]) if plain else last
        return lo, hi


def _decode(m: re.Match[str]) -> str:
    kind = m.lastgroup
    text = m.group(kind or 0)
    if kind in ("pct", "hex"):
        data = bytes.fromhex(text.replace("%", "").replace("\\x", ""))
        try:
            return data.decode("utf-8")
        except UnicodeDecodeError:
            return data.decode("latin-1")
    if kind == "u16":
        units = "".join(chr(int(text[i + 2 : i + 6], 16)) for i in range(0, len(text), 6))
        try:
            return units.encode("utf-16-le", "surrogatepass").decode("utf-16-le")
        except UnicodeDecodeError:
            return units
    if kind == "u32":
        code = int(text, 16)
        return chr(code) if code <= 0x10FFFF else m.group(0)
    return _ONE[text]


class _Plan:
    """What one set of secrets is masked by: their forms, longest first, and the
    secrets themselves for the read-back view."""

    def __init__(self, secrets: Iterable[str]) -> None:
        forms: set[str] = set()
        plain: set[str] = set()
        for secret in secrets:
            forms |= _forms(secret)
            plain |= {s for s in (secret, secret.strip()) if len(s) >= MIN_SECRET}
        self.forms = sorted(forms, key=len, reverse=True)
        self.plain = sorted(plain, key=len, reverse=True)


class Redactor:
    """Holds the secret values in use and scrubs them out of texts, in any escaped form.

    The secrets given at construction are kept for good; of those added later
    with :meth:`add` (the access tokens, one per refresh) the newest
    :data:`KEPT_TOKENS` are kept. Secrets shorter than four characters are
    not scrubbed.
    """

    def __init__(self, secrets: Iterable[str] = ()) -> None:
        self._lock = threading.Lock()
        self._fixed = tuple(dict.fromkeys(s for s in secrets if s and len(s) >= MIN_SECRET))
        self._recent: tuple[str, ...] = ()
        self._plan = _Plan(self._fixed)

    def add(self, secret: str | None) -> None:
        """Masks ``secret`` too, as the newest of the added secrets (the oldest beyond
        :data:`KEPT_TOKENS` is forgotten)."""
        if not secret or len(secret) < MIN_SECRET or secret in self._fixed:
            return
        with self._lock:
            if self._recent and self._recent[-1] == secret:
                return
            recent = (*(s for s in self._recent if s != secret), secret)[-KEPT_TOKENS:]
            self._recent = recent
            self._plan = _Plan((*self._fixed, *recent))

    def scrub(self, text: str, *, cut: bool = False) -> str:
        """``text`` with every secret masked.

        With ``cut``, the text may have been shortened by someone who did not
        know the secrets (a preview of a body, say), so a start of a secret at
        its very end is masked too.
        """
        plan = self._plan
        if not plan.forms:
            return text
        for form in plan.forms:
            if form in text:
                text = text.replace(form, MASK)
        if "\\" in text or "%" in text:
            text = _mask_view(text, plan.plain, cut)
        if cut:
            keep = len(text) - max((_overlap(text, form) for form in plan.forms), default=0)
            if keep < len(text):
                text = text[:keep] + MASK
        return text

    def __repr__(self) -> str:
        return f"Redactor({len(self._fixed) + len(self._recent)} secrets)"


def _whole(text: str) -> int:
    """The length of ``text`` without an escape cut short at its end (``\\u00``,
    ``%``, a lone high surrogate, the first bytes of a character)."""
    tail = text[-_PARTIAL_SPAN:]
    end = len(tail)
    while True:
        m = _PARTIAL.search(tail, 0, end)
        start = m.start() if m else _first_bytes(tail, end)
        if start is None or start == end:
            break
        end = start
    return len(text) - len(tail) + end


def _first_bytes(text: str, end: int) -> int | None:
    """Where the byte escapes that begin a UTF-8 character without finishing it start,
    if ``text[:end]`` ends with such."""
    m = _TRAILING_BYTES.search(text, 0, end)
    if m is None:
        return None
    escapes = list(_BYTE.finditer(m.group()))
    values = [int(e.group(1), 16) for e in escapes]
    i = len(values) - 1
    while i >= 0 and 0x80 <= values[i] < 0xC0:
        i -= 1
    if i < 0 or values[i] < 0xC0:
        return None
    need = 2 if values[i] < 0xE0 else 3 if values[i] < 0xF0 else 4
    return None if len(values) - i >= need else m.start() + escapes[i].start()


def _mask_view(text: str, secrets: list[str], cut: bool) -> str:
    """``text`` with the secrets found in its read-back view masked."""
    spans: list[tuple[int, int]] = []
    view = _View(text)
    if view.escaped:
        for secret in secrets:
            start = view.text.find(secret)
            while start != -1:
                spans.append(view.back(start, start + len(secret)))
                start = view.text.find(secret, start + len(secret))
    if cut:
        whole = _whole(text)
        for seen in (view, _View(text[:whole])) if whole < len(text) else (view,):
            for secret in secrets:
                size = _overlap(seen.text, secret)
                if size:
                    end = len(seen.text)
                    spans.append((seen.back(end - size, end)[0], len(text)))
    if not spans:
        return text
    out: list[str] = []
    here = 0
    for lo, hi in sorted(spans):
        if hi <= here:
            continue
        if lo >= here:
            out.append(text[here:lo])
            out.append(MASK)
        here = hi
    out.append(text[here:])
    return "".join(out)
