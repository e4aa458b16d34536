"""Client configuration, gateway environments and access tokens."""

from __future__ import annotations

import math
import os
import time
import urllib.parse
from collections.abc import Awaitable, Callable, Mapping
from dataclasses import dataclass, field
from enum import Enum
from typing import Any

from quillon.accounts.errors import DecodeError, MissingSettingError, ValidationError

__all__ = [
    "AccessToken",
    "AsyncTokenProvider",
    "ClientConfig",
    "Environment",
    "TokenProvider",
    "TokenSource",
    "check_base_url",
    "check_credential",
    "token_lifetime",
]

EXPIRY_LEEWAY_SECONDS = 30
"""Seconds before its stated expiry that a token is replaced, so that it does not run out on the
way.
"""

MAX_TOKEN_LIFETIME = 1_000_000_000
"""The longest lifetime a token answer may state, in seconds (about 31 years)."""


def token_lifetime(value: object) -> int:
    """The seconds of validity a token answer states in ``expires_in``.

    A whole number from 0 to :data:`MAX_TOKEN_LIFETIME`: a JSON integer, a
    number with no fraction (``3600.0``) or a text of ASCII digits. Anything
    else (a fraction, NaN, infinity, a boolean, a negative or larger number,
    other digits, another type) is not a lifetime this client can keep a
    token by, and raises :class:`~quillon.accounts.errors.DecodeError`.
    """
    seconds: int | None = None
    if isinstance(value, bool):
        pass
    elif isinstance(value, int):
        seconds = value
    elif isinstance(value, float):
        if math.isfinite(value) and value.is_integer():
            seconds = int(value)
    elif isinstance(value, str):
        text = value.strip()
        if text.isascii() and text.isdigit() and len(text) <= 10:
            seconds = int(text)
    if seconds is None or not 0 <= seconds <= MAX_TOKEN_LIFETIME:
        shown = repr(value) if isinstance(value, (int, float, str)) else type(value).__name__
        if len(shown) > 40:
            shown = shown[:40] + "..."
        raise DecodeError(
            f"the token's expires_in must be a whole number of seconds from 0 to "
            f"{MAX_TOKEN_LIFETIME}, not {shown}"
        )
    return seconds


class Environment(str, Enum):
    """The gateway's environments; each has its own base URL, chosen by the engine."""

    DEVELOPMENT = "development"
    """The gateway's development environment."""
    SANDBOX = "sandbox"
    """The gateway's sandbox environment, for trials (the default)."""
    PRODUCTION = "production"
    """The live gateway."""

    def __str__(self) -> str:
        return self.value

    @property
    def base_url(self) -> str:
        """The gateway's address in this environment, with no trailing slash."""
        return _BASE_URLS[self.value]


# The same addresses as the engine's, which builds every request's URL from them.
_BASE_URLS = {
    "development": "https://api-test.quillon-gateway.example/desarrollo",
    "sandbox": "https://api-test.quillon-gateway.example/sandbox",
    "production": "https://api.quillon-gateway.example",
}


@dataclass(frozen=True)
class AccessToken:
    """A bearer token for the gateway. ``expires_at`` is in seconds since the epoch.

    The token's value never appears in its ``repr``.
    """

    access_token: str = field(repr=False)
    """The token itself (never shown in the ``repr``)."""
    token_type: str = "Bearer"
    """The scheme it is sent with ("Bearer")."""
    expires_at: int = 2**63 - 1
    """When it runs out, in whole seconds since the epoch (default: never)."""
    scope: str | None = None
    """The scope the token endpoint granted, if it said."""

    def expired(self, now: float | None = None, leeway: float = EXPIRY_LEEWAY_SECONDS) -> bool:
        """Whether the token has run out (or is about to) at ``now`` (default: the clock)."""
        current = time.time() if now is None else now
        return current >= self.expires_at - leeway

    def to_json(self) -> dict[str, Any]:
        """The token as the engine reads it (and as a token cache may keep it)."""
        return {
            "access_token": self.access_token,
            "token_type": self.token_type,
            "expires_at": self.expires_at,
            "scope": self.scope,
        }

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> AccessToken:
        """Reads a token as an OAuth token endpoint or a cache file writes it.

        ``expires_at`` is taken as is (whole seconds since the epoch); failing
        that, ``expires_in`` is counted from now (see :func:`token_lifetime`).
        Members that are missing or of the wrong kind raise
        :class:`~quillon.accounts.errors.DecodeError`.
        """
        value = obj.get("access_token") if isinstance(obj, Mapping) else None
        if not isinstance(value, str):
            raise DecodeError("a token needs its access_token as a text")
        at = obj.get("expires_at")
        if at is not None:
            if isinstance(at, bool) or not isinstance(at, int) or not 0 <= at < 2**63:
                raise DecodeError("a token's expires_at must be whole seconds since the epoch")
            expires_at = at
        elif obj.get("expires_in") is not None:
            expires_at = int(time.time()) + token_lifetime(obj["expires_in"])
        else:
            expires_at = 2**63 - 1
        token_type, scope = obj.get("token_type"), obj.get("scope")
        return cls(
            access_token=value,
            token_type=token_type if isinstance(token_type, str) and token_type else "Bearer",
            expires_at=expires_at,
            scope=scope if isinstance(scope, str) else None,
        )


