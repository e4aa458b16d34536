"""The ``quillon-accounts`` command line, against the simulator."""

from __future__ import annotations

import io
import json
import signal
import subprocess
import sys
from typing import Any

import pytest

from conftest import MAIN, NIT, PETTY
from quillon.accounts.cli import main
from quillon.accounts.simulator import GatewaySimulator


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


NEW_ACCOUNTS = ["--account", "Caja 2", "Gastos", "--account", "Otra", "Ventas"]
RANGE = [
    "--nit",
    NIT,
    "--account-number",
    MAIN,
    "--date-from",
    "2024-01-01",
    "--date-to",
    "2024-01-31",
]


@pytest.mark.parametrize(
    ("argv", "check"),
    [
        (
            ["get", "--nit", NIT, "--account-number", MAIN],
            lambda r: r["account"]["status"] == "active",
        ),
        (
            ["create", "--nit", NIT, "--establishment-id", "16", *NEW_ACCOUNTS],
            lambda r: [a["alias"] for a in r["accounts"]] == ["Caja 2", "Otra"],
        ),
        (
            ["set-status", "--nit", NIT, "--change", PETTY, "blocked", "Arqueo"],
            lambda r: (
                r == [{"account_number": PETTY, "status": "blocked", "raw_status": "BLOQUEADA"}]
            ),
        ),
        (["credits", *RANGE], lambda r: all(isinstance(m["amount"], str) for m in r)),
        (
            ["balances", "--nit", NIT, "--account-number", MAIN, "--account-number", PETTY],
            lambda r: r[0]["available"] == "15230.75",
        ),
    ],
)
def test_each_operation_prints_json(env: dict[str, str], argv: list[str], check: Any) -> None:
    code, out, err = run(argv, env)
    assert (code, err) == (0, "")
    assert check(json.loads(out))


def test_tables_on_request(env: dict[str, str]) -> None:
    code, out, _ = run(["list", "--nit", NIT, "--format", "table"], env)
    assert code == 0
    assert "Sucursal Centro" in out
    assert MAIN in out
    code, out, _ = run(
        ["balances", "--nit", NIT, "--account-number", MAIN, "--format", "table"], env
    )
    assert "15,230.75" in out


@pytest.mark.parametrize(
    ("argv", "change", "code", "kind"),
    [
        (["get", "--nit", "123", "--account-number", MAIN], {}, 3, "validation"),
        (
            ["get", "--nit", NIT, "--account-number", MAIN],
            {"QUILLON_ACCESS_TOKEN": "bad"},
            4,
            "authentication",
        ),
        (["get", "--nit", NIT, "--account-number", "99999999"], {}, 5, "api"),
        (
            ["get", "--nit", NIT, "--account-number", MAIN],
            {"QUILLON_BASE_URL": "DEAD"},
            7,
            "transport",
        ),
        (["list", "--nit", NIT], {"QUILLON_CLIENT_ID": ""}, 2, None),
        (["list"], {}, 2, None),
        (["debits", *RANGE[:4], "--date-from", "2024-01-01"], {}, 2, None),
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


def test_flags_win_over_environment(env: dict[str, str], sim: GatewaySimulator) -> None:
    code, _, _ = run(["list", "--nit", NIT, "--client-id", "from-flag"], env)
    assert code == 0
    assert sim.requests[-1].client_id == "from-flag"


def test_describe_and_version_need_no_configuration() -> None:
    code, out, _ = run(["describe"], {})
    assert code == 0
    described = json.loads(out)
    assert len(described) == 8
    assert [d["name"] for d in described if not d["idempotent"]] == ["accounts.create"]
    code, out, _ = run(["version"], {})
    assert json.loads(out)["protocol"] == 2


def test_simulator_command_serves_until_interrupted() -> None:
    proc = subprocess.Popen(
        [sys.executable, "-m", "quillon.accounts", "simulator", "--port", "0"],
        stdout=subprocess.PIPE,
        text=True,
    )
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
        code, out, _ = run(["get", "--nit", NIT, "--account-number", MAIN], environ)
        assert code == 0
        assert json.loads(out)["account"]["number"] == MAIN
    finally:
        proc.send_signal(signal.SIGINT)
        assert proc.wait(timeout=30) == 0
