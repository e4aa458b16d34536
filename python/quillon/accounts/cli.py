"""The ``quillon-accounts`` command line.

One subcommand per operation, plus ``describe``, ``version``, ``simulator``
and ``demo``. Settings come from flags or from the environment
(QUILLON_CLIENT_ID, QUILLON_ACCESS_TOKEN, QUILLON_ENVIRONMENT,
QUILLON_BASE_URL, QUILLON_TIMEOUT, QUILLON_FORMAT). Results are printed as
JSON, or as tables with ``--format table``; the list commands (list, debits,
credits, balances, reconcile) also write CSV, JSON Lines or Parquet
(``--format csv|jsonl|parquet``, Parquet with pyarrow installed), and
``--output FILE`` writes any format to a file instead of standard output.

Exit status: 0 success, 2 usage or configuration, 3 validation,
4 authentication, 5 gateway rejection (api), 6 undecodable answer,
7 transport failure, 8 engine failure, 130 interrupted (Ctrl-C),
141 output closed early (broken pipe), 1 anything else (an output that
cannot be written, on a full disk say, included). No command prints a
traceback, and no text from outside reaches the terminal with its control
characters or bidirectional overrides unescaped.
"""

from __future__ import annotations

import argparse
import contextlib
import errno
import importlib
import io
import json
import logging
import math
import os
import stat
import sys
from collections.abc import Callable, Mapping, Sequence
from datetime import date
from pathlib import Path
from typing import TYPE_CHECKING, Any, TextIO

from quillon.accounts import protocol
from quillon.accounts._tables import render
from quillon.accounts._terminal import EscapingFormatter, escape_json, printable
from quillon.accounts.client import Client
from quillon.accounts.config import ClientConfig, Environment
from quillon.accounts.errors import (
    ApiError,
    AuthenticationError,
    ConfigurationError,
    DecodeError,
    QuillonError,
    TransportError,
    ValidationError,
)
from quillon.accounts.models import NewAccount, StatusChange, to_jsonable
from quillon.accounts.retry import RetryPolicy
from quillon.accounts.tables import ARROW_EXTRA, ReconciliationTables, Table

if TYPE_CHECKING:
    from _typeshed import SupportsWrite

__all__ = ["EXIT_CODES", "MAX_TOKEN_FILE", "main", "printable"]

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
EXIT_OUTPUT = 1  # the output could not be written (a full disk, say)


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


def _whole(low: int, high: int, add: int = 0) -> Callable[[str], int]:
    """A flag type: a whole number from ``low`` to ``high``, given back plus ``add``."""

    def check(text: str) -> int:
        if not (text.isascii() and text.isdigit()) or not low <= int(text) <= high:
            raise argparse.ArgumentTypeError(
                f"expected a whole number from {low} to {high}, not {text[:40]!r}"
            )
        return int(text) + add

    return check


def _one_of(words: Sequence[str], variable: str) -> Callable[[str], str]:
    def check(text: str) -> str:
        if text not in words:
            raise argparse.ArgumentTypeError(
                f"expected one of {', '.join(words)} [{variable}], not {text[:40]!r}"
            )
        return text

    return check


class _Parser(argparse.ArgumentParser):
    """argparse's parser, except that a help, version or usage text that cannot be
    written (a full disk, say) raises, where argparse would drop it silently."""

    def _print_message(self, message: str, file: SupportsWrite[str] | None = None) -> None:
        if message:
            (file or sys.stderr).write(message)


