"""The ``quillon-accounts`` command line, against the simulator."""

from __future__ import annotations

import io
import json
import os
import signal
import socket
import subprocess
import sys
import time
from typing import Any

import pytest

from conftest import MAIN, NIT, PETTY
from quillon.accounts.cli import main
from quillon.accounts.simulator import GatewaySimulator
from rawserver import RawServer


def run(argv: list[str], environ: dict[str, str]) -> tuple[int, str, str]:
    out, err = io.StringIO(), io.StringIO()
    code = main(argv, environ=environ, stdout=out, stderr=err)
    return code, out.getvalue(), err.getvalue()


@pytest.fixture
def env(sim: GatewaySimulator) -> dict[str, str]:
    return {
        "QUILLON_CLIENT_ID": "cli",
        "QUILLON_ACCESS_TOKEN": sim.token.access_token,
        "QUILLON_BASE_URL": sim.url,
    }


ACCOUNT = ["--nit", NIT, "--account-number", MAIN]
CREATE = ["create", "--nit", NIT, "--establishment-id", "16", "--account"]


@pytest.mark.parametrize(
    ("argv", "check"),
    [
        (["get", *ACCOUNT], lambda r: r["account"]["status"] == "active"),
        (
            [*CREATE, "Caja 2", "Gastos", "--account", "Otra", "Ventas"],
            lambda r: [a["alias"] for a in r["accounts"]] == ["Caja 2", "Otra"],
        ),
        (
            ["set-status", "--nit", NIT, "--change", PETTY, "blocked", "Arqueo"],
            lambda r: (
                r == [{"account_number": PETTY, "status": "blocked", "raw_status": "BLOQUEADA"}]
            ),
        ),
        (
            ["credits", *ACCOUNT, "--date-from", "2024-01-01", "--date-to", "2024-01-31"],
            lambda r: all(isinstance(m["amount"], str) for m in r),
        ),
    ],
)
def test_each_operation_prints_json(env: dict[str, str], argv: list[str], check: Any) -> None:
    code, out, err = run(argv, env)
    assert (code, err) == (0, "")
    assert check(json.loads(out))


def test_tables_on_request(env: dict[str, str], sim: GatewaySimulator) -> None:
    code, out, _ = run(["list", "--nit", NIT, "--format", "table", "--client-id", "flag"], env)
    assert code == 0
    assert "Sucursal Centro" in out
    assert MAIN in out
    assert sim.requests[-1].client_id == "flag"  # a flag wins over the environment
    assert "15,230.75" in run(["balances", *ACCOUNT, "--format", "table"], env)[1]


@pytest.mark.parametrize(
    ("argv", "change", "code", "kind"),
    [
        (["get", *ACCOUNT], {"QUILLON_ACCESS_TOKEN": "bad"}, 4, "authentication"),
        (["get", "--nit", NIT, "--account-number", "99999999"], {}, 5, "api"),
        (["get", *ACCOUNT], {"QUILLON_BASE_URL": "DEAD"}, 7, "transport"),
        (["list", "--nit", NIT], {"QUILLON_CLIENT_ID": ""}, 2, None),
        (["list"], {}, 2, None),
        (["debits", *ACCOUNT, "--date-from", "2024-01-01"], {}, 2, None),
    ],
)
def test_exit_codes_tell_failures_apart(
    env: dict[str, str], argv: list[str], change: dict[str, str], code: int, kind: str | None
) -> None:
    if change.get("QUILLON_BASE_URL") == "DEAD":
        with GatewaySimulator() as gone:
            change = {"QUILLON_BASE_URL": gone.url}  # nothing listens there once it stops
    got, out, err = run([*argv, "--retries", "0"], env | change)
    assert got == code
    assert out == ""
    if kind is not None:
        assert json.loads(err)["error"]["kind"] == kind
    assert env["QUILLON_ACCESS_TOKEN"] not in err


