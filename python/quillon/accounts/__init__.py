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

from quillon.accounts._version import __version__
from quillon.accounts.client import AsyncClient, Client
from quillon.accounts.config import AccessToken, ClientConfig, Environment
from quillon.accounts.errors import (
    AmbiguousError,
    ApiError,
    ApiFieldError,
    AuthenticationError,
    DecodeError,
    FfiError,
    MissingExtraError,
    QuillonError,
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
from quillon.accounts.responses import Exchange, RawResponse
from quillon.accounts.retry import NO_RETRY, RetryPolicy
from quillon.accounts.tables import ReconciliationTables, Table

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
    "Balance",
    "BalancesQuery",
    "Client",
    "ClientConfig",
    "ClientCredentials",
    "CreateAccounts",
    "CreatedAccounts",
    "DecodeError",
    "Environment",
    "Establishment",
    "Exchange",
    "FfiError",
    "HttpRequest",
    "HttpResponse",
    "MerchantAccount",
    "MerchantAccounts",
    "MerchantRange",
    "MerchantRef",
    "MissingExtraError",
    "Movement",
    "NewAccount",
    "OpInfo",
    "Operation",
    "Party",
    "PaymentStatus",
    "QuillonError",
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
