"""Client library for the Quillon merchant-accounts gateway.

``Client`` and ``AsyncClient`` send the eight operations over HTTP (built
from QUILLON_* variables when given no arguments); ``ClientCredentials``
fetches tokens from the OAuth token endpoint; ``to_data`` and ``from_data``
turn results into JSON-ready data and back; ``client.tables`` gives
columnar :class:`~quillon.accounts.tables.Table` results; ``build`` and ``parse`` (with the
operation constants such as ``GET_ACCOUNT``) are the sans-I/O layer for
callers with their own HTTP stack; the gateway simulator lives in
:mod:`quillon.accounts.simulator`, and its pytest fixtures in
:mod:`quillon.accounts.pytest_plugin`.
"""

import importlib
from typing import TYPE_CHECKING, Any

from quillon.accounts._version import __version__

if TYPE_CHECKING:
    from quillon.accounts.client import AsyncClient, Client
    from quillon.accounts.config import AccessToken, ClientConfig, Environment
    from quillon.accounts.errors import (
        AmbiguousError,
        ApiError,
        ApiFieldError,
        AuthenticationError,
        BadRequestError,
        ClientClosedError,
        ConfigurationError,
        ConfigurationTypeError,
        ConflictError,
        DecodeError,
        FfiError,
        InternalServerError,
        MissingExtraError,
        MissingSettingError,
        NotFoundError,
        PermissionDeniedError,
        QuillonError,
        RateLimitError,
        ResponseTooLargeError,
        TransportError,
        ValidationError,
        WebhookAuthError,
    )
    from quillon.accounts.export import from_data, from_dict, to_data, to_dict
    from quillon.accounts.models import (
        Account,
        AccountRange,
        AccountRef,
        AccountStatus,
        Balance,
        BalancesQuery,
        CreateAccounts,
        CreatedAccounts,
        Establishment,
        MerchantAccount,
        MerchantAccounts,
        MerchantRange,
        MerchantRef,
        Movement,
        NewAccount,
        Party,
        PaymentStatus,
        Reconciliation,
        StatusChange,
        StatusChanged,
        StatusChanges,
    )
    from quillon.accounts.oauth import AsyncClientCredentials, ClientCredentials
    from quillon.accounts.protocol import (
        BALANCES,
        CREATE_ACCOUNTS,
        CREDITS,
        DEBITS,
        GET_ACCOUNT,
        LIST_ACCOUNTS,
        OPERATIONS,
        RECONCILE,
        SET_STATUS,
        HttpRequest,
        HttpResponse,
        Operation,
        OpInfo,
        build,
        describe,
        parse,
    )
    from quillon.accounts.raw_response import Exchange, RawResponse
    from quillon.accounts.retry import NO_RETRY, RetryPolicy
    from quillon.accounts.tables import ReconciliationTables, Table

