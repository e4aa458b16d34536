"""Exceptions raised by the client library.

Every failure that the engine reports is an error object with a "kind"; each
kind has its own exception class here, all derived from :class:`QuillonError`,
carrying the members of that object. Failures of the HTTP exchange itself
(the gateway could not be reached, the answer did not arrive in time) raise
:class:`TransportError`. Settings a client cannot work with raise
:class:`ConfigurationError` when the client is made (also a ``ValueError``;
its subclasses :class:`ConfigurationTypeError` and :class:`MissingSettingError`
are also ``TypeError``), and a call on a closed client raises
:class:`ClientClosedError` (also a ``RuntimeError``).
"""

from __future__ import annotations

import copy
import json
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from typing import Any, ClassVar

__all__ = [
    "BODY_PREVIEW_CHARS",
    "AmbiguousError",
    "ApiError",
    "ApiFieldError",
    "AuthenticationError",
    "BadRequestError",
    "ClientClosedError",
    "ConfigurationError",
    "ConfigurationTypeError",
    "ConflictError",
    "DecodeError",
    "FfiError",
    "InternalServerError",
    "MissingExtraError",
    "MissingSettingError",
    "NotFoundError",
    "PermissionDeniedError",
    "QuillonError",
    "RateLimitError",
    "ResponseTooLargeError",
    "TransportError",
    "ValidationError",
    "WebhookAuthError",
    "error_from_object",
    "request_id_of",
]


BODY_PREVIEW_CHARS = 500
"""Most characters of an answer's body that an error keeps as ``body_preview``."""


@dataclass(frozen=True)
class ApiFieldError:
    """One message of a gateway rejection, with the gateway's error code."""

    field: str | None
    """The input field the message is about, if the gateway named one."""
    message: str
    """The gateway's message."""
    code: str | None
    """The gateway's error code (such as "CTA-009"), if it gave one."""

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> ApiFieldError:
        """The field error from the engine's JSON form of it."""
        return cls(
            field=obj.get("field"), message=str(obj.get("message", "")), code=obj.get("code")
        )


class QuillonError(Exception):
    """Base class of every error that the client raises on purpose.

    An error raised by a client call also tells what happened on the wire, in
    the members below (None where it does not apply, as for input refused
    before sending).
    """

    kind: ClassVar[str] = "error"
    """The error's kind, as the engine names it ("validation", "api", ...); each class has its own.
    """
    method: str | None = None
    """The HTTP method of the last request sent."""
    url: str | None = None
    """The URL of the last request sent (it holds no credential)."""
    response_headers: Mapping[str, str] | None = None
    """The answer's headers, names in lower case, credentials masked."""
    body_preview: str | None = None
    """The start of the answer's body (at most :data:`BODY_PREVIEW_CHARS` characters), secrets
    masked.
    """
    attempts: int | None = None
    """How many times the request was sent."""
    elapsed: float | None = None
    """Seconds from the start of the call to the error, waits included."""
    request_id: str | None = None
    """The gateway's identifier of the request, when its answer carried one (an ``X-Request-Id``
    header or one of its usual variants).
    """

    def __init__(self, message: str, *, retryable: bool = False) -> None:
        super().__init__(message)
        self.message = message
        """What went wrong, in words."""
        self.retryable = retryable
        """Whether sending the same request again could succeed."""

    def to_dict(self) -> dict[str, Any]:
        """The error as the engine writes it: "kind", its members and "retryable"."""
        return {"kind": self.kind, "message": self.message, "retryable": self.retryable}

    def to_json(self) -> str:
        """The error as JSON text: :meth:`to_dict` written compactly, non-ASCII escaped."""
        return json.dumps(self.to_dict(), separators=(",", ":"), sort_keys=True)

    def scrubbed(self, scrub: Callable[[str], str], limit: int | None = None) -> QuillonError:
        """A copy of this error whose texts went through ``scrub`` (used to mask secrets).

        With ``limit``, each text is then cut to that many characters, so that
        nothing is cut before it is masked.
        """

        def clean(text: str) -> str:
            text = scrub(text)
            if limit is not None and len(text) > limit:
                text = text[:limit] + f"... ({len(text) - limit} more characters)"
            return text

        clone = copy.copy(self)
        clone.message = clean(self.message)
        clone.args = (clone.message,)
        errors = getattr(self, "errors", None)
        if errors:
            # The gateway's error code is its text too, and may echo what it was sent.
            clone.errors = tuple(  # type: ignore[attr-defined]
                ApiFieldError(
                    field=None if e.field is None else clean(e.field),
                    message=clean(e.message),
                    code=None if e.code is None else clean(e.code),
                )
                for e in errors
            )
        return clone

    def __reduce__(self) -> tuple[Any, ...]:
        # Every member lives in __dict__; the message is the only argument.
        return (_restore, (type(self), self.args, dict(self.__dict__)))

    def __repr__(self) -> str:
        members = ", ".join(
            f"{key}={value!r}" for key, value in self.to_dict().items() if key != "kind"
        )
        return f"{type(self).__name__}({members})"


