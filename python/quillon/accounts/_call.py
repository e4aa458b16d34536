"""One operation call as a state machine that does no I/O, driven by both clients.

:class:`Call` runs a generator that says what to do next and is told what
happened. It yields actions:

- :class:`Fetch`: an access token is needed (replacing ``refused``, the one
  the gateway has just refused, if any); answer with the token, or None.
- :class:`Send`: send ``request``; answer with :class:`Answer` (the response
  and its whole body) or :class:`Failure` (what sending or reading raised).
- :class:`Sleep`: wait ``seconds`` before the next attempt; answer None.

and ends with :class:`Done` holding the typed result, or raises the call's
:class:`~quillon.accounts.errors.QuillonError`. The retry decisions
(:class:`~quillon.accounts.retry.Attempts`), the token refresh after a 401,
the masking of secrets in errors and the log lines are steps of it, so
``Client`` and ``AsyncClient`` differ only in how they carry the actions out.
"""

from __future__ import annotations

import logging
import time
import urllib.parse
from collections.abc import Callable, Generator
from typing import TYPE_CHECKING, Any, Generic, NamedTuple, TypeVar

import httpx

from quillon.accounts import _body
from quillon.accounts._logging import Redactor, logger, mask_headers
from quillon.accounts.config import AccessToken
from quillon.accounts.errors import (
    BODY_PREVIEW_CHARS,
    ApiError,
    QuillonError,
    TransportError,
    request_id_of,
)
from quillon.accounts.protocol import HttpRequest, HttpResponse, Operation, parse
from quillon.accounts.retry import MAYBE_SENT, NOT_SENT, Attempts

if TYPE_CHECKING:
    from quillon.accounts._base import ClientBase

R = TypeVar("R")

# Texts taken from an answer (a gateway message, say) are cut to this many characters.
MAX_ERROR_TEXT = 1000
# Failures of the exchange that another try would meet again.
_LOCAL = (httpx.UnsupportedProtocol, httpx.LocalProtocolError, httpx.InvalidURL, UnicodeError)


class Fetch(NamedTuple):
    """A valid access token is needed, other than ``refused``; by ``deadline`` (monotonic)."""

    refused: AccessToken | None
    deadline: float


class Send(NamedTuple):
    """Send ``request`` and read its answer whole, by ``deadline`` (monotonic)."""

    request: HttpRequest
    deadline: float


class Sleep(NamedTuple):
    """Wait ``seconds`` before the next attempt."""

    seconds: float


class Done(NamedTuple):
    """The call's typed result."""

    result: Any


class Answer(NamedTuple):
    """The answer to a :class:`Send`: the response and its whole body."""

    response: httpx.Response
    body: bytes


class Failure(NamedTuple):
    """What sending a request or reading its answer raised."""

    error: Exception


Action = Fetch | Send | Sleep | Done
Event = AccessToken | Answer | Failure | None


class Call(Generic[R]):
    """One call of ``operation`` with ``input``: :meth:`start`, then :meth:`send` each
    action's outcome until the action is :class:`Done`."""

    __slots__ = ("deadline", "send")

    def __init__(self, client: ClientBase, operation: Operation[Any, R], input: Any) -> None:
        run = Attempts(
            operation.name,
            operation.idempotent,
            client.retry,
            can_refresh=client._provider is not None,
        )
        self.deadline = run.deadline
        # The next action, given the outcome of the last one.
        self.send: Callable[[Event], Action] = _steps(client, run, operation, input).send

    def start(self) -> Action:
        """The first action."""
        return self.send(None)


def _steps(
    client: ClientBase, run: Attempts, operation: Operation[Any, R], input: Any
) -> Generator[Action, Any, None]:
    # A client with a fixed token never asks for one.
    token = client._static
    fetching = client._provider is not None
    while True:
        if fetching:
            run.refused, refused = None, run.refused
            token = yield Fetch(refused, run.deadline)
        request = client._build(operation, token, input)
        run.begin()
        if logger.isEnabledFor(logging.DEBUG):
            logger.debug(
                "sending %s: %s %s (attempt %d)",
                operation.name,
                request.method,
                request.url,
                run.attempts,
            )
        started = time.monotonic()
        event: Answer | Failure = yield Send(request, run.deadline)
        if isinstance(event, Failure):
            delay = _after_failure(client, run, event.error, request)
        else:
            resp, body = event
            status = resp.status_code
            if logger.isEnabledFor(logging.DEBUG):
                took = (time.monotonic() - started) * 1000
                logger.debug("%s answered HTTP %d in %.0f ms", operation.name, status, took)
            client._record(request, resp, started, run)
            result = operation.fast_result(status, body, _body.charset(resp))
            if result is None:
                response = HttpResponse(status, _body.text(body, resp), dict(resp.headers))
                try:
                    result = parse(operation, input, response)
                except QuillonError as err:
                    delay = _after_answer(client, run, err, response, token, request)
                    result = _NONE
            if result is not _NONE:
                yield Done(result)
                return
        if delay:
            yield Sleep(delay)


