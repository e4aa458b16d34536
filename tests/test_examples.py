"""The documentation runs as written: the README's quick start, docs/examples.md and
docs/testing.md, each Python block in a fresh interpreter (under pytest when it holds
tests) and each shell line of the command line against a simulator. The demo runs end
to end too."""

from __future__ import annotations

import os
import re
import shlex
import subprocess
import sys
from collections.abc import Iterator
from pathlib import Path

import pytest

from engine_cases import OPS
from quillon.accounts.simulator import GatewaySimulator

ROOT = Path(__file__).resolve().parent.parent
FENCE = re.compile(r"^```(\w+)[^\n]*\n(.*?)^```", re.S | re.M)


def _quick_start_of_readme() -> str:
    readme = ROOT / "README.md"
    if not readme.exists():
        return ""
    text = readme.read_text(encoding="utf-8")
    match = re.search(r"^(#+) Quick start\s*$(.*?)(?=^#{1,2} (?!#)|\Z)", text, re.S | re.M | re.I)
    return match.group(2) if match else ""


def _blocks() -> Iterator[tuple[str, str, str]]:
    sources = {
        "README": _quick_start_of_readme(),
        "examples": (ROOT / "docs" / "examples.md").read_text(encoding="utf-8"),
        "testing": (ROOT / "docs" / "testing.md").read_text(encoding="utf-8"),
    }
    for name, text in sources.items():
        for n, match in enumerate(FENCE.finditer(text), 1):
            yield name, f"{name}-{n}-{match.group(1)}", match.group(2)


BLOCKS = list(_blocks())


def test_documents_have_examples() -> None:
    kinds = {ident.rsplit("-", 1)[1] for _, ident, _ in BLOCKS}
    assert {"python", "sh"} <= kinds


@pytest.fixture
def gateway_env(sim: GatewaySimulator) -> dict[str, str]:
    """The process environment pointed at the simulator, as a user would export it."""
    return os.environ | {
        "QUILLON_CLIENT_ID": "docs",
        "QUILLON_ACCESS_TOKEN": sim.token.access_token,
        "QUILLON_BASE_URL": sim.url,
    }


def _run(argv: list[str], env: dict[str, str], cwd: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run(argv, env=env, cwd=cwd, capture_output=True, text=True, timeout=120)


@pytest.mark.parametrize(
    "code",
    [c for _, i, c in BLOCKS if i.endswith("python")],
    ids=[i for _, i, _ in BLOCKS if i.endswith("python")],
)
def test_python_block_runs(code: str, gateway_env: dict[str, str], tmp_path: Path) -> None:
    script = tmp_path / "example.py"
    script.write_text(code, encoding="utf-8")
    if re.search(r"^def test_", code, re.M):
        argv = [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", str(script)]
    else:
        argv = [sys.executable, str(script)]
    done = _run(argv, gateway_env, tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr
    assert gateway_env["QUILLON_ACCESS_TOKEN"] not in done.stdout + done.stderr


def _shell_lines() -> list[tuple[str, str]]:
    lines = []
    for _, ident, code in BLOCKS:
        if not ident.endswith(("-sh", "-bash", "-console")):
            continue
        for line in code.splitlines():
            words = shlex.split(line, comments=True)
            if words[:1] == ["quillon-accounts"] and words[1:2] != ["simulator"]:
                lines.append((ident, line))
    return lines


SHELL = _shell_lines()


@pytest.mark.parametrize(
    "line", [line for _, line in SHELL], ids=[f"{i}: {line}" for i, line in SHELL]
)
def test_shell_line_runs(line: str, gateway_env: dict[str, str], tmp_path: Path) -> None:
    words = shlex.split(line, comments=True)
    script = Path(sys.executable).with_name("quillon-accounts")
    head = [str(script)] if script.exists() else [sys.executable, "-m", "quillon.accounts"]
    done = _run([*head, *words[1:]], gateway_env, tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.strip()


def test_demo_runs_every_operation(tmp_path: Path) -> None:
    done = _run([sys.executable, "-m", "quillon.accounts", "demo"], dict(os.environ), tmp_path)
    assert done.returncode == 0, done.stderr
    for op in OPS:
        assert f"== accounts.{op}" in done.stdout
    assert "answered on try 2" in done.stdout
