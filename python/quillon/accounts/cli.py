"""The ``quillon-accounts`` command line.

One subcommand per operation, plus ``describe``, ``version``, ``simulator``
and ``demo``. Settings come from flags or from the environment
(QUILLON_CLIENT_ID, QUILLON_ACCESS_TOKEN, QUILLON_ENVIRONMENT,
QUILLON_BASE_URL, QUILLON_TIMEOUT, QUILLON_FORMAT). Results are printed as
JSON, or as tables with ``--format table``.

Exit status: 0 success, 2 usage or configuration, 3 validation,
4 authentication, 5 gateway rejection (api), 6 undecodable answer,
7 transport failure, 8 engine failure, 130 interrupted (Ctrl-C),
141 output closed early (broken pipe), 1 anything else. No command prints a
traceback.
"""

from __future__ import annotations

import argparse
import contextlib
import json
import logging
import math
import os
import sys
from collections.abc import Callable, Mapping, Sequence
from typing import Any, TextIO

from quillon.accounts import protocol
from quillon.accounts._tables import render
from quillon.accounts.client import Client
from quillon.accounts.config import AccessToken, ClientConfig, Environment
from quillon.accounts.errors import (
    ApiError,
    AuthenticationError,
    DecodeError,
    QuillonError,
    TransportError,
    ValidationError,
)
from quillon.accounts.models import NewAccount, StatusChange, to_jsonable
from quillon.accounts.retry import RetryPolicy

__all__ = ["EXIT_CODES", "main"]

EXIT_OK = 0
EXIT_OTHER = 1
EXIT_USAGE = 2
EXIT_CODES: dict[type[QuillonError], int] = {
    ValidationError: 3,
    AuthenticationError: 4,
    ApiError: 5,
    DecodeError: 6,
    TransportError: 7,
}
EXIT_ENGINE = 8
EXIT_INTERRUPTED = 130  # 128 + SIGINT, as a shell reports Ctrl-C
EXIT_BROKEN_PIPE = 141  # 128 + SIGPIPE


def exit_code_for(err: QuillonError) -> int:
    for kind, code in EXIT_CODES.items():
        if isinstance(err, kind):
            return code
    return EXIT_ENGINE


class _UsageError(Exception):
    pass


def _seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not (math.isfinite(value) and value > 0):
        raise argparse.ArgumentTypeError(
            f"expected a positive number of seconds [QUILLON_TIMEOUT], not {text[:40]!r}"
        )
    return value


def _one_of(words: Sequence[str], variable: str) -> Callable[[str], str]:
    def check(text: str) -> str:
        if text not in words:
            raise argparse.ArgumentTypeError(
                f"expected one of {', '.join(words)} [{variable}], not {text[:40]!r}"
            )
        return text

    return check


# Control characters a terminal would act on, shown escaped instead.
_CONTROLS = {c: f"\\x{c:02x}" for c in (*range(0x20), 0x7F, *range(0x80, 0xA0)) if c != 0x0A}


def printable(text: str) -> str:
    """``text`` with every control character but the line feed escaped."""
    return text.translate(_CONTROLS)


def _common(environ: Mapping[str, str]) -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(add_help=False)
    g = p.add_argument_group("connection (flags win over the environment)")
    g.add_argument(
        "--client-id",
        default=environ.get("QUILLON_CLIENT_ID"),
        help="client id [QUILLON_CLIENT_ID]",
    )
    g.add_argument(
        "--token",
        default=environ.get("QUILLON_ACCESS_TOKEN"),
        help="access token [QUILLON_ACCESS_TOKEN]; prefer the variable or --token-file: "
        "flags show in ps",
    )
    g.add_argument(
        "--token-file",
        default=environ.get("QUILLON_TOKEN_FILE") or None,
        metavar="PATH",
        help="read the access token from this file, or from standard input with '-' "
        "[QUILLON_TOKEN_FILE]",
    )
    g.add_argument(
        "--environment",
        type=_one_of([e.value for e in Environment], "QUILLON_ENVIRONMENT"),
        default=environ.get("QUILLON_ENVIRONMENT") or Environment.SANDBOX.value,
        help="gateway environment [QUILLON_ENVIRONMENT], default sandbox",
    )
    g.add_argument(
        "--base-url",
        default=environ.get("QUILLON_BASE_URL") or None,
        help="address that replaces the environment's, e.g. the simulator's [QUILLON_BASE_URL]",
    )
    g.add_argument(
        "--timeout",
        type=_seconds,
        default=environ.get("QUILLON_TIMEOUT") or "20",
        help="seconds per request [QUILLON_TIMEOUT], default 20",
    )
    g.add_argument(
        "--retries", type=int, default=2, help="retries of idempotent operations, default 2"
    )
    _output(p, environ)
    return p


