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

import test_cli
from conftest import MAIN, NIT, PETTY
from quillon.accounts.simulator import GatewaySimulator
from test_cli import run

env = test_cli.env  # the fixture: the environment pointed at the simulator

ACCOUNT = f"--nit {NIT} --account-number {MAIN}"
QUARTER = f"{ACCOUNT} --date-from 2024-01-01 --date-to 2024-03-15"


def accounts(listing: Any) -> list[Any]:
    return [a for e in listing["establishments"] for a in e["accounts"]]


COMMANDS = [
    (f"list --nit {NIT}", "number", accounts),
    (f"debits {QUARTER}", "transaction_id", lambda r: r),
    (f"credits {QUARTER}", "transaction_id", lambda r: r),
    (f"balances {ACCOUNT} --account-number {PETTY}", "account_number", lambda r: r),
]


@pytest.mark.parametrize("fmt", ["csv", "jsonl"])
@pytest.mark.parametrize(("command", "key", "records"), COMMANDS)
def test_list_commands_write_csv_and_json_lines(
    env: dict[str, str], fmt: str, command: str, key: str, records: Any
) -> None:
    argv = command.split()
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
    debits = f"debits {QUARTER}".split()
    assert run([*debits, "--format", "parquet", "-o", f"{tmp_path}/d.pq"], env) == (0, "", "")
    amounts = pq.read_table(tmp_path / "d.pq").column("amount").to_pylist()
    assert amounts == [Decimal(m["amount"]) for m in json.loads(run(debits, env)[1])]

    week = f"reconcile --nit {NIT} --date-from 2024-01-01 --date-to 2024-01-20 --format csv"
    assert run([*week.split(), "--output", str(tmp_path / "r.csv")], env)[0] == 0
    balances = (tmp_path / "r.balances.csv").read_text(encoding="utf-8").splitlines()
    assert len(balances) == 1 + 4  # the header, then each account once
    assert (tmp_path / "r.movements.csv").read_text(encoding="utf-8").startswith("transaction_id")

    assert run(["get", *ACCOUNT.split(), "-o", str(tmp_path / "a.json")], env)[:2] == (0, "")
    assert json.loads((tmp_path / "a.json").read_text(encoding="utf-8"))["nit"] == NIT


@pytest.mark.parametrize(
    ("command", "message"),
    [
        (f"get {ACCOUNT} --format csv", "--format csv is for the list commands"),
        (f"debits {QUARTER} --format parquet", "needs --output FILE"),
        (
            f"reconcile --nit {NIT} --date-from 2024-01-01 --date-to 2024-01-02 --format jsonl",
            "two tables",
        ),
        (f"list --nit {NIT} --format parquet -o x", "pip install 'quillon-accounts[arrow]'"),
        (f"list --nit {NIT} --format csv -o /nonexistent/x.csv", "cannot write"),
    ],
)
def test_unwritable_formats_are_usage_errors(
    env: dict[str, str],
    sim: GatewaySimulator,
    monkeypatch: pytest.MonkeyPatch,
    command: str,
    message: str,
) -> None:
    monkeypatch.setitem(sys.modules, "pyarrow.parquet", None)
    code, out, err = run(command.split(), env)
    assert (code, out) == (2, "")
    assert message in err
    assert err.count("\n") == 1
    assert len(sim.requests) == (1 if "cannot write" in message else 0)