def check_credential(value: object, field: str, *, empty: bool = False) -> None:
    """Refuses a token or client id that could not travel safely in a header.

    Control characters, white space at either end and anything but ASCII are
    refused, and so is an empty text unless ``empty`` allows it; the message
    never shows the value.
    """
    if not isinstance(value, str):
        raise ValidationError(f"must be a text, not {type(value).__name__}", field=field)
    if not value and not empty:
        raise ValidationError("is empty", field=field)
    if not value.isascii():
        raise ValidationError("holds a character that is not ASCII", field=field)
    if not value.isprintable():
        raise ValidationError("holds a control character", field=field)
    if value != value.strip():
        raise ValidationError("starts or ends with white space", field=field)


def check_base_url(url: object) -> None:
    """Refuses a base URL that is not a plain ``http(s)://host[:port][/path]``."""
    if not isinstance(url, str):
        raise ValidationError(f"must be a text, not {type(url).__name__}", field="base_url")
    if not url.isascii() or not url.isprintable() or url != url.strip():
        raise ValidationError(
            "holds white space, a control character or a character that is not ASCII",
            field="base_url",
        )
    try:
        parts = urllib.parse.urlsplit(url)
        port = parts.port
    except ValueError:
        raise ValidationError("is not a valid URL", field="base_url") from None
    if parts.scheme not in ("http", "https") or not parts.hostname:
        raise ValidationError("must be an http:// or https:// URL with a host", field="base_url")
    if "@" in parts.netloc:
        # The credentials are not shown: the message says only that they are there.
        raise ValidationError(
            "must not hold a user name or password (user:password@host)", field="base_url"
        )
    if parts.query or parts.fragment or "?" in url or "#" in url:
        raise ValidationError("must not hold a query (?) or a fragment (#)", field="base_url")
    del port


TokenProvider = Callable[[], AccessToken]
"""A callable giving a token: asked when the client has none, when it has expired, and
once after the gateway refuses one with HTTP 401."""
AsyncTokenProvider = Callable[[], AccessToken | Awaitable[AccessToken]]
"""A token provider for :class:`~quillon.accounts.AsyncClient`, which may also be a
coroutine function."""
TokenSource = AccessToken | TokenProvider
"""A token, or a provider of tokens."""


@dataclass(frozen=True)
class ClientConfig:
    """What the engine needs to address the gateway.

    ``base_url``, when given, replaces the environment's address (for example
    the local simulator's). ``client_secret`` and ``basic_token`` are kept for
    the caller's token flow; they are never sent with a request and never shown.
    """

    client_id: str
    """The client id, sent in the "client_id" header of every request."""
    environment: Environment = Environment.SANDBOX
    """The gateway environment, which gives the base URL."""
    base_url: str | None = None
    """An http(s) address replacing the environment's (the local simulator's, say)."""
    client_secret: str | None = field(default=None, repr=False)
    """The secret for the client-credentials grant; never sent with a request."""
    basic_token: str | None = field(default=None, repr=False)
    """base64 of "client_id:client_secret", instead of the secret; never sent with a request."""

    def __post_init__(self) -> None:
        env: object = self.environment
        if not isinstance(env, Environment):
            try:
                object.__setattr__(self, "environment", Environment(str(env)))
            except ValueError:
                valid = ", ".join(e.value for e in Environment)
                raise ValidationError(
                    f"unknown environment {str(env)[:40]!r}; valid: {valid}", field="environment"
                ) from None
        check_credential(self.client_id, "client_id", empty=True)
        if self.base_url is not None:
            check_base_url(self.base_url)

    def to_json(self) -> dict[str, Any]:
        """The configuration for the engine; the secrets stay out, since no request uses them."""
        obj: dict[str, Any] = {"client_id": self.client_id, "environment": self.environment.value}
        if self.base_url is not None:
            obj["base_url"] = self.base_url
        return obj

    def url(self, path: str) -> str:
        """``path`` under the gateway's address (``base_url``, else the environment's),
        joined as the engine joins its request paths: with one slash between them."""
        base = self.environment.base_url if self.base_url is None else self.base_url
        return base.rstrip("/") + "/" + path.lstrip("/")

    def secrets(self) -> list[str]:
        """The secret values of this configuration (for masking), empty ones left out."""
        return [s for s in (self.client_secret, self.basic_token) if s]

    @classmethod
    def from_env(cls, environ: Mapping[str, str] | None = None, **overrides: Any) -> ClientConfig:
        """Reads QUILLON_CLIENT_ID, QUILLON_ENVIRONMENT, QUILLON_BASE_URL,
        QUILLON_CLIENT_SECRET and QUILLON_BASIC_TOKEN; keyword arguments that are not None win."""
        env = os.environ if environ is None else environ
        values: dict[str, Any] = {
            "client_id": env.get("QUILLON_CLIENT_ID"),
            "environment": env.get("QUILLON_ENVIRONMENT") or Environment.SANDBOX,
            "base_url": env.get("QUILLON_BASE_URL") or None,
            "client_secret": env.get("QUILLON_CLIENT_SECRET") or None,
            "basic_token": env.get("QUILLON_BASIC_TOKEN") or None,
        }
        values.update({k: v for k, v in overrides.items() if v is not None})
        if not values["client_id"]:
            raise MissingSettingError("a client id is required (QUILLON_CLIENT_ID or --client-id)")
        return cls(**values)