class ValidationError(QuillonError):
    """The input (or the access token) is unusable; nothing was sent."""

    kind = "validation"
    """"validation": the error's kind, as in :meth:`to_dict`."""

    def __init__(self, message: str, *, field: str) -> None:
        super().__init__(message)
        self.field = field
        """The input field at fault (such as "nit" or "accounts[0].alias")."""

    def __str__(self) -> str:
        return f"{self.field}: {self.message}"

    def to_dict(self) -> dict[str, Any]:
        """The error as the engine writes it, with the field."""
        return super().to_dict() | {"field": self.field}


class AuthenticationError(QuillonError):
    """The gateway refused the credentials (HTTP 401 or 403)."""

    kind = "authentication"
    """"authentication": the error's kind, as in :meth:`to_dict`."""

    def __init__(self, message: str, *, status: int) -> None:
        super().__init__(message)
        self.status = status
        """The HTTP status of the refusal (401 or 403)."""

    def __str__(self) -> str:
        return f"HTTP {self.status}: {self.message}"

    def to_dict(self) -> dict[str, Any]:
        """The error as the engine writes it, with the HTTP status."""
        return super().to_dict() | {"status": self.status}


class ApiError(QuillonError):
    """The gateway answered with a failure."""

    kind = "api"
    """"api": the error's kind, as in :meth:`to_dict`."""

    def __init__(
        self,
        message: str,
        *,
        status: int,
        errors: Sequence[ApiFieldError] = (),
        retryable: bool = False,
    ) -> None:
        super().__init__(message, retryable=retryable)
        self.status = status
        """The HTTP status of the answer."""
        self.errors: tuple[ApiFieldError, ...] = tuple(errors)
        """The gateway's messages, each with its field and code."""
        # Filled in by the client: the value of the answer's Retry-After header.
        self.retry_after: str | None = None
        """The answer's Retry-After header, as sent, if it had one."""

    @property
    def code(self) -> str | None:
        """The gateway's error code of the first message, if it gave one."""
        return self.errors[0].code if self.errors else None

    def __str__(self) -> str:
        code = self.code
        suffix = f" (code {code})" if code is not None else ""
        return f"HTTP {self.status}: {self.message}{suffix}"

    def to_dict(self) -> dict[str, Any]:
        """The error as the engine writes it, with the status and field errors."""
        return super().to_dict() | {
            "status": self.status,
            "errors": [
                {"field": e.field, "message": e.message, "code": e.code} for e in self.errors
            ],
        }


class PermissionDeniedError(AuthenticationError):
    """The gateway refused the credentials for this request (HTTP 403)."""


class BadRequestError(ApiError):
    """The gateway refused the request as malformed (HTTP 400)."""


class NotFoundError(ApiError):
    """The gateway knows no such merchant, account or path (HTTP 404)."""


class ConflictError(ApiError):
    """The request conflicts with the gateway's state (HTTP 409)."""


class RateLimitError(ApiError):
    """Too many requests (HTTP 429); ``retry_after`` holds the gateway's advice, if any."""


class InternalServerError(ApiError):
    """The gateway failed (HTTP 5xx)."""


# The class of a gateway failure by its HTTP status; any other status is an ApiError.
_API_BY_STATUS: dict[int, type[ApiError]] = {
    400: BadRequestError,
    404: NotFoundError,
    409: ConflictError,
    429: RateLimitError,
}


def _api_class(status: int) -> type[ApiError]:
    if 500 <= status <= 599:
        return InternalServerError
    return _API_BY_STATUS.get(status, ApiError)


class AmbiguousError(QuillonError):
    """The outcome of an operation could not be established."""

    kind = "ambiguous"
    """"ambiguous": the error's kind, as in :meth:`to_dict`."""

    def __init__(self, message: str, *, errors: Sequence[ApiFieldError] = ()) -> None:
        super().__init__(message)
        self.errors: tuple[ApiFieldError, ...] = tuple(errors)
        """The gateway's messages, if any."""

    def to_dict(self) -> dict[str, Any]:
        """The error as the engine writes it, with the field errors."""
        return super().to_dict() | {
            "errors": [
                {"field": e.field, "message": e.message, "code": e.code} for e in self.errors
            ],
        }


class DecodeError(QuillonError):
    """A gateway answer is not in the expected form."""

    kind = "decode"
    """"decode": the error's kind, as in :meth:`to_dict`."""


class WebhookAuthError(QuillonError):
    """A webhook notification failed its authenticity check."""

    kind = "webhook_auth"
    """"webhook_auth": the error's kind, as in :meth:`to_dict`."""


class FfiError(QuillonError):
    """The engine was called wrongly or failed internally: a defect, not a gateway answer."""

    kind = "ffi"
    """"ffi": the error's kind, as in :meth:`to_dict`."""