def _common(environ: Mapping[str, str]) -> _Parser:
    p = _Parser(add_help=False)
    g = p.add_argument_group("connection (flags win over the environment)")
    g.add_argument(
        "--client-id",
        default=environ.get("QUILLON_CLIENT_ID"),
        help="client id the gateway issued, sent with every request [QUILLON_CLIENT_ID]",
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
        help="read the access token from the first line of this file (a regular file of at "
        "most 64 KiB), or from standard input with '-' [QUILLON_TOKEN_FILE]",
    )
    g.add_argument(
        "--token-url",
        default=environ.get("QUILLON_TOKEN_URL") or None,
        metavar="URL",
        help="OAuth token endpoint, used when no token is given and QUILLON_CLIENT_SECRET or "
        "QUILLON_BASIC_TOKEN is set; default: the base URL + /oauth/token [QUILLON_TOKEN_URL]",
    )
    g.add_argument(
        "--environment",
        type=_one_of([e.value for e in Environment], "QUILLON_ENVIRONMENT"),
        default=environ.get("QUILLON_ENVIRONMENT") or Environment.SANDBOX.value,
        help="gateway environment: development, sandbox or production [QUILLON_ENVIRONMENT], "
        "default sandbox",
    )
    g.add_argument(
        "--base-url",
        default=environ.get("QUILLON_BASE_URL") or None,
        metavar="URL",
        help="http(s)://host[:port][/path] that replaces the environment's address, e.g. the "
        "simulator's [QUILLON_BASE_URL]",
    )
    g.add_argument(
        "--timeout",
        type=_seconds,
        default=environ.get("QUILLON_TIMEOUT") or "20",
        metavar="SECONDS",
        help="limit for each connect, read and write, above 0 [QUILLON_TIMEOUT], default 20",
    )
    g.add_argument(
        "--max-attempts",
        type=_whole(1, 100),
        default=None,
        metavar="N",
        help="attempts per call, the first included (1: no retry), default 3; only "
        "idempotent operations are sent again",
    )
    # The former spelling: retries after the first attempt.
    g.add_argument("--retries", type=_whole(0, 99, add=1), default=None, help=argparse.SUPPRESS)
    _output(p, environ)
    return p


# Formats written from the engine's columnar tables, by the list commands only.
TABULAR = ("csv", "jsonl", "parquet")
LIST_COMMANDS = ("list", "debits", "credits", "balances", "reconcile")


def _output(p: argparse.ArgumentParser, environ: Mapping[str, str]) -> None:
    p.add_argument(
        "--format",
        type=_one_of(("json", "table", *TABULAR), "QUILLON_FORMAT"),
        default=environ.get("QUILLON_FORMAT") or "json",
        help="json (amounts as exact decimal text) or table; for the list commands also csv, "
        "jsonl (one JSON object per row) or parquet (needs pyarrow and --output) "
        "[QUILLON_FORMAT], default json",
    )
    p.add_argument(
        "-o",
        "--output",
        metavar="FILE",
        default=None,
        help="write to FILE (replaced) instead of standard output; reconcile in csv, jsonl or "
        "parquet writes two files, FILE's name with .movements and .balances before its "
        "extension",
    )
    p.add_argument(
        "-v",
        "--verbose",
        action="count",
        default=0,
        help="log to stderr (-vv for debug; or set QUILLON_LOG=debug)",
    )


