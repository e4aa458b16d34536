"""The sans-I/O layer: typed wrappers over the engine's ``call``.

For callers with their own HTTP stack::

    ref = AccountRef(nit="1234567", account_number="12345678")
    request = build(GET_ACCOUNT, config, token, ref)
    # ... send request.method, request.url, request.headers, request.body ...
    result = parse(GET_ACCOUNT, ref, HttpResponse(status=..., body=...))

``build`` and ``parse`` raise the exceptions of :mod:`quillon.accounts.errors`
for every error object the engine answers with.
"""

from __future__ import annotations

import functools
import json
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field
from decimal import Decimal
from typing import Any, Generic, Protocol, TypeVar

from quillon.accounts import _fast_results, _native
from quillon.accounts._logging import mask_headers
from quillon.accounts.config import AccessToken, ClientConfig
from quillon.accounts.errors import FfiError, error_from_object
from quillon.accounts.models import (
    AccountRange,
    AccountRef,
    Balance,
    BalancesQuery,
    CreateAccounts,
    CreatedAccounts,
    MerchantAccount,
    MerchantAccounts,
    MerchantRange,
    MerchantRef,
    Movement,
    Reconciliation,
    StatusChanged,
    StatusChanges,
)

__all__ = [
    "BALANCES",
    "CREATE_ACCOUNTS",
    "CREDITS",
    "DEBITS",
    "GET_ACCOUNT",
    "LIST_ACCOUNTS",
    "OPERATIONS",
    "RECONCILE",
    "SET_STATUS",
    "HttpRequest",
    "HttpResponse",
    "InputRecord",
    "JsonKept",
    "OpInfo",
    "Operation",
    "build",
    "call",
    "describe",
    "parse",
    "version",
]


class InputRecord(Protocol):
    """An input record: anything the engine can take as an operation's "input"."""

    def to_json(self) -> dict[str, Any]:
        """The record as the engine reads it."""
        ...


In = TypeVar("In", bound=InputRecord)
R = TypeVar("R")


@dataclass(frozen=True)
class HttpRequest:
    """One request to send. The credential headers are masked in the ``repr``."""

    method: str
    """The HTTP method ("GET", "POST" or "PUT")."""
    url: str
    """The whole URL: the gateway's address and the operation's path."""
    headers: Mapping[str, str] = field(repr=False)
    """The headers to send, credentials included."""
    body: str | None = None
    """The JSON body as text; None for a request without one."""

    def __repr__(self) -> str:
        return (
            f"HttpRequest(method={self.method!r}, url={self.url!r}, "
            f"headers={mask_headers(self.headers)!r}, body={self.body!r})"
        )

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> HttpRequest:
        """The request from the engine's JSON form of it."""
        return cls(
            method=obj["method"], url=obj["url"], headers=dict(obj["headers"]), body=obj["body"]
        )


@dataclass(frozen=True)
class HttpResponse:
    """The gateway's answer: status and body text exactly as received."""

    status: int
    """The HTTP status code."""
    body: str
    """The body as text, exactly as received (decoded from UTF-8)."""
    headers: Mapping[str, str] = field(default_factory=dict, compare=False)
    """The answer's headers (the engine does not read them; the clients keep them for errors).
    """

    def to_json(self) -> dict[str, Any]:
        """The answer as the engine reads it: status and body."""
        return {"status": self.status, "body": self.body}


@dataclass(frozen=True)
class OpInfo:
    """One entry of the engine's operation list."""

    name: str
    """The operation's name, such as "accounts.get"."""
    idempotent: bool
    """Whether sending the request twice is harmless (so that it may be retried)."""
    timeout_secs: int | None = None
    """A timeout the engine suggests for the operation, in seconds, if it gives one."""


# What json.loads(text, parse_float=Decimal) makes, without a new decoder per call
# (the engine writes no white space around its answer).
_DECODER = json.JSONDecoder(parse_float=Decimal)