# Each public name and the module it comes from. They are imported when first
# used, so that importing the package, or the pytest plugin that pytest loads
# into every run, costs next to nothing until a client is made.
_EXPORTS: dict[str, str] = {
    "AsyncClient": "quillon.accounts.client",
    "Client": "quillon.accounts.client",
    "AccessToken": "quillon.accounts.config",
    "ClientConfig": "quillon.accounts.config",
    "Environment": "quillon.accounts.config",
    "AmbiguousError": "quillon.accounts.errors",
    "ApiError": "quillon.accounts.errors",
    "ApiFieldError": "quillon.accounts.errors",
    "AuthenticationError": "quillon.accounts.errors",
    "BadRequestError": "quillon.accounts.errors",
    "ClientClosedError": "quillon.accounts.errors",
    "ConfigurationError": "quillon.accounts.errors",
    "ConfigurationTypeError": "quillon.accounts.errors",
    "ConflictError": "quillon.accounts.errors",
    "DecodeError": "quillon.accounts.errors",
    "FfiError": "quillon.accounts.errors",
    "InternalServerError": "quillon.accounts.errors",
    "MissingExtraError": "quillon.accounts.errors",
    "MissingSettingError": "quillon.accounts.errors",
    "NotFoundError": "quillon.accounts.errors",
    "PermissionDeniedError": "quillon.accounts.errors",
    "QuillonError": "quillon.accounts.errors",
    "RateLimitError": "quillon.accounts.errors",
    "ResponseTooLargeError": "quillon.accounts.errors",
    "TransportError": "quillon.accounts.errors",
    "ValidationError": "quillon.accounts.errors",
    "WebhookAuthError": "quillon.accounts.errors",
    "from_data": "quillon.accounts.export",
    "from_dict": "quillon.accounts.export",
    "to_data": "quillon.accounts.export",
    "to_dict": "quillon.accounts.export",
    "Account": "quillon.accounts.models",
    "AccountRange": "quillon.accounts.models",
    "AccountRef": "quillon.accounts.models",
    "AccountStatus": "quillon.accounts.models",
    "Balance": "quillon.accounts.models",
    "BalancesQuery": "quillon.accounts.models",
    "CreateAccounts": "quillon.accounts.models",
    "CreatedAccounts": "quillon.accounts.models",
    "Establishment": "quillon.accounts.models",
    "MerchantAccount": "quillon.accounts.models",
    "MerchantAccounts": "quillon.accounts.models",
    "MerchantRange": "quillon.accounts.models",
    "MerchantRef": "quillon.accounts.models",
    "Movement": "quillon.accounts.models",
    "NewAccount": "quillon.accounts.models",
    "Party": "quillon.accounts.models",
    "PaymentStatus": "quillon.accounts.models",
    "Reconciliation": "quillon.accounts.models",
    "StatusChange": "quillon.accounts.models",
    "StatusChanged": "quillon.accounts.models",
    "StatusChanges": "quillon.accounts.models",
    "AsyncClientCredentials": "quillon.accounts.oauth",
    "ClientCredentials": "quillon.accounts.oauth",
    "BALANCES": "quillon.accounts.protocol",
    "CREATE_ACCOUNTS": "quillon.accounts.protocol",
    "CREDITS": "quillon.accounts.protocol",
    "DEBITS": "quillon.accounts.protocol",
    "GET_ACCOUNT": "quillon.accounts.protocol",
    "LIST_ACCOUNTS": "quillon.accounts.protocol",
    "OPERATIONS": "quillon.accounts.protocol",
    "RECONCILE": "quillon.accounts.protocol",
    "SET_STATUS": "quillon.accounts.protocol",
    "HttpRequest": "quillon.accounts.protocol",
    "HttpResponse": "quillon.accounts.protocol",
    "Operation": "quillon.accounts.protocol",
    "OpInfo": "quillon.accounts.protocol",
    "build": "quillon.accounts.protocol",
    "describe": "quillon.accounts.protocol",
    "parse": "quillon.accounts.protocol",
    "Exchange": "quillon.accounts.raw_response",
    "RawResponse": "quillon.accounts.raw_response",
    "NO_RETRY": "quillon.accounts.retry",
    "RetryPolicy": "quillon.accounts.retry",
    "ReconciliationTables": "quillon.accounts.tables",
    "Table": "quillon.accounts.tables",
}


def __getattr__(name: str) -> Any:
    module = _EXPORTS.get(name)
    if module is None:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    value = getattr(importlib.import_module(module), name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted({*globals(), *__all__})


__all__ = [
    "BALANCES",
    "CREATE_ACCOUNTS",
    "CREDITS",
    "DEBITS",
    "GET_ACCOUNT",
    "LIST_ACCOUNTS",
    "NO_RETRY",
    "OPERATIONS",
    "RECONCILE",
    "SET_STATUS",
    "AccessToken",
    "Account",
    "AccountRange",
    "AccountRef",
    "AccountStatus",
    "AmbiguousError",
    "ApiError",
    "ApiFieldError",
    "AsyncClient",
    "AsyncClientCredentials",
    "AuthenticationError",
    "BadRequestError",
    "Balance",
    "BalancesQuery",
    "Client",
    "ClientClosedError",
    "ClientConfig",
    "ClientCredentials",
    "ConfigurationError",
    "ConfigurationTypeError",
    "ConflictError",
    "CreateAccounts",
    "CreatedAccounts",
    "DecodeError",
    "Environment",
    "Establishment",
    "Exchange",
    "FfiError",
    "HttpRequest",
    "HttpResponse",
    "InternalServerError",
    "MerchantAccount",
    "MerchantAccounts",
    "MerchantRange",
    "MerchantRef",
    "MissingExtraError",
    "MissingSettingError",
    "Movement",
    "NewAccount",
    "NotFoundError",
    "OpInfo",
    "Operation",
    "Party",
    "PaymentStatus",
    "PermissionDeniedError",
    "QuillonError",
    "RateLimitError",
    "RawResponse",
    "Reconciliation",
    "ReconciliationTables",
    "ResponseTooLargeError",
    "RetryPolicy",
    "StatusChange",
    "StatusChanged",
    "StatusChanges",
    "Table",
    "TransportError",
    "ValidationError",
    "WebhookAuthError",
    "__version__",
    "build",
    "describe",
    "from_data",
    "from_dict",
    "parse",
    "to_data",
    "to_dict",
]