def build_parser(environ: Mapping[str, str] | None = None) -> argparse.ArgumentParser:
    env = os.environ if environ is None else environ
    common = _common(env)
    plain = _Parser(add_help=False)
    _output(plain, env)
    parser = _Parser(
        prog="quillon-accounts",
        description="Merchant accounts at the Quillon gateway. Settings come from flags or "
        "from QUILLON_* variables; `COMMAND --help` lists them.",
        epilog="exit status: 0 ok, 1 other, 2 usage, 3 validation, 4 authentication, 5 api, "
        "6 decode, 7 transport, 8 engine, 130 Ctrl-C, 141 output closed early",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {_package_version()}")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def op(name: str, help: str, more: str = "") -> argparse.ArgumentParser:
        description = f"{help[0].upper()}{help[1:]}.{' ' + more if more else ''}"
        return sub.add_parser(name, parents=[common], help=help, description=description)

    def nit(p: argparse.ArgumentParser) -> None:
        p.add_argument("--nit", required=True, help=NIT_HELP)

    p = op("get", "look up one account", "Prints it with its merchant and establishment.")
    nit(p)
    p.add_argument("--account-number", required=True, metavar="NUMBER", help=ACCOUNT_HELP)

    p = op("list", "list the merchant's establishments and accounts")
    nit(p)

    p = op(
        "create",
        "open accounts under an establishment",
        "Never sent a second time once it may have reached the gateway.",
    )
    nit(p)
    p.add_argument(
        "--establishment-id",
        type=int,
        required=True,
        metavar="ID",
        help="the establishment's number, as `list` shows it",
    )
    p.add_argument(
        "--account",
        nargs=2,
        action="append",
        metavar=("ALIAS", "CATEGORY"),
        required=True,
        help="an account to open: its alias and category, 1 to 45 characters each (repeat "
        "for several); opened in bolivianos",
    )

    p = op("set-status", "change the status of accounts")
    nit(p)
    p.add_argument(
        "--change",
        nargs=3,
        action="append",
        metavar=("ACCOUNT_NUMBER", "STATUS", "REASON"),
        required=True,
        help="ACCOUNT_NUMBER 8 to 20 digits; STATUS active, blocked, suspended or closed; "
        "REASON 1 to 50 characters (repeat for several)",
    )

    for name, what in (("debits", "money out"), ("credits", "money in")):
        p = op(
            name,
            f"the {name} ({what}) of an account over a period",
            f"Up to {MAX_SPAN_DAYS} days: asked for in windows of 31 days, in date order.",
        )
        nit(p)
        p.add_argument("--account-number", required=True, metavar="NUMBER", help=ACCOUNT_HELP)
        _period(p)

    p = op(
        "reconcile",
        "movements and balances of a period (at most 7 days)",
        f"In csv, jsonl or parquet, up to {MAX_SPAN_DAYS} days: asked for in windows of 7 days, "
        "the balances from the last.",
    )
    nit(p)
    _period(p, "; at most 7 days after --date-from, except in csv, jsonl or parquet")

    p = op(
        "balances",
        "the balances of accounts",
        "booked is the ledger balance, held the part retained, available what can be "
        "spent now; amounts in the account's currency units.",
    )
    nit(p)
    p.add_argument(
        "--account-number",
        action="append",
        required=True,
        metavar="NUMBER",
        help=ACCOUNT_HELP + "; repeat for several (any number: asked for ten at a time)",
    )

    def plain_command(name: str, help: str) -> None:
        sub.add_parser(name, parents=[plain], help=help, description=f"Prints {help}.")

    plain_command("describe", "the operations and whether they are idempotent")
    plain_command("version", "the versions of the package, the engine and its protocol")

    p = sub.add_parser(
        "simulator",
        help="run the local gateway simulator until Ctrl-C",
        description="Runs the local gateway simulator until Ctrl-C and prints the variables "
        "that point this command at it. Loopback only, unless --host says otherwise.",
    )
    p.add_argument("--host", default="127.0.0.1", help="address to listen on, default 127.0.0.1")
    p.add_argument(
        "--port",
        type=_whole(0, 65535),
        default=8780,
        help="port to listen on (0: any free one), default 8780",
    )
    p.add_argument("--prefix", default="", help="path segment before the API path, e.g. /sandbox")
    p.add_argument(
        "--access-token",
        metavar="TOKEN",
        help="the token it accepts (default: a random one, printed)",
    )
    p.add_argument("-v", "--verbose", action="count", default=0, help="log each request to stderr")

    p = sub.add_parser(
        "demo",
        help="run every operation against a local simulator",
        description="Starts a simulator on a free loopback port and runs every operation "
        "against it through the real client; needs no network and no account.",
    )
    p.add_argument("--json", action="store_true", help="one JSON line per step instead of tables")
    return parser


NIT_HELP = "the merchant's tax number (NIT): 7 to 20 digits"
ACCOUNT_HELP = "account number: 8 to 20 digits"


def _period(p: argparse.ArgumentParser, limit: str = "") -> None:
    p.add_argument("--date-from", required=True, metavar="YYYY-MM-DD", help="first day, included")
    p.add_argument(
        "--date-to",
        required=True,
        metavar="YYYY-MM-DD",
        help=f"last day, included, not before --date-from{limit}",
    )


# The longest period the CLI asks for in one run: a year (twelve requests).
# A mistyped year would otherwise send a request per 31 days for centuries;
# the library's iter_debits/iter_credits take any period.
MAX_SPAN_DAYS = 366


def _check_span(date_from: str, date_to: str) -> None:
    try:
        days = (date.fromisoformat(date_to) - date.fromisoformat(date_from)).days
    except ValueError:
        return  # the library refuses the date itself, naming the field
    if days > MAX_SPAN_DAYS:
        raise _UsageError(
            f"--date-from and --date-to are {days} days apart; the command asks for at most "
            f"{MAX_SPAN_DAYS} days in one run (split the period, or use iter_debits/iter_credits)"
        )


def _package_version() -> str:
    from quillon.accounts import __version__

    return __version__


# The flag that gave each input field, for messages about the input.
FLAGS = {
    "nit": "--nit",
    "account_number": "--account-number",
    "account_numbers": "--account-number",
    "establishment_id": "--establishment-id",
    "accounts.alias": "--account ALIAS",
    "accounts.category": "--account CATEGORY",
    "changes.account_number": "--change ACCOUNT_NUMBER",
    "changes.status": "--change STATUS",
    "changes.reason": "--change REASON",
    "date_from": "--date-from",
    "date_to": "--date-to",
    "client_id": "--client-id",
    "token": "--token",
    "access_token": "--token",
    "base_url": "--base-url",
    "environment": "--environment",
}


def _client(args: argparse.Namespace, environ: Mapping[str, str]) -> Client:
    if not args.client_id:
        raise _UsageError("a client id is required: --client-id or QUILLON_CLIENT_ID")
    token = _read_token(args.token_file) if args.token_file else args.token
    secret = environ.get("QUILLON_CLIENT_SECRET") or None
    basic = environ.get("QUILLON_BASIC_TOKEN") or None
    if not token and not (secret or basic):
        raise _UsageError(
            "an access token is required: QUILLON_ACCESS_TOKEN, --token-file or --token "
            "(or QUILLON_CLIENT_SECRET / QUILLON_BASIC_TOKEN to fetch one)"
        )
    if args.max_attempts is not None and args.retries is not None:
        raise _UsageError("give --max-attempts or --retries, not both")
    attempts = args.max_attempts or args.retries or RetryPolicy().max_attempts
    config = ClientConfig(
        client_id=args.client_id,
        environment=Environment(args.environment),
        base_url=args.base_url,
        client_secret=secret,
        basic_token=basic,
    )
    return Client(
        config=config,
        token=token or None,
        token_url=None if token else args.token_url,
        timeout=args.timeout,
        retry=RetryPolicy(max_attempts=attempts),
    )


MAX_TOKEN_FILE = 64 * 1024
"""The most bytes ``--token-file`` reads; a longer file (or standard input) is refused."""


def _read_token(path: str) -> str:
    """The first line of the token file (or of standard input, for '-').

    Only a regular file is opened, without waiting (a FIFO with no writer
    would block, a device could be endless), and at most MAX_TOKEN_FILE
    bytes (and one more, to tell a longer line) are read.
    """
    shown = printable(path, lines=False)
    try:
        data = _read_stdin(MAX_TOKEN_FILE + 1) if path == "-" else _read_regular(path, shown)
    except OSError as exc:
        reason = exc.strerror or type(exc).__name__
        raise _UsageError(f"cannot read the token file {shown}: {reason}") from None
    line = data.split(b"\n", 1)[0]
    if len(line) > MAX_TOKEN_FILE:
        raise _UsageError(
            f"the first line of the token file {shown} is longer than "
            f"{MAX_TOKEN_FILE // 1024} KiB; it should hold the token alone"
        )
    try:
        return line.decode("utf-8").rstrip("\r")
    except UnicodeDecodeError:
        raise _UsageError(f"the token file {shown} is not UTF-8 text") from None


def _read_stdin(limit: int) -> bytes:
    if sys.stdin is None:  # started with standard input closed
        raise OSError(errno.EBADF, "standard input is closed")
    buffer = getattr(sys.stdin, "buffer", None)
    if buffer is not None:
        return bytes(buffer.readline(limit))
    return sys.stdin.readline(limit).encode("utf-8", "surrogateescape")


def _read_regular(path: str, shown: str) -> bytes:
    if not stat.S_ISREG(os.stat(path).st_mode):
        raise _UsageError(f"the token file {shown} is not a regular file")
    # Opened without blocking, in case it was swapped for a FIFO since.
    fd = os.open(path, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0))
    with os.fdopen(fd, "rb") as f:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise _UsageError(f"the token file {shown} is not a regular file")
        return f.read(MAX_TOKEN_FILE + 1)