def _kept_encoder() -> Callable[[Any], str]:
    """What ``json.dumps`` writes, without a new encoder per call.

    Input records hold no cycles, so the encoder need not look for them.
    Where the C encoder is missing or writes otherwise, ``json.dumps`` itself.
    """
    make = getattr(json.encoder, "c_make_encoder", None)
    if make is None:
        return json.dumps
    try:
        encode = make(
            None,
            json.JSONEncoder().default,
            json.encoder.encode_basestring_ascii,
            None,
            ": ",
            ", ",
            False,
            False,
            True,
        )
    except TypeError:
        return json.dumps

    def dumps(value: Any) -> str:
        return "".join(encode(value, 0))

    sample = {"a": ["\u00e9\n", 1, 2.5, None, True, {"b": -0.0}], "c": 10**30}
    return dumps if dumps(sample) == json.dumps(sample) else json.dumps


_dumps = _kept_encoder()


def call(op: str, payload: str = "") -> Any:
    """Runs ``op`` in the engine and gives its value, or raises the error it answered with."""
    text = _native.call(op, payload)
    try:
        envelope, end = _DECODER.raw_decode(text)
        if end != len(text):
            raise ValueError(f"extra data at {end}")
    except ValueError as exc:  # the engine always writes JSON; this is a defect
        raise FfiError(f"the engine answered {op} with text that is not JSON: {exc}") from None
    if envelope.get("ok") is True:
        return envelope.get("value")
    error = envelope.get("error")
    if not isinstance(error, Mapping):
        raise FfiError(f"the engine answered {op} with a malformed envelope")
    raise error_from_object(error)


@functools.lru_cache(maxsize=1)
def describe() -> tuple[OpInfo, ...]:
    """The engine's operations with their idempotency, in the engine's order."""
    return tuple(
        OpInfo(name=e["name"], idempotent=bool(e["idempotent"]), timeout_secs=e.get("timeout_secs"))
        for e in call("describe")
        if e.get("kind") == "operation"
    )


def version() -> dict[str, Any]:
    """The engine's versions: {"core": ..., "protocol": ...}."""
    value = call("version")
    return dict(value)


class Operation(Generic[In, R]):
    """One engine operation: its name, input record and typed result."""

    def __init__(self, name: str, input_type: type[In], result: Callable[[Any], R]) -> None:
        self.name = name
        """The operation's name, such as "accounts.get"."""
        self._build_op = name + ".build"
        self.input_type = input_type
        """The input record the operation takes."""
        self._result = result

    @property
    def info(self) -> OpInfo:
        """The engine's description of this operation."""
        for entry in describe():
            if entry.name == self.name:
                return entry
        raise FfiError(f"the engine does not offer the operation {self.name}")

    @functools.cached_property
    def idempotent(self) -> bool:
        """Whether sending the request twice is harmless (as the engine describes it)."""
        return self.info.idempotent

    def result_from_json(self, value: Any) -> R:
        """The typed result from the engine's JSON value."""
        return self._result(value)

    def fast_result(self, status: int, body: bytes, charset: str | None) -> R | None:
        """The typed result straight from the answer's bytes, or None to leave the
        answer to :func:`parse` (which gives the same result, or the error).

        ``charset`` is the one the answer declares. This one builds the
        results natively from a successful UTF-8 answer.
        """
        result: R | None = _fast_results.from_bytes(self.name, status, body, charset)
        return result

    def __repr__(self) -> str:
        return f"Operation({self.name!r})"


def _list_of(item: Callable[[Any], R]) -> Callable[[Any], list[R]]:
    def convert(value: Any) -> list[R]:
        return [item(v) for v in value]

    return convert


