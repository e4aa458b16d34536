"""The package's logger and the masking of secrets.

Nothing that this package logs, raises or shows in a ``repr`` carries the
access token, the client secret or the basic token: header maps are masked by
name, and any text that came from outside (a gateway message, say) is scrubbed
of the secret values the client knows (:class:`Redactor`, in ``_redact``).
Log lines sent to stderr through ``QUILLON_LOG`` have their control
characters escaped.
"""

from __future__ import annotations

import logging
import os
import warnings
from collections.abc import Mapping

from quillon.accounts._redact import KEPT_TOKENS, MASK, MIN_SECRET, Redactor
from quillon.accounts._terminal import EscapingFormatter

__all__ = [
    "KEPT_TOKENS",
    "MASK",
    "MIN_SECRET",
    "Redactor",
    "configure_from_env",
    "logger",
    "mask_headers",
]

logger = logging.getLogger("quillon.accounts")
# A library stays silent until the application configures logging.
logger.addHandler(logging.NullHandler())

# Header names whose values are credentials; compared without regard to case.
SECRET_HEADERS = frozenset({"authorization", "access_token", "client_secret", "basic_token"})


def mask_headers(headers: Mapping[str, str]) -> dict[str, str]:
    """A copy of the header map with credential values replaced by the mask."""
    return {
        name: (MASK if name.lower() in SECRET_HEADERS else value) for name, value in headers.items()
    }


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
            EscapingFormatter("%(asctime)s %(levelname)s %(name)s: %(message)s")
        )
        logger.addHandler(_env_handler)
    logger.setLevel(level)


configure_from_env()