def interruptible() -> None:
    # a job a shell starts in the background ignores SIGINT; run as a terminal would
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def cli(*argv: str, **options: Any) -> subprocess.Popen[str]:
    return subprocess.Popen(
        [sys.executable, "-m", "quillon.accounts", *argv],
        text=True,
        stderr=subprocess.PIPE,
        preexec_fn=interruptible,
        **options,
    )


def test_simulator_command_serves_until_interrupted() -> None:
    proc = cli("simulator", "--port", "0", stdout=subprocess.PIPE)
    try:
        assert proc.stdout is not None
        lines = [proc.stdout.readline() for _ in range(4)]
        url = lines[0].rsplit(" ", 1)[1].strip()
        token = lines[3].split("=", 1)[1].strip()
        environ = {
            "QUILLON_CLIENT_ID": "cli",
            "QUILLON_ACCESS_TOKEN": token,
            "QUILLON_BASE_URL": url,
        }
        code, out, _ = run(["get", *ACCOUNT], environ)
        assert code == 0
        assert json.loads(out)["account"]["number"] == MAIN
    finally:
        proc.send_signal(signal.SIGINT)
        assert proc.wait(timeout=30) == 0


@pytest.mark.parametrize(
    ("argv", "change", "words"),
    [
        (["list", "--nit", NIT], {"QUILLON_TIMEOUT": "abc"}, "QUILLON_TIMEOUT"),
        (["list", "--nit", NIT, "--timeout", "inf"], {}, "QUILLON_TIMEOUT"),
        (["list", "--nit", NIT], {"QUILLON_ENVIRONMENT": "prod"}, "development, sandbox"),
        (["list", "--nit", NIT], {"QUILLON_FORMAT": "yaml"}, "json, table"),
        (["list", "--nit", NIT, "--token-file", "/nonexistent/token"], {}, "token file"),
        (["list", "--nit", NIT], {"QUILLON_ACCESS_TOKEN": ""}, "access token is required"),
        (  # the client's own ConfigurationError, in the same one line
            ["list", "--nit", NIT, "--token-url", "ftp://127.0.0.1/t"],
            {"QUILLON_ACCESS_TOKEN": "", "QUILLON_CLIENT_SECRET": "s3cr3t"},
            "token_url must be an http",
        ),
    ],
)
def test_bad_settings_are_usage_errors_naming_the_valid_values(
    env: dict[str, str],
    argv: list[str],
    change: dict[str, str],
    words: str,
    capsys: pytest.CaptureFixture[str],
) -> None:
    code, _, err = run(argv, env | change)
    assert code == 2
    assert words in err + capsys.readouterr().err
    # settings a command does not use are no obstacle, nor to asking for help
    assert run(["version"], env | change)[0] == (2 if "QUILLON_FORMAT" in change else 0)
    assert run([argv[0], "--help"], env | change)[0] == 0


@pytest.mark.parametrize("source", ["file", "stdin"])
def test_the_token_can_come_from_a_file_or_standard_input(
    env: dict[str, str],
    source: str,
    tmp_path: Any,
    monkeypatch: pytest.MonkeyPatch,
) -> None:
    token = env.pop("QUILLON_ACCESS_TOKEN")
    path = tmp_path / "token"
    path.write_text(token + "\n")
    if source == "stdin":
        monkeypatch.setattr(sys, "stdin", io.StringIO(token + "\n"))
    flag = str(path) if source == "file" else "-"
    assert run(["list", "--nit", NIT, "--token-file", flag], env)[0] == 0


def test_a_busy_or_impossible_port_is_a_usage_error(capsys: pytest.CaptureFixture[str]) -> None:
    with socket.socket() as busy:
        busy.bind(("127.0.0.1", 0))
        busy.listen()
        code, _, err = run(["simulator", "--port", str(busy.getsockname()[1])], {})
    assert code == 2
    assert err.count("\n") == 1
    for port in ["65536", "-1", "http"]:
        assert run(["simulator", "--port", port], {})[0] == 2
        assert "expected a whole number from 0 to 65535" in capsys.readouterr().err


