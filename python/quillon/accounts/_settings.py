"""Client settings from arguments and the environment, checked before anything is sent.

``Client()`` and ``AsyncClient()`` with no arguments, and the command line,
read the same variables:

========================  ==================================================
QUILLON_CLIENT_ID         client id (sent in the "client_id" header)
QUILLON_ACCESS_TOKEN      bearer token
QUILLON_ENVIRONMENT       development, sandbox (default) or production
QUILLON_BASE_URL          http(s) address replacing the environment's
QUILLON_CLIENT_SECRET     secret for the client-credentials grant
QUILLON_BASIC_TOKEN       base64 "client_id:client_secret", instead of both
QUILLON_TOKEN_URL         token endpoint (default: base URL + /oauth/token)
========================  ==================================================

Empty variables count as unset. An explicit argument wins over its variable.
"""

from __future__ import annotations

import math
import os
from collections.abc import Callable, Mapping
from dataclasses import dataclass
from typing import Any

import httpx

from quillon.accounts.config import AccessToken, ClientConfig, Environment, check_base_url
from quillon.accounts.errors import (
    ConfigurationError,
    ConfigurationTypeError,
    MissingSettingError,
    ValidationError,
)
from quillon.accounts.retry import RetryPolicy

ENV_CLIENT_ID = "QUILLON_CLIENT_ID"
ENV_ACCESS_TOKEN = "QUILLON_ACCESS_TOKEN"
ENV_ENVIRONMENT = "QUILLON_ENVIRONMENT"
ENV_BASE_URL = "QUILLON_BASE_URL"
ENV_CLIENT_SECRET = "QUILLON_CLIENT_SECRET"
ENV_BASIC_TOKEN = "QUILLON_BASIC_TOKEN"
ENV_TOKEN_URL = "QUILLON_TOKEN_URL"


def env_value(environ: Mapping[str, str], name: str) -> str | None:
    """The variable's value, None when unset or empty."""
    value = environ.get(name)
    return value if value else None


def environment_from(value: Environment | str, source: str) -> Environment:
    """``value`` as an :class:`Environment`; a ``ConfigurationError`` naming ``source``
    otherwise."""
    if isinstance(value, Environment):
        return value
    try:
        return Environment(value)
    except ValueError:
        names = ", ".join(e.value for e in Environment)
        raise ConfigurationError(f"{source} must be one of {names}, not {value!r}") from None


def http_url(value: str, source: str) -> str:
    """``value`` if it is a plain http(s)://host[:port][/path] address; a
    ``ConfigurationError`` naming ``source`` otherwise."""
    try:
        check_base_url(value)
    except ValidationError as err:
        raise ConfigurationError(f"{source} {err.message}") from None
    return value


@dataclass(frozen=True)
class Resolved:
    """The configuration, the token (or provider) and, for the credentials grant, the
    token URL that a client is built with."""

    config: ClientConfig
    token: AccessToken | Callable[[], Any] | None
    token_url: str | None
    use_credentials: bool