class ConfigurationError(QuillonError, ValueError):
    """A client was given a setting it cannot work with; nothing was sent.

    Raised when a client (or ``with_options``, or a
    :class:`~quillon.accounts.retry.RetryPolicy`) is made: an unknown
    environment, a timeout or retry limit that is not above 0, a header the
    client sets itself. It is also a ``ValueError``.
    """

    kind = "configuration"
    """"configuration": the error's kind, as in :meth:`to_dict`."""


class ConfigurationTypeError(ConfigurationError, TypeError):
    """A setting of the wrong type, or settings that contradict each other
    (``config=`` with ``client_id=``, say). It is also a ``TypeError``."""


class MissingSettingError(ConfigurationTypeError):
    """A required setting was given neither as an argument nor in the environment:
    the client id, or any way to get an access token. It is also a ``TypeError``,
    as for a missing argument."""


class ClientClosedError(QuillonError, RuntimeError):
    """The client (or the client it was derived from, or the ``http_client`` lent to
    it) was closed; nothing was sent. It is also a ``RuntimeError``."""

    kind = "closed"
    """"closed": the error's kind, as in :meth:`to_dict`."""


class MissingExtraError(QuillonError, ImportError):
    """An optional library that a method needs is not installed.

    Also an ``ImportError``, so ``except ImportError`` catches it. The message
    is one line naming what to install, e.g. ``pip install
    'quillon-accounts[arrow]'``.
    """

    kind = "missing_extra"
    """"missing_extra": the error's kind, as in :meth:`to_dict`."""


class TransportError(QuillonError):
    """The HTTP exchange failed: the gateway was not reached or did not answer in time.

    ``sent`` tells whether the request may have reached the gateway;
    ``retryable`` whether another try could help (a refused or dropped
    connection, a timeout), as opposed to a fault that would come back the same.
    """

    kind = "transport"
    """"transport": the error's kind, as in :meth:`to_dict`."""

    def __init__(self, message: str, *, sent: bool, retryable: bool = False) -> None:
        super().__init__(message, retryable=retryable)
        self.sent = sent
        """Whether the request may have reached the gateway."""

    def to_dict(self) -> dict[str, Any]:
        """The error as the engine writes it, with ``sent``."""
        return super().to_dict() | {"sent": self.sent}


class ResponseTooLargeError(TransportError):
    """The answer grew past the client's limit on response size; reading stopped there.

    ``limit`` is that limit in bytes, counted both as received and after
    decompression.
    """

    def __init__(self, message: str, *, limit: int) -> None:
        super().__init__(message, sent=True)
        self.limit = limit
        """The size limit in bytes, counted as received and after decompression."""

    def to_dict(self) -> dict[str, Any]:
        """The error as the engine writes it, with the size limit."""
        return super().to_dict() | {"limit": self.limit}


def _restore(cls: type[QuillonError], args: tuple[Any, ...], state: dict[str, Any]) -> QuillonError:
    err = cls.__new__(cls)
    Exception.__init__(err, *args)
    err.__dict__.update(state)
    return err


def _field_errors(obj: Mapping[str, Any]) -> list[ApiFieldError]:
    items = obj.get("errors") or []
    return [ApiFieldError.from_json(item) for item in items if isinstance(item, Mapping)]


def _rebuild(obj: Mapping[str, Any]) -> QuillonError:
    kind = obj.get("kind")
    message = str(obj.get("message", ""))
    if kind == "validation":
        return ValidationError(message, field=str(obj.get("field", "")))
    if kind == "authentication":
        status = int(obj.get("status", 0))
        auth = PermissionDeniedError if status == 403 else AuthenticationError
        return auth(message, status=status)
    if kind == "api":
        status = int(obj.get("status", 0))
        return _api_class(status)(
            message,
            status=status,
            errors=_field_errors(obj),
            retryable=bool(obj.get("retryable", False)),
        )
    if kind == "ambiguous":
        return AmbiguousError(message, errors=_field_errors(obj))
    if kind == "decode":
        return DecodeError(message)
    if kind == "webhook_auth":
        return WebhookAuthError(message)
    if kind == "transport":
        return TransportError(
            message, sent=bool(obj.get("sent", True)), retryable=bool(obj.get("retryable", False))
        )
    if kind == "ffi":
        return FfiError(message)
    return FfiError(f"unexpected error object from the engine: {dict(obj)!r}")


def error_from_object(obj: Mapping[str, Any]) -> QuillonError:
    """The exception for an error object of the engine's result envelope."""
    return _rebuild(obj)


# Headers that carry the gateway's (or its proxy's) identifier of a request, in
# the order they are looked for.
_REQUEST_ID_HEADERS = ("x-request-id", "request-id", "x-correlation-id", "x-amzn-requestid")


def request_id_of(headers: Mapping[str, str]) -> str | None:
    """The request identifier that an answer's headers carry, if any (names in lower case)."""
    for name in _REQUEST_ID_HEADERS:
        value = headers.get(name)
        if value:
            return value[:200]
    return None
