"""The package's logger and the masking of secrets.

Nothing that this package logs, raises or shows in a ``repr`` carries the
access token, the client secret or the basic token: header maps are masked by
name, and any text that came from outside (a gateway message, say) is scrubbed
of the secret values the client knows.
"""

from __future__ import annotations

import json
import logging
import os
import threading
import urllib.parse
import warnings
from collections.abc import Iterable, Mapping

logger = logging.getLogger("quillon.accounts")
# A library stays silent until the application configures logging.
logger.addHandler(logging.NullHandler())

MASK = "***"

# Header names whose values are credentials; compared without regard to case.
SECRET_HEADERS = frozenset({"authorization", "access_token", "client_secret", "basic_token"})


def mask_headers(headers: Mapping[str, str]) -> dict[str, str]:
    """A copy of the header map with credential values replaced by the mask."""
    return {
        name: (MASK if name.lower() in SECRET_HEADERS else value) for name, value in headers.items()
    }


def _forms(secret: str) -> set[str]:
    """The secret as it is, and as the usual escapes write it.

    A library that refuses a header shows it as escaped bytes (b'...\\t'), a
    JSON writer escapes quotes and non-ASCII, a URL percent-encodes.
    """
    forms = {secret, secret.strip()}
    forms.add(repr(secret.encode("utf-8"))[2:-1])
    forms.add(secret.encode("unicode_escape").decode("ascii"))
    forms.add(json.dumps(secret)[1:-1])
    forms.add(json.dumps(secret, ensure_ascii=False)[1:-1])
    forms.add(urllib.parse.quote(secret, safe=""))
    return {form for form in forms if len(form) >= MIN_SECRET}


# Shorter secrets are not scrubbed: masking every "a" in a message would hide
# more than it protects.
MIN_SECRET = 4


class Redactor:
    """Holds the secret values in use and scrubs them out of texts, in any escaped form.

    Secrets shorter than four characters are not scrubbed.
    """

    def __init__(self, secrets: Iterable[str] = ()) -> None:
        self._lock = threading.Lock()
        self._secrets: set[str] = set()
        self._forms: list[str] = []
        for secret in secrets:
            self.add(secret)

    def add(self, secret: str | None) -> None:
        if not secret or len(secret) < MIN_SECRET or secret in self._secrets:
            return
        with self._lock:
            self._secrets.add(secret)
            forms = set(self._forms) | _forms(secret)
            self._forms = sorted(forms, key=len, reverse=True)

    def scrub(self, text: str, *, cut: bool = False) -> str:
        """``text`` with every secret masked.

        With ``cut``, the text may have been shortened by someone who did not
        know the secrets (a preview of a body, say), so a start of a secret at
        its very end is masked too.
        """
        forms = self._forms
        for form in forms:
            if form in text:
                text = text.replace(form, MASK)
        if cut:
            for form in forms:
                for size in range(len(form) - 1, MIN_SECRET - 1, -1):
                    if text.endswith(form[:size]):
                        return text[:-size] + MASK
        return text

    def __repr__(self) -> str:
        return f"Redactor({len(self._secrets)} secrets)"


LOG_LEVELS = {
    "debug": logging.DEBUG,
    "info": logging.INFO,
    "warning": logging.WARNING,
    "error": logging.ERROR,
}
_env_handler: logging.Handler | None = None


def configure_from_env(environ: Mapping[str, str] | None = None) -> None:
    """Sends the package's log records to stderr at the level named by ``QUILLON_LOG``.

    ``QUILLON_LOG`` is one of debug, info, warning or error (any letter case);
    unset or empty leaves logging to the application. Another value is reported
    with a warning and otherwise ignored.
    """
    global _env_handler
    env = os.environ if environ is None else environ
    word = (env.get("QUILLON_LOG") or "").strip().lower()
    if not word:
        return
    level = LOG_LEVELS.get(word)
    if level is None:
        warnings.warn(
            f"QUILLON_LOG={word!r} is not one of {', '.join(LOG_LEVELS)}; ignored", stacklevel=2
        )
        return
    if _env_handler is None:
        _env_handler = logging.StreamHandler()
        _env_handler.setFormatter(
            logging.Formatter("%(asctime)s %(levelname)s %(name)s: %(message)s")
        )
        logger.addHandler(_env_handler)
    logger.setLevel(level)


configure_from_env()