def _output(p: argparse.ArgumentParser, environ: Mapping[str, str]) -> None:
    p.add_argument(
        "--format",
        type=_one_of(("json", "table"), "QUILLON_FORMAT"),
        default=environ.get("QUILLON_FORMAT") or "json",
        help="output format [QUILLON_FORMAT], default json",
    )
    p.add_argument(
        "-v", "--verbose", action="count", default=0, help="log to stderr (-vv for debug)"
    )


def build_parser(environ: Mapping[str, str] | None = None) -> argparse.ArgumentParser:
    env = os.environ if environ is None else environ
    common = _common(env)
    plain = argparse.ArgumentParser(add_help=False)
    _output(plain, env)
    parser = argparse.ArgumentParser(
        prog="quillon-accounts",
        description="Merchant accounts at the Quillon gateway.",
        epilog="exit status: 0 ok, 2 usage, 3 validation, 4 authentication, 5 api, 6 decode, "
        "7 transport, 8 engine",
    )
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def op(name: str, help: str) -> argparse.ArgumentParser:
        return sub.add_parser(name, parents=[common], help=help, description=help)

    p = op("get", "look up one account")
    p.add_argument("--nit", required=True)
    p.add_argument("--account-number", required=True)

    p = op("list", "list the merchant's establishments and accounts")
    p.add_argument("--nit", required=True)

    p = op("create", "open accounts under an establishment")
    p.add_argument("--nit", required=True)
    p.add_argument("--establishment-id", type=int, required=True)
    p.add_argument(
        "--account",
        nargs=2,
        action="append",
        metavar=("ALIAS", "CATEGORY"),
        required=True,
        help="an account to open (repeat for several)",
    )

    p = op("set-status", "change the status of accounts")
    p.add_argument("--nit", required=True)
    p.add_argument(
        "--change",
        nargs=3,
        action="append",
        metavar=("ACCOUNT_NUMBER", "STATUS", "REASON"),
        required=True,
        help="STATUS is active, blocked, suspended or closed (repeat for several)",
    )

    for name, what in (("debits", "debits"), ("credits", "credits")):
        p = op(name, f"the {what} of an account in a period (at most 31 days)")
        p.add_argument("--nit", required=True)
        p.add_argument("--account-number", required=True)
        p.add_argument("--date-from", required=True, metavar="YYYY-MM-DD")
        p.add_argument("--date-to", required=True, metavar="YYYY-MM-DD")

    p = op("reconcile", "movements and balances of a period (at most 7 days)")
    p.add_argument("--nit", required=True)
    p.add_argument("--date-from", required=True, metavar="YYYY-MM-DD")
    p.add_argument("--date-to", required=True, metavar="YYYY-MM-DD")

    p = op("balances", "the balances of up to 10 accounts")
    p.add_argument("--nit", required=True)
    p.add_argument("--account-number", action="append", required=True, help="repeat for several")

    sub.add_parser(
        "describe", parents=[plain], help="the operations and whether they are idempotent"
    )
    sub.add_parser("version", parents=[plain], help="versions of the package and the engine")

    p = sub.add_parser("simulator", help="run the local gateway simulator until Ctrl-C")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=8780)
    p.add_argument("--prefix", default="", help="path segment before the API path, e.g. /sandbox")
    p.add_argument("--access-token", help="the token it accepts (default: a random one, printed)")
    p.add_argument("-v", "--verbose", action="count", default=0)

    p = sub.add_parser("demo", help="run every operation against a local simulator")
    p.add_argument("--json", action="store_true", help="one JSON line per step instead of tables")
    return parser


def _client(args: argparse.Namespace) -> Client:
    if not args.client_id:
        raise _UsageError("a client id is required: --client-id or QUILLON_CLIENT_ID")
    token = _read_token(args.token_file) if args.token_file else args.token
    if not token:
        raise _UsageError(
            "an access token is required: QUILLON_ACCESS_TOKEN, --token-file or --token"
        )
    config = ClientConfig(
        client_id=args.client_id, environment=Environment(args.environment), base_url=args.base_url
    )
    retry = RetryPolicy(max_attempts=max(1, args.retries + 1))
    return Client(
        config=config, token=AccessToken(access_token=token), timeout=args.timeout, retry=retry
    )


def _read_token(path: str) -> str:
    try:
        if path == "-":
            text = sys.stdin.readline()
        else:
            with open(path, encoding="utf-8") as f:
                text = f.readline()
    except (OSError, UnicodeDecodeError) as exc:
        raise _UsageError(f"cannot read the token file {path}: {type(exc).__name__}") from None
    return text.rstrip("\r\n")


