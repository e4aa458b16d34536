"""The command line against hostile texts, token files and outputs: one line of
explanation, never a raw control character, a traceback or a wait forever."""

from __future__ import annotations

import json
import os
import resource
import subprocess
import sys
from pathlib import Path
from typing import IO, Any

import pytest

from conftest import NIT
from quillon.accounts.simulator import GatewaySimulator
from test_cli import CREATE, env, run

__all__ = ["env"]  # the fixture, shared with test_cli

# ESC sequences, BEL, a C1 CSI, DEL, a right-to-left override and an isolate
RAW = ("\x1b", "\x07", "\x9b", "\x7f", "\u202e", "\u2066")
HOSTILE = "\x1b]0;owned\x07\x9b2J\x7f\u202eevil\u2066"


def quillon(
    *argv: str, environ: dict[str, str], stdin: IO[Any] | None = None, stdout: Any = subprocess.PIPE
) -> subprocess.CompletedProcess[str]:
    def limited() -> None:
        # an unbounded read fails here instead of taking the machine's memory
        # (not under the sanitizers: their shadow memory needs the address space)
        if os.environ.get("QUILLON_SANITIZED") != "1":
            resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))

    return subprocess.run(
        [sys.executable, "-m", "quillon.accounts", *argv],
        env=os.environ | environ,
        text=True,
        stdin=stdin,
        stdout=stdout,
        stderr=subprocess.PIPE,
        timeout=60,
        preexec_fn=limited,
    )


@pytest.mark.parametrize("fmt", ["table", "json"])
def test_gateway_texts_reach_the_output_escaped(
    env: dict[str, str], sim: GatewaySimulator, fmt: str
) -> None:
    # a line feed and what would pass for a row of its own
    forged = "Caja\n15  Sucursal Centro  99999999  Fake"
    assert run([*CREATE, forged, "Ventas", "--account", HOSTILE[:40], "Gastos"], env)[0] == 0
    code, out, err = run(["list", "--nit", NIT, "--format", fmt], env)
    assert (code, err) == (0, "")
    assert not any(c in out for c in RAW)
    if fmt == "table":
        assert not any(line.startswith("15  Sucursal Centro  99999999") for line in out.split("\n"))
        assert "Caja\\x0a15" in out
    else:
        aliases = [a["alias"] for e in json.loads(out)["establishments"] for a in e["accounts"]]
        assert forged in aliases
        assert HOSTILE[:40] in aliases


def test_log_lines_on_stderr_are_escaped(env: dict[str, str], sim: GatewaySimulator) -> None:
    argv = ["list", "--nit", NIT, "--max-attempts", "2"]
    for logging in (["-vv"], []):
        sim.fail_next(503, count=2, body={"message": f"{HOSTILE}\n2026-01-01 forged log line"})
        done = quillon(*argv, *logging, environ=env | {"QUILLON_LOG": "" if logging else "debug"})
        assert done.returncode == 5
        assert "retrying accounts.list" in done.stderr
        assert not any(c in done.stderr for c in RAW)
        assert not any(line.startswith("2026-01-01") for line in done.stderr.splitlines())


@pytest.mark.parametrize("source", ["/dev/zero", "fifo", "long line", "stdin zeros"])
def test_a_token_file_is_read_within_bounds(tmp_path: Path, source: str) -> None:
    path = {"/dev/zero": "/dev/zero", "stdin zeros": "-"}.get(source, str(tmp_path / "t"))
    if source == "fifo":
        os.mkfifo(path)  # no writer: opening it to read would wait forever
    elif source == "long line":
        Path(path).write_text("a" * (1 << 20))
    settings = {"QUILLON_CLIENT_ID": "c", "QUILLON_BASE_URL": "http://127.0.0.1:9"}
    with open("/dev/zero", "rb") as zeros:
        done = quillon("list", "--nit", NIT, "--token-file", path, environ=settings, stdin=zeros)
    assert done.returncode == 2
    assert done.stderr.count("\n") == 1
    assert done.stderr.startswith("quillon-accounts: ")


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
@pytest.mark.parametrize("command", ["describe", "version", "--help"])
def test_a_full_disk_is_one_line_and_a_failure(command: str) -> None:
    with open("/dev/full", "w") as full:
        done = quillon(command, environ={}, stdout=full)
    assert done.returncode == 1
    assert done.stderr == "quillon-accounts: cannot write the output: No space left on device\n"