def _run_operation(args: argparse.Namespace, environ: Mapping[str, str]) -> Any:
    with _client(args, environ) as client:
        command = args.command
        if args.format in TABULAR:
            return _run_table(client, args)
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
            _check_span(args.date_from, args.date_to)
            method = client.iter_debits if command == "debits" else client.iter_credits
            return list(
                method(
                    nit=args.nit,
                    account_number=args.account_number,
                    date_from=args.date_from,
                    date_to=args.date_to,
                )
            )
        if command == "reconcile":
            return client.reconcile(nit=args.nit, date_from=args.date_from, date_to=args.date_to)
        if command == "balances":
            return client.balances(nit=args.nit, account_numbers=args.account_number)
    raise _UsageError(f"unknown command {command}")


def _run_table(client: Client, args: argparse.Namespace) -> Table | ReconciliationTables:
    """The result of a list command as the engine's columnar table."""
    tables = client.tables
    command = args.command
    if command == "list":
        return tables.list_accounts(nit=args.nit)
    if command == "balances":
        return tables.balances(nit=args.nit, account_numbers=args.account_number)
    _check_span(args.date_from, args.date_to)
    if command == "reconcile":
        return tables.reconcile(nit=args.nit, date_from=args.date_from, date_to=args.date_to)
    method = tables.debits if command == "debits" else tables.credits
    return method(
        nit=args.nit,
        account_number=args.account_number,
        date_from=args.date_from,
        date_to=args.date_to,
    )