def _run_operation(args: argparse.Namespace) -> Any:
    with _client(args) as client:
        command = args.command
        if command == "get":
            return client.get_account(nit=args.nit, account_number=args.account_number)
        if command == "list":
            return client.list_accounts(nit=args.nit)
        if command == "create":
            accounts = [NewAccount(alias=a, category=c) for a, c in args.account]
            return client.create_accounts(
                nit=args.nit, establishment_id=args.establishment_id, accounts=accounts
            )
        if command == "set-status":
            changes = [
                StatusChange(account_number=n, status=s, reason=r) for n, s, r in args.change
            ]
            return client.set_status(nit=args.nit, changes=changes)
        if command in ("debits", "credits"):
            method = client.debits if command == "debits" else client.credits
            return method(
                nit=args.nit,
                account_number=args.account_number,
                date_from=args.date_from,
                date_to=args.date_to,
            )
        if command == "reconcile":
            return client.reconcile(nit=args.nit, date_from=args.date_from, date_to=args.date_to)
        if command == "balances":
            return client.balances(nit=args.nit, account_numbers=args.account_number)
    raise _UsageError(f"unknown command {command}")


def _versions() -> dict[str, Any]:
    from quillon.accounts import __version__, _native

    engine = protocol.version()
    return {
        "package": __version__,
        "native": _native.__version__,
        "core": engine.get("core"),
        "protocol": engine.get("protocol"),
    }


def _print_result(result: Any, fmt: str, stdout: TextIO) -> None:
    if fmt == "table":
        print(printable(render(result)), file=stdout)
    else:
        print(json.dumps(to_jsonable(result), indent=2, ensure_ascii=False), file=stdout)


def _print_error(err: QuillonError, fmt: str, stderr: TextIO) -> None:
    if fmt == "json":
        print(json.dumps({"error": err.to_json()}, ensure_ascii=False), file=stderr)
    else:
        print(printable(f"error ({err.kind}): {err}"), file=stderr)


def _configure_logging(verbosity: int, stderr: TextIO) -> None:
    if verbosity <= 0:
        return
    handler = logging.StreamHandler(stderr)
    handler.setFormatter(logging.Formatter("%(asctime)s %(levelname)s %(name)s: %(message)s"))
    root = logging.getLogger("quillon.accounts")
    root.addHandler(handler)
    root.setLevel(logging.DEBUG if verbosity > 1 else logging.INFO)


def main(
    argv: Sequence[str] | None = None,
    *,
    environ: Mapping[str, str] | None = None,
    stdout: TextIO | None = None,
    stderr: TextIO | None = None,
) -> int:
    """Runs the command line; gives the exit status."""
    out = stdout or sys.stdout
    err = stderr or sys.stderr
    try:
        return _main(argv, environ, out, err)
    except KeyboardInterrupt:
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # The reader went away (`| head`, say): nothing more to say, and
        # nothing to say it to. Python's own flush at exit must not complain either.
        if out is sys.stdout:
            with contextlib.suppress(OSError, ValueError):
                os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_BROKEN_PIPE


def _main(
    argv: Sequence[str] | None, environ: Mapping[str, str] | None, out: TextIO, err: TextIO
) -> int:
    parser = build_parser(environ)
    try:
        args = parser.parse_args(argv)
    except SystemExit as exc:  # argparse has printed its message
        return int(exc.code) if isinstance(exc.code, int) else EXIT_USAGE
    _configure_logging(getattr(args, "verbose", 0), err)
    fmt = getattr(args, "format", "json")
    try:
        if args.command == "describe":
            ops = [{"name": o.name, "idempotent": o.idempotent} for o in protocol.describe()]
            _print_result(ops if fmt == "json" else _describe_text(ops), fmt, out)
        elif args.command == "version":
            _print_result(_versions(), fmt, out)
        elif args.command == "simulator":
            _run_simulator(args, out)
        elif args.command == "demo":
            from quillon.accounts.demo import run_demo

            writer: Callable[[str], None] = lambda line: print(line, file=out)  # noqa: E731
            return run_demo(writer, as_json=args.json)
        else:
            _print_result(_run_operation(args), fmt, out)
    except _UsageError as exc:
        print(f"quillon-accounts: {exc}", file=err)
        return EXIT_USAGE
    except QuillonError as exc:
        _print_error(exc, fmt, err)
        return exit_code_for(exc)
    except (TypeError, ValueError) as exc:
        print(f"quillon-accounts: {exc}", file=err)
        return EXIT_USAGE
    return EXIT_OK


def _describe_text(ops: list[dict[str, Any]]) -> str:
    from quillon.accounts._tables import table

    return table(
        ("operation", "idempotent"), [(o["name"], "yes" if o["idempotent"] else "no") for o in ops]
    )


def _run_simulator(args: argparse.Namespace, out: TextIO) -> None:
    from quillon.accounts.simulator import GatewaySimulator

    sim = GatewaySimulator(args.host, args.port, prefix=args.prefix, access_token=args.access_token)
    try:
        sim.start()
    except OSError as exc:
        raise _UsageError(
            f"cannot listen on {args.host}:{args.port}: {exc.strerror or exc}"
        ) from None

    def announce(line: str) -> None:
        print(line, file=out, flush=True)

    sim.serve_until_interrupted(announce)
    announce("")