def test_ctrl_c_during_a_request_exits_130_quietly() -> None:
    with RawServer(lambda conn, _: time.sleep(10), connections=1, lifetime=15) as server:
        settings = {
            "QUILLON_CLIENT_ID": "c",
            "QUILLON_ACCESS_TOKEN": "t",
            "QUILLON_BASE_URL": server.url,
        }
        proc = cli("list", "--nit", NIT, env=os.environ | settings)
        for _ in range(200):
            if server.requests:
                break
            time.sleep(0.05)
        proc.send_signal(signal.SIGINT)
        _, err = proc.communicate(timeout=30)
    assert (proc.returncode, err) == (130, "")


def test_a_closed_pipe_exits_quietly() -> None:
    proc = cli("demo", "--json", stdout=subprocess.PIPE)
    assert proc.stdout is not None
    assert proc.stdout.readline().startswith("{")
    proc.stdout.close()  # like `| head -1`
    err = proc.stderr.read() if proc.stderr is not None else ""
    assert (proc.wait(timeout=60), err) == (141, "")


def test_every_flag_and_command_is_described(capsys: pytest.CaptureFixture[str]) -> None:
    from quillon.accounts.cli import build_parser

    code, out, _ = run(["describe"], {})  # no configuration needed
    assert code == 0
    described = json.loads(out)
    assert len(described) == 8
    assert [d["name"] for d in described if not d["idempotent"]] == ["accounts.create"]
    assert json.loads(run(["version"], {})[1])["protocol"] == 2

    parser = build_parser({})
    commands = parser._subparsers._group_actions[0]  # type: ignore[union-attr]
    assert isinstance(commands.choices, dict)
    for name, sub in commands.choices.items():
        assert sub.description, name
        for action in sub._actions:
            assert action.help, f"{name} {action.option_strings}"
    with pytest.raises(SystemExit):
        parser.parse_args(["--version"])
    assert capsys.readouterr().out.startswith("quillon-accounts 0.")


@pytest.mark.parametrize(
    ("argv", "flag"),
    [
        (["debits", *ACCOUNT, "--date-from", "2024-02-01", "--date-to", "2024-01-01"], "--date-to"),
        (
            ["reconcile", "--nit", NIT, "--date-from", "2024-01-01", "--date-to", "2024-01-09"],
            "--date-to",
        ),
        (["set-status", "--nit", NIT, "--change", PETTY, "blocked", "x" * 51], "--change REASON"),
        (["balances", "--nit", "12", "--account-number", MAIN], "--nit"),
    ],
)
def test_input_refusals_name_the_flag(env: dict[str, str], argv: list[str], flag: str) -> None:
    code, _, err = run([*argv, "--format", "table"], env)
    assert code == 3
    assert err.startswith(f"error (validation): {flag}: ")
    _, _, err = run(argv, env)
    assert json.loads(err)["error"]["flag"] == flag


def test_long_periods_retries_and_fetched_tokens(
    env: dict[str, str], sim: GatewaySimulator
) -> None:
    # more than a year (a mistyped one) is refused before anything is sent
    code, _, err = run(
        ["debits", *ACCOUNT, "--date-from", "2024-01-01", "--date-to", "2204-01-01"], env
    )
    assert code == 2
    assert "--date-from and --date-to" in err
    assert sim.requests == []

    sim.fail_next(503, count=2)
    assert run(["list", "--nit", NIT, "--max-attempts", "2"], env)[0] == 5
    assert run(["list", "--nit", NIT, "--retries", "1"], env)[0] == 0  # the older spelling
    assert run(["list", "--nit", NIT, "--max-attempts", "0"], env)[0] == 2

    fetched = {
        "QUILLON_CLIENT_ID": sim.oauth_client_id,
        "QUILLON_BASE_URL": sim.url,
        "QUILLON_CLIENT_SECRET": sim.client_secret,
        "QUILLON_TOKEN_URL": sim.token_url,
    }
    assert run(["list", "--nit", NIT], fetched)[0] == 0
    assert sim.tokens_granted == 1