# Marks an answer that gave no result (a result may itself be None).
_NONE: Any = object()


def _after_failure(
    client: ClientBase, run: Attempts, exc: Exception, request: HttpRequest
) -> float:
    """The wait before another attempt after a failed exchange; raises when none is left."""
    if isinstance(exc, QuillonError):
        raise _detailed(client, exc.scrubbed(client._redactor.scrub), run, request) from None
    delay = run.after_transport_error(exc)
    if delay is None:
        err = _transport_error(exc, client._redactor, run, request)
        raise _detailed(client, err, run, request) from None
    _log_retry(client, run, delay, f"{type(exc).__name__}: {exc}")
    return delay


def _after_answer(
    client: ClientBase,
    run: Attempts,
    err: QuillonError,
    response: HttpResponse,
    token: AccessToken | None,
    request: HttpRequest,
) -> float:
    """The wait before another attempt after a failure answer; raises when none is left."""
    delay = run.after_error(err, response.headers.get("retry-after"), token)
    if delay is None:
        client._forget_if_refused(err, token)
        final = _detailed(client, _final(err, response, client._redactor), run, request, response)
        raise final from None
    _log_retry(client, run, delay, str(err))
    return delay


def _log_retry(client: ClientBase, run: Attempts, delay: float, reason: str) -> None:
    if run.refused is not None:
        logger.info("%s: access token refused, asking the provider for a new one", run.name)
        return
    logger.warning(
        "retrying %s in %.2f s after %s (attempt %d of %d)",
        run.name,
        delay,
        client._redactor.scrub(reason),
        run.attempts + 1,
        client.retry.max_attempts,
    )


def _transport_error(
    exc: Exception, redactor: Redactor, run: Attempts, request: HttpRequest
) -> TransportError:
    """The TransportError for a failure of httpx (or of encoding a request for it)."""
    # A bad scheme or a request httpx itself refused to write never left the machine.
    sent = not isinstance(exc, (*NOT_SENT, *_LOCAL))
    retryable = isinstance(exc, (*NOT_SENT, *MAYBE_SENT))
    detail = f"{type(exc).__name__}: {str(exc) or type(exc).__name__}"
    if run.remaining() <= 0:
        detail = (
            f"no answer within the call's deadline of {run.policy.max_elapsed:g} s "
            f"(RetryPolicy.max_elapsed): {detail}"
        )
    detail = redactor.scrub(detail, cut=True)
    if len(detail) > MAX_ERROR_TEXT:
        detail = detail[:MAX_ERROR_TEXT] + "..."
    host = redactor.scrub(urllib.parse.urlsplit(request.url).netloc)
    tries = f"{run.attempts} attempt{'s' if run.attempts != 1 else ''}"
    detail += f" ({request.method} {host}, {tries} in {run.elapsed():.1f} s)"
    return TransportError(detail, sent=sent, retryable=retryable)


def _final(err: QuillonError, response: HttpResponse, redactor: Redactor) -> QuillonError:
    clean = err.scrubbed(lambda text: redactor.scrub(text, cut=True), limit=MAX_ERROR_TEXT)
    if isinstance(clean, ApiError):
        retry_after = response.headers.get("retry-after")
        clean.retry_after = None if retry_after is None else redactor.scrub(retry_after)[:100]
    return clean


def _detailed(
    client: ClientBase,
    err: QuillonError,
    run: Attempts,
    request: HttpRequest,
    response: HttpResponse | None = None,
) -> QuillonError:
    """``err`` with what was sent and answered, secrets masked."""
    scrub = client._redactor.scrub
    err.method = request.method
    err.url = scrub(request.url)
    err.attempts = run.attempts
    err.elapsed = run.elapsed()
    if response is not None:
        err.response_headers = {
            name.lower(): scrub(value) for name, value in mask_headers(response.headers).items()
        }
        err.body_preview = scrub(response.body[: BODY_PREVIEW_CHARS + 100], cut=True)[
            :BODY_PREVIEW_CHARS
        ]
        err.request_id = request_id_of(err.response_headers)
    return err