GET_ACCOUNT: Operation[AccountRef, MerchantAccount] = Operation(
    "accounts.get", AccountRef, MerchantAccount.from_json
)
"""One account with its merchant and establishment (``accounts.get``)."""
LIST_ACCOUNTS: Operation[MerchantRef, MerchantAccounts] = Operation(
    "accounts.list", MerchantRef, MerchantAccounts.from_json
)
"""A merchant's establishments and accounts (``accounts.list``)."""
CREATE_ACCOUNTS: Operation[CreateAccounts, CreatedAccounts] = Operation(
    "accounts.create", CreateAccounts, CreatedAccounts.from_json
)
"""Opens accounts under an establishment (``accounts.create``; not idempotent)."""
SET_STATUS: Operation[StatusChanges, list[StatusChanged]] = Operation(
    "accounts.set_status", StatusChanges, _list_of(StatusChanged.from_json)
)
"""Gives accounts a new status (``accounts.set_status``)."""
RECONCILE: Operation[MerchantRange, Reconciliation] = Operation(
    "accounts.reconcile", MerchantRange, Reconciliation.from_json
)
"""A merchant's movements and balances over at most 7 days (``accounts.reconcile``)."""
CREDITS: Operation[AccountRange, list[Movement]] = Operation(
    "accounts.credits", AccountRange, _list_of(Movement.from_json)
)
"""An account's credits over at most 31 days (``accounts.credits``)."""
DEBITS: Operation[AccountRange, list[Movement]] = Operation(
    "accounts.debits", AccountRange, _list_of(Movement.from_json)
)
"""An account's debits over at most 31 days (``accounts.debits``)."""
BALANCES: Operation[BalancesQuery, list[Balance]] = Operation(
    "accounts.balances", BalancesQuery, _list_of(Balance.from_json)
)
"""The balances of 1 to 10 accounts (``accounts.balances``)."""

OPERATIONS: dict[str, Operation[Any, Any]] = {
    op.name: op
    for op in (
        GET_ACCOUNT,
        LIST_ACCOUNTS,
        CREATE_ACCOUNTS,
        SET_STATUS,
        RECONCILE,
        CREDITS,
        DEBITS,
        BALANCES,
    )
}
"""Every operation by its name."""


def _check_input(operation: Operation[In, R], input: In) -> None:
    if not isinstance(input, operation.input_type):
        raise TypeError(
            f"{operation.name} takes a {operation.input_type.__name__}, not {type(input).__name__}"
        )


def build(
    operation: Operation[In, R],
    config: ClientConfig,
    token: AccessToken | None,
    input: In,
    *,
    kept: JsonKept | None = None,
) -> HttpRequest:
    """The HTTP request of ``operation`` for ``input``.

    Raises ValidationError for unusable input. A caller that sends many
    requests with the same configuration and token may pass a
    :class:`JsonKept` of its own, so that their JSON is not written again.
    """
    _check_input(operation, input)
    if kept is None:
        head = f'{{"config":{_json_of(config)},"token":{_json_of(token)},'
    else:
        head = f'{{"config":{kept.text(config, 0)},"token":{kept.text(token, 1)},'
    payload = f'{head}"input":{_dumps(input.to_json())}}}'
    value = call(operation._build_op, payload)
    return HttpRequest.from_json(value)


class JsonKept:
    """The JSON text of the last configuration and token given to :func:`build`,
    which a client sends with every request; one per client."""

    __slots__ = ("_slots",)

    def __init__(self) -> None:
        # (object, text) per slot, replaced as one value. Both records are frozen.
        self._slots: list[tuple[object, str]] = [(None, "null"), (None, "null")]

    def text(self, record: ClientConfig | AccessToken | None, slot: int) -> str:
        """The JSON text of ``record``, kept in ``slot`` (0 configuration, 1 token)."""
        if record is None:
            return "null"
        last, text = self._slots[slot]
        if last is not record:
            text = json.dumps(record.to_json())
            self._slots[slot] = (record, text)
        return text


def _json_of(record: ClientConfig | AccessToken | None) -> str:
    return "null" if record is None else json.dumps(record.to_json())


def parse(operation: Operation[In, R], input: In, response: HttpResponse) -> R:
    """The typed result of ``operation`` from the gateway's answer, or the error it means."""
    _check_input(operation, input)
    payload = {"input": input.to_json(), "response": response.to_json()}
    value = call(f"{operation.name}.parse", json.dumps(payload))
    return operation.result_from_json(value)
