"""The command line's CSV, JSON Lines and Parquet output and ``--output``."""

from __future__ import annotations

import csv
import io
import json
import sys
from decimal import Decimal
from pathlib import Path
from typing import Any

import pytest

from conftest import MAIN, NIT, PETTY
from quillon.accounts.simulator import GatewaySimulator
from test_cli import run


@pytest.fixture
def env(sim: GatewaySimulator) -> dict[str, str]:
    token = sim.token.access_token
    return {"QUILLON_CLIENT_ID": "cli", "QUILLON_ACCESS_TOKEN": token, "QUILLON_BASE_URL": sim.url}


ACCOUNT = ["--nit", NIT, "--account-number", MAIN]
QUARTER = ["--date-from", "2024-01-01", "--date-to", "2024-03-15"]
COMMANDS = [
    (
        ["list", "--nit", NIT],
        "number",
        lambda r: [a for e in r["establishments"] for a in e["accounts"]],
    ),
    (["debits", *ACCOUNT, *QUARTER], "transaction_id", lambda r: r),
    (["credits", *ACCOUNT, *QUARTER], "transaction_id", lambda r: r),
    (["balances", *ACCOUNT, "--account-number", PETTY], "account_number", lambda r: r),
]


@pytest.mark.parametrize("fmt", ["csv", "jsonl"])
@pytest.mark.parametrize(("argv", "key", "records"), COMMANDS)
def test_list_commands_write_csv_and_json_lines(
    env: dict[str, str], fmt: str, argv: list[str], key: str, records: Any
) -> None:
    code, out, err = run([*argv, "--format", fmt], env)
    assert (code, err) == (0, "")
    if fmt == "csv":
        written = list(csv.DictReader(io.StringIO(out, newline="")))
    else:
        written = [json.loads(line) for line in out.splitlines()]
    expected = records(json.loads(run(argv, env)[1]))
    assert [r[key] for r in written] == [r[key] for r in expected]
    assert len(expected) > 1


def test_parquet_and_files(env: dict[str, str], tmp_path: Path) -> None:
    pq = pytest.importorskip("pyarrow.parquet")
    target = tmp_path / "d.parquet"
    parquet = ["--format", "parquet", "-o", str(target)]
    assert run(["debits", *ACCOUNT, *QUARTER, *parquet], env) == (0, "", "")
    objects = json.loads(run(["debits", *ACCOUNT, *QUARTER], env)[1])
    amounts = pq.read_table(target).column("amount").to_pylist()
    assert amounts == [Decimal(m["amount"]) for m in objects]

    week = ["reconcile", "--nit", NIT, "--date-from", "2024-01-01", "--date-to", "2024-01-20"]
    assert run([*week, "--format", "csv", "--output", str(tmp_path / "r.csv")], env)[0] == 0
    balances = (tmp_path / "r.balances.csv").read_text(encoding="utf-8").splitlines()
    assert len(balances) == 1 + 4  # the header, then each account once
    assert (tmp_path / "r.movements.csv").read_text(encoding="utf-8").startswith("transaction_id")

    assert run(["get", *ACCOUNT, "--output", str(tmp_path / "a.json")], env)[:2] == (0, "")
    assert json.loads((tmp_path / "a.json").read_text(encoding="utf-8"))["nit"] == NIT


@pytest.mark.parametrize(
    ("argv", "message"),
    [
        (["get", *ACCOUNT, "--format", "csv"], "--format csv is for the list commands"),
        (["debits", *ACCOUNT, *QUARTER, "--format", "parquet"], "needs --output FILE"),
        (
            [
                "reconcile",
                "--nit",
                NIT,
                *QUARTER[:2],
                "--date-to",
                "2024-01-02",
                "--format",
                "jsonl",
            ],
            "two tables",
        ),
        (
            ["list", "--nit", NIT, "--format", "parquet", "-o", "x"],
            "pip install 'quillon-accounts[arrow]'",
        ),
        (["list", "--nit", NIT, "--format", "csv", "-o", "/nonexistent/x.csv"], "cannot write"),
    ],
)
def test_unwritable_formats_are_usage_errors(
    env: dict[str, str],
    sim: GatewaySimulator,
    monkeypatch: pytest.MonkeyPatch,
    argv: list[str],
    message: str,
) -> None:
    monkeypatch.setitem(sys.modules, "pyarrow.parquet", None)
    code, out, err = run(argv, env)
    assert (code, out) == (2, "")
    assert message in err
    assert err.count("\n") == 1
    assert len(sim.requests) == (1 if "cannot write" in message else 0)