def resolve(
    *,
    config: ClientConfig | None,
    token: AccessToken | str | Callable[[], Any] | None,
    token_url: str | None,
    environ: Mapping[str, str] | None,
    **fields: Any,
) -> Resolved:
    """What a client is built with; ``fields`` are the ``ClientConfig`` arguments given.

    Raises :class:`MissingSettingError` for a missing client id or a missing way to
    get a token, :class:`ConfigurationTypeError` for arguments of the wrong type or
    that contradict each other, and :class:`ConfigurationError` for an unusable
    value (all of them ``ValueError``, the first two also ``TypeError``).
    """
    env = os.environ if environ is None else environ
    given = {name: value for name, value in fields.items() if value is not None}
    if config is not None:
        if given:
            raise ConfigurationTypeError(
                "config= already holds the client settings; "
                f"pass either config or {', '.join(sorted(given))}, not both"
            )
        cfg = config
    else:
        cfg = _config_from(given, env)
    if isinstance(token, str):
        token = AccessToken(access_token=token)
    elif token is not None and not isinstance(token, AccessToken) and not callable(token):
        raise ConfigurationTypeError(
            "token must be a str, an AccessToken or a callable that returns one, "
            f"not {type(token).__name__}"
        )
    # Credentials given as arguments win over a token from the environment.
    explicit_credentials = token_url is not None or bool(
        given.get("client_secret") or given.get("basic_token")
    )
    if token is None and not explicit_credentials:
        value = env_value(env, ENV_ACCESS_TOKEN)
        if value is not None:
            token = AccessToken(access_token=value)
    url = token_url or env_value(env, ENV_TOKEN_URL)
    if url is not None:
        http_url(url, "token_url" if token_url else ENV_TOKEN_URL)
    credentials = token is None and bool(cfg.client_secret or cfg.basic_token)
    if token_url is not None and not credentials:
        raise ConfigurationTypeError(
            "token_url is for fetching tokens with a client_secret or basic_token; none was given"
            if token is None
            else "token_url has no use with a token"
        )
    if token is None and not credentials:
        raise MissingSettingError(
            f"an access token is required: pass token= (or set {ENV_ACCESS_TOKEN}), "
            f"or a client_secret= or basic_token= (or set {ENV_CLIENT_SECRET} or "
            f"{ENV_BASIC_TOKEN}) to fetch one from the token endpoint"
        )
    return Resolved(config=cfg, token=token, token_url=url, use_credentials=credentials)


def _config_from(given: Mapping[str, Any], env: Mapping[str, str]) -> ClientConfig:
    client_id = given.get("client_id") or env_value(env, ENV_CLIENT_ID)
    if client_id is None:
        # A missing argument: also a TypeError, as Python reports one.
        raise MissingSettingError(
            f"a client id is required: pass client_id= or set {ENV_CLIENT_ID}"
        )
    if "environment" in given:
        environment = environment_from(given["environment"], "environment")
    else:
        word = env_value(env, ENV_ENVIRONMENT)
        environment = (
            Environment.SANDBOX if word is None else environment_from(word, ENV_ENVIRONMENT)
        )
    base_url = given.get("base_url")
    if base_url is None and (value := env_value(env, ENV_BASE_URL)) is not None:
        base_url = http_url(value, ENV_BASE_URL)
    return ClientConfig(
        client_id=client_id,
        environment=environment,
        base_url=base_url,
        client_secret=given.get("client_secret") or env_value(env, ENV_CLIENT_SECRET),
        basic_token=given.get("basic_token") or env_value(env, ENV_BASIC_TOKEN),
    )


def check_call_options(timeout: Any, retry: Any) -> None:
    """Refuses a ``timeout`` or ``retry`` that no call could use, when the client is made
    rather than at its first request: a :class:`ConfigurationTypeError` for the wrong
    kind of value, a :class:`ConfigurationError` for a limit that is not above 0 (an
    infinite one means no limit)."""
    if retry is not None and not isinstance(retry, RetryPolicy):
        raise ConfigurationTypeError(f"retry must be a RetryPolicy, not {type(retry).__name__}")
    if timeout is None:
        return
    limits = timeout if isinstance(timeout, httpx.Timeout) else None
    if limits is None:
        try:
            limits = httpx.Timeout(timeout)
        except (TypeError, ValueError):
            raise ConfigurationTypeError(
                "timeout must be a number of seconds or an httpx.Timeout, "
                f"not {type(timeout).__name__}"
            ) from None
    for name in ("connect", "read", "write", "pool"):
        value = getattr(limits, name)
        if value is None:
            continue
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise ConfigurationTypeError(
                "timeout must be a number of seconds or an httpx.Timeout, "
                f"not {type(value).__name__}"
            )
        if math.isnan(value) or value <= 0:
            raise ConfigurationError(f"timeout must be above 0 seconds, not {value!r}")