def _check_output(args: argparse.Namespace) -> None:
    """Refuses, before anything is sent, a format the command or the machine cannot write."""
    fmt = getattr(args, "format", "json")
    if fmt not in TABULAR:
        return
    if args.command not in LIST_COMMANDS:
        raise _UsageError(
            f"--format {fmt} is for the list commands ({', '.join(LIST_COMMANDS)}); "
            "use json or table"
        )
    if args.output is None and (fmt == "parquet" or args.command == "reconcile"):
        what = "Parquet is binary" if fmt == "parquet" else "reconcile gives two tables"
        raise _UsageError(f"{what}: --format {fmt} needs --output FILE")
    if fmt == "parquet":
        try:
            importlib.import_module("pyarrow.parquet")
        except ImportError:
            raise _UsageError(f"--format parquet needs pyarrow: {ARROW_EXTRA}") from None


def _part_path(output: str, part: str) -> Path:
    path = Path(output)
    return path.with_name(f"{path.stem}.{part}{path.suffix}")


def _write_table(table: Table, fmt: str, target: Path | TextIO) -> None:
    if isinstance(target, Path):
        try:
            _write_table_to(table, fmt, target)
        except OSError as exc:
            raise _UsageError(f"cannot write {target}: {exc.strerror or exc}") from None
        return
    if fmt in ("csv", "jsonl") and target.isatty():
        # A terminal gets the text with what could drive it escaped; a pipe or
        # a file gets the data as it is.
        data = io.BytesIO()
        _write_table_to(table, fmt, data)
        text = data.getvalue().decode("utf-8")
        target.write(printable(text.replace("\r\n", "\n")) if fmt == "csv" else escape_json(text))
        target.flush()
        return
    # Standard output: the bytes through its binary buffer where it has one.
    buffer = getattr(target, "buffer", None)
    target.flush()
    _write_table_to(table, fmt, target if buffer is None else buffer)
    if buffer is not None:
        buffer.flush()


