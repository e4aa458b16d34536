"""Exceptions raised by the client library.

Every failure that the engine reports is an error object with a "kind"; each
kind has its own exception class here, all derived from :class:`QuillonError`,
carrying the members of that object. Failures of the HTTP exchange itself
(the gateway could not be reached, the answer did not arrive in time) raise
:class:`TransportError`.
"""

from __future__ import annotations

import copy
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from typing import Any, ClassVar

__all__ = [
    "BODY_PREVIEW_CHARS",
    "AmbiguousError",
    "ApiError",
    "ApiFieldError",
    "AuthenticationError",
    "DecodeError",
    "FfiError",
    "MissingExtraError",
    "QuillonError",
    "ResponseTooLargeError",
    "TransportError",
    "ValidationError",
    "WebhookAuthError",
    "error_from_object",
]


BODY_PREVIEW_CHARS = 500
"""Most characters of an answer's body that an error keeps as ``body_preview``."""


@dataclass(frozen=True)
class ApiFieldError:
    """One message of a gateway rejection, with the gateway's error code."""

    field: str | None
    message: str
    code: str | None

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> ApiFieldError:
        """The field error from the engine's JSON form of it."""
        return cls(
            field=obj.get("field"), message=str(obj.get("message", "")), code=obj.get("code")
        )


class QuillonError(Exception):
    """Base class of every error that the client raises on purpose.

    An error raised by a client call also tells what happened on the wire
    (None where it does not apply, as for input refused before sending):

    - ``method`` and ``url``: the last request sent (the URL holds no credential);
    - ``response_headers``: the answer's headers, names in lower case, credentials
      masked;
    - ``body_preview``: the start of the answer's body (at most
      :data:`BODY_PREVIEW_CHARS` characters), secrets masked;
    - ``attempts``: how many times the request was sent;
    - ``elapsed``: seconds from the start of the call to the error, waits included.
    """

    kind: ClassVar[str] = "error"
    method: str | None = None
    url: str | None = None
    response_headers: Mapping[str, str] | None = None
    body_preview: str | None = None
    attempts: int | None = None
    elapsed: float | None = None

    def __init__(self, message: str, *, retryable: bool = False) -> None:
        super().__init__(message)
        self.message = message
        self.retryable = retryable

    def to_json(self) -> dict[str, Any]:
        """The error as the engine writes it: "kind", its members and "retryable"."""
        return {"kind": self.kind, "message": self.message, "retryable": self.retryable}

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
            f"{key}={value!r}" for key, value in self.to_json().items() if key != "kind"
        )
        return f"{type(self).__name__}({members})"


class ValidationError(QuillonError):
    """The input (or the access token) is unusable; nothing was sent."""

    kind = "validation"

    def __init__(self, message: str, *, field: str) -> None:
        super().__init__(message)
        self.field = field

    def __str__(self) -> str:
        return f"{self.field}: {self.message}"

    def to_json(self) -> dict[str, Any]:
        """The error as the engine writes it, with the field."""
        return super().to_json() | {"field": self.field}


class AuthenticationError(QuillonError):
    """The gateway refused the credentials (HTTP 401 or 403)."""

    kind = "authentication"

    def __init__(self, message: str, *, status: int) -> None:
        super().__init__(message)
        self.status = status

    def __str__(self) -> str:
        return f"HTTP {self.status}: {self.message}"

    def to_json(self) -> dict[str, Any]:
        """The error as the engine writes it, with the HTTP status."""
        return super().to_json() | {"status": self.status}


class ApiError(QuillonError):
    """The gateway answered with a failure."""

    kind = "api"

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
        self.errors: tuple[ApiFieldError, ...] = tuple(errors)
        # Filled in by the client: the value of the answer's Retry-After header.
        self.retry_after: str | None = None

    @property
    def code(self) -> str | None:
        """The gateway's error code of the first message, if it gave one."""
        return self.errors[0].code if self.errors else None

    def __str__(self) -> str:
        code = self.code
        suffix = f" (code {code})" if code is not None else ""
        return f"HTTP {self.status}: {self.message}{suffix}"

    def to_json(self) -> dict[str, Any]:
        """The error as the engine writes it, with the status and field errors."""
        return super().to_json() | {
            "status": self.status,
            "errors": [
                {"field": e.field, "message": e.message, "code": e.code} for e in self.errors
            ],
        }


class AmbiguousError(QuillonError):
    """The outcome of an operation could not be established."""

    kind = "ambiguous"

    def __init__(self, message: str, *, errors: Sequence[ApiFieldError] = ()) -> None:
        super().__init__(message)
        self.errors: tuple[ApiFieldError, ...] = tuple(errors)

    def to_json(self) -> dict[str, Any]:
        """The error as the engine writes it, with the field errors."""
        return super().to_json() | {
            "errors": [
                {"field": e.field, "message": e.message, "code": e.code} for e in self.errors
            ],
        }


class DecodeError(QuillonError):
    """A gateway answer is not in the expected form."""

    kind = "decode"


class WebhookAuthError(QuillonError):
    """A webhook notification failed its authenticity check."""

    kind = "webhook_auth"


class FfiError(QuillonError):
    """The engine was called wrongly or failed internally: a defect, not a gateway answer."""

    kind = "ffi"


class MissingExtraError(QuillonError, ImportError):
    """An optional library that a method needs is not installed.

    Also an ``ImportError``, so ``except ImportError`` catches it. The message
    is one line naming what to install, e.g. ``pip install
    'quillon-accounts[arrow]'``.
    """

    kind = "missing_extra"


class TransportError(QuillonError):
    """The HTTP exchange failed: the gateway was not reached or did not answer in time.

    ``sent`` tells whether the request may have reached the gateway;
    ``retryable`` whether another try could help (a refused or dropped
    connection, a timeout), as opposed to a fault that would come back the same.
    """

    kind = "transport"

    def __init__(self, message: str, *, sent: bool, retryable: bool = False) -> None:
        super().__init__(message, retryable=retryable)
        self.sent = sent

    def to_json(self) -> dict[str, Any]:
        """The error as the engine writes it, with ``sent``."""
        return super().to_json() | {"sent": self.sent}


class ResponseTooLargeError(TransportError):
    """The answer grew past the client's limit on response size; reading stopped there.

    ``limit`` is that limit in bytes, counted both as received and after
    decompression.
    """

    def __init__(self, message: str, *, limit: int) -> None:
        super().__init__(message, sent=True)
        self.limit = limit

    def to_json(self) -> dict[str, Any]:
        """The error as the engine writes it, with the size limit."""
        return super().to_json() | {"limit": self.limit}


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
        return AuthenticationError(message, status=int(obj.get("status", 0)))
    if kind == "api":
        return ApiError(
            message,
            status=int(obj.get("status", 0)),
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