def _write_table_to(table: Table, fmt: str, target: Any) -> None:
    if fmt == "csv":
        table.write_csv(target)
    elif fmt == "jsonl":
        table.write_jsonl(target)
    else:
        importlib.import_module("pyarrow.parquet").write_table(table.to_arrow(), target)


def _deliver(result: Any, args: argparse.Namespace, out: TextIO) -> None:
    """Prints ``result`` in the chosen format, or writes it to ``--output``."""
    fmt = getattr(args, "format", "json")
    output: str | None = getattr(args, "output", None)
    if isinstance(result, ReconciliationTables):
        assert output is not None
        _write_table(result.movements, fmt, _part_path(output, "movements"))
        _write_table(result.balances, fmt, _part_path(output, "balances"))
    elif isinstance(result, Table):
        _write_table(result, fmt, out if output is None else Path(output))
    elif output is None:
        _print_result(result, fmt, out)
    else:
        text = io.StringIO()
        _print_result(result, fmt, text)
        try:
            Path(output).write_text(text.getvalue(), encoding="utf-8")
        except OSError as exc:
            raise _UsageError(f"cannot write {output}: {exc.strerror or exc}") from None


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
        text = json.dumps(to_jsonable(result), indent=2, ensure_ascii=False)
        print(escape_json(text), file=stdout)
    stdout.flush()


def _print_error(err: QuillonError, fmt: str, stderr: TextIO) -> None:
    flag = FLAGS.get(err.field) if isinstance(err, ValidationError) else None
    if fmt == "json":
        obj = err.to_dict() | ({"flag": flag} if flag else {})
        print(escape_json(json.dumps({"error": obj}, ensure_ascii=False)), file=stderr)
    elif flag is not None:
        print(printable(f"error ({err.kind}): {flag}: {err.message}", lines=False), file=stderr)
    else:
        print(printable(f"error ({err.kind}): {err}", lines=False), file=stderr)


def _configure_logging(verbosity: int, stderr: TextIO) -> None:
    if verbosity <= 0:
        return
    handler = logging.StreamHandler(stderr)
    handler.setFormatter(EscapingFormatter("%(asctime)s %(levelname)s %(name)s: %(message)s"))
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
        code = _main(argv, environ, out, err)
        out.flush()
        return code
    except KeyboardInterrupt:
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # The reader went away (`| head`, say): nothing more to say, and
        # nothing to say it to.
        _drop_output(out)
        return EXIT_BROKEN_PIPE
    except OSError as exc:
        # The output could not be written (a full disk, say): one line, if
        # standard error can take it.
        _drop_output(out)
        with contextlib.suppress(OSError, ValueError):
            reason = exc.strerror or type(exc).__name__
            print(f"quillon-accounts: cannot write the output: {reason}", file=err, flush=True)
        return EXIT_OUTPUT


def _drop_output(out: TextIO) -> None:
    """Makes Python's own flush of standard output at exit silent: what could not be
    written is dropped."""
    if out is sys.stdout:
        with contextlib.suppress(OSError, ValueError):
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())


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
        _check_output(args)
        if args.command == "describe":
            ops = [{"name": o.name, "idempotent": o.idempotent} for o in protocol.describe()]
            _deliver(ops if fmt == "json" else _describe_text(ops), args, out)
        elif args.command == "version":
            _deliver(_versions(), args, out)
        elif args.command == "simulator":
            _run_simulator(args, out)
        elif args.command == "demo":
            from quillon.accounts.demo import run_demo

            writer: Callable[[str], None] = lambda line: print(line, file=out)  # noqa: E731
            return run_demo(writer, as_json=args.json)
        else:
            result = _run_operation(args, os.environ if environ is None else environ)
            _deliver(result, args, out)
    except (_UsageError, ConfigurationError) as exc:
        print(printable(f"quillon-accounts: {exc}", lines=False), file=err)
        return EXIT_USAGE
    except QuillonError as exc:
        _print_error(exc, fmt, err)
        return exit_code_for(exc)
    except (TypeError, ValueError) as exc:
        print(printable(f"quillon-accounts: {exc}", lines=False), file=err)
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
