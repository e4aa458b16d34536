#!/usr/bin/env python3
"""Single hand-written faults, each of which the tests must catch.

Each fault replaces one exact text of one file in a scratch copy of the tree
(the copy and its build persist under --scratch, so that engine faults
rebuild incrementally). The tests named for the fault run first (stopping
at the first failure); when they all pass, the C++ tests and the whole
pytest suite run. A fault that no test catches survives; an original text
that is not found exactly once means the list is stale. Either makes the
run fail.

The scratch copy's python/ comes first on the path of every interpreter the
tests start (a sitecustomize there also sets aside an editable install's
import hook), and the engine's modules are built into it.

    scripts/mutants.py [--scratch DIR] [--only ID ...] [--list]
"""

from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


@dataclass(frozen=True)
class Fault:
    """`original` in `path` becomes `replacement`; `first` are the tests to try first
    (pytest node ids, or "cpp:NAME" for a C++ test executable)."""

    id: str
    path: str
    original: str
    replacement: str
    first: tuple[str, ...]


VECTORS = "tests/test_vectors.py"
CPP_VECTORS = "cpp:vectors_test"
E = "cpp/quillon_core/"
A = "cpp/quillon_accounts/"
P = "python/quillon/accounts/"
FAULTS = [
    # ---- the engine
    Fault(
        "message position",
        E + "json_reader.cpp",
        "std::to_string(error_index_ - line_start);",
        "std::to_string(error_index_ - line_start + 1);",
        (CPP_VECTORS, VECTORS),
    ),
    Fault(
        "field name",
        A + "gateway_records.cpp",
        '("codigoBancoDestino")',
        '("codigoBancoDestin")',
        (CPP_VECTORS, VECTORS),
    ),
    Fault(
        "parties mixed",
        A + "conversion.cpp",
        "party(w.cuenta_destino, w.ci_cliente_destino,",
        "party(w.cuenta_destino, w.ci_cliente_origen,",
        (CPP_VECTORS,),
    ),
    Fault(
        "payment status word",
        E + "status.cpp",
        '{"APROBADA", PaymentStatus::paid},',
        '{"APROBADO", PaymentStatus::paid},',
        (CPP_VECTORS, VECTORS),
    ),
    Fault(
        "account status word",
        A + "account_status.cpp",
        '(equals_ascii_upper(key, "SUSPENDIDA")) return suspended;',
        '(equals_ascii_upper(key, "SUSPENDIDA")) return blocked;',
        (CPP_VECTORS,),
    ),
    Fault(
        "amount bound",
        E + "amount.cpp",
        "constexpr int MAX_SCALE = 28;",
        "constexpr int MAX_SCALE = 27;",
        (CPP_VECTORS,),
    ),
    Fault(
        "retryable flag",
        E + "envelope.cpp",
        "status >= 500 || status == 408 || status == 429;",
        "status >= 500 || status == 429;",
        ("tests/test_client.py::test_retryable_failures_are_retried",),
    ),
    Fault(
        "digit bound",
        A + "validate.cpp",
        "value.size() <= MAX_DIGITS;",
        "value.size() < MAX_DIGITS;",
        (CPP_VECTORS,),
    ),
    Fault(
        "range bound",
        A + "request_building.cpp",
        "constexpr std::int64_t MOVEMENTS_MAX_DAYS = 31;",
        "constexpr std::int64_t MOVEMENTS_MAX_DAYS = 30;",
        (CPP_VECTORS,),
    ),
    Fault(
        "movement kind",
        A + "request_building.cpp",
        'movements_request(ctx, in, "debitos", "D");',
        'movements_request(ctx, in, "debitos", "C");',
        (CPP_VECTORS,),
    ),
    Fault(
        "characters counted",
        E + "text.cpp",
        "for (char ch : s) n += !is_continuation(static_cast<unsigned char>(ch));",
        "for (char ch : s) n += ch != 0;",
        (CPP_VECTORS,),
    ),
    Fault(
        "header value",
        E + "operation.cpp",
        '{"client_id", config.client_id},',
        '{"client_id", token->access_token},',
        (CPP_VECTORS,),
    ),
    Fault(
        "fast path status",
        "cpp/python_extension/objects.cpp",
        "binding.payment_status[i < PAYMENT_STATUSES ? i : PAYMENT_STATUSES - 1]",
        "binding.payment_status[0]",
        (VECTORS,),
    ),
    # ---- the package
    Fault(
        "create never resent",
        P + "retry.py",
        "            if not self.idempotent:\n                return None\n        else:",
        "            pass\n        else:",
        ("tests/test_client.py::test_create_is_never_resent_once_it_may_have_reached_the_gateway",),
    ),
    Fault(
        "deadline",
        P + "retry.py",
        "self.deadline = self.started + policy.max_elapsed",
        "self.deadline = self.started + 3 * policy.max_elapsed",
        ("tests/test_deadline.py", "tests/test_faults.py"),
    ),
    Fault(
        "retry-after cap",
        P + "retry.py",
        "delay = min(retry_after, self.max_retry_after)",
        "delay = retry_after",
        ("tests/test_client.py::test_retryable_failures_are_retried",),
    ),
    Fault(
        "backoff growth",
        P + "retry.py",
        "return min(cap, initial * growth**steps)",
        "return min(cap, initial * growth ** (steps + 1))",
        ("tests/test_client.py::test_retryable_failures_are_retried",),
    ),
    Fault(
        "past retry-after date",
        P + "retry.py",
        "return max(0.0, when.timestamp() - current)",
        "return abs(when.timestamp() - current)",
        ("tests/test_client.py::test_retryable_failures_are_retried",),
    ),
    Fault(
        "masking form",
        P + "_redact.py",
        'urllib.parse.quote_plus(raw, safe=""),',
        "raw,",
        ("tests/test_masking.py", "tests/test_faults.py", "tests/test_secrets.py"),
    ),
    Fault(
        "size cap",
        P + "_body.py",
        "if self._wire > self._limit:",
        "if self._wire > 2 * self._limit:",
        ("tests/test_faults.py", "tests/test_deadline.py"),
    ),
    Fault(
        "fast path fallback",
        P + "_call.py",
        "            if result is None:\n",
        "            if result is None and status != 200:\n",
        ("tests/test_client.py::test_undecodable_answers",),
    ),
    Fault(
        "cli exit code",
        P + "cli.py",
        "    ApiError: 5,",
        "    ApiError: 1,",
        ("tests/test_cli.py",),
    ),
    Fault(
        "simulator range rule",
        P + "simulator/state.py",
        "if (last - first).days > limit:",
        "if (last - first).days >= limit:",
        ("tests/test_simulator.py", "tests/test_long_ranges.py"),
    ),
    Fault(
        "token endpoint retryable",
        P + "oauth.py",
        "retryable=status == 429 or status >= 500)",
        "retryable=status >= 500)",
        ("tests/test_token_answers.py",),
    ),
    Fault(
        "one token refresh",
        P + "retry.py",
        "if err.status == 401 and self.can_refresh and not self.refreshed:",
        "if err.status == 401 and self.can_refresh:",
        ("tests/test_async_client.py", "tests/test_client.py::TestTokens"),
    ),
    Fault(
        "token leeway",
        P + "oauth.py",
        "leeway = min(self.leeway, lifetime / 2)",
        "leeway = 0.0",
        ("tests/test_tokens.py",),
    ),
]


def run(cmd: list[str], cwd: Path, env: dict[str, str] | None = None) -> bool:
    return failure(cmd, cwd, env) is None


def failure(cmd: list[str], cwd: Path, env: dict[str, str] | None = None) -> str | None:
    """None when the command succeeds, else what failed: pytest's first FAILED line."""
    done = subprocess.run(cmd, cwd=cwd, env=env, capture_output=True, text=True, errors="replace")
    if done.returncode == 0:
        return None
    failed = [line for line in done.stdout.splitlines() if line.startswith(("FAILED", "ERROR"))]
    return failed[0].split(" - ")[0] if failed else Path(cmd[0]).name


class Scratch:
    """The scratch copy of the tree, its engine build and the tests' environment."""

    def __init__(self, where: Path, jobs: str) -> None:
        self.src, self.build, self.site = where / "src", where / "build", where / "site"
        self.jobs = jobs
        self.configured = False
        self.env = dict(os.environ, PYTHONPATH=f"{self.src / 'python'}{os.pathsep}{self.site}")
        self.env.pop("PYTEST_ADDOPTS", None)

    def sync(self) -> None:
        """Copies every tracked and new file whose content differs (keeping the build's
        view of unchanged files), and drops files that went away."""
        listed = subprocess.run(
            ["git", "ls-files", "-co", "--exclude-standard", "-z"],
            cwd=ROOT,
            capture_output=True,
            check=True,
        ).stdout.decode()
        wanted = {name for name in listed.split("\0") if name and (ROOT / name).is_file()}
        for name in wanted:
            source, target = ROOT / name, self.src / name
            if not target.exists() or target.read_bytes() != source.read_bytes():
                target.parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(source, target)
                target.touch()
        for target in self.src.rglob("*"):
            name = target.relative_to(self.src).as_posix()
            if target.is_file() and name not in wanted and not name.endswith(".so"):
                target.unlink()
        self.site.mkdir(parents=True, exist_ok=True)
        (self.site / "sitecustomize.py").write_text(
            "import sys\n"
            "sys.meta_path[:] = [f for f in sys.meta_path\n"
            "                    if not type(f).__module__.startswith('_editable')]\n"
        )

    def build_engine(self) -> bool:
        """Builds the C++ tests and both modules, and puts the modules into the copy."""
        if not self.configured:
            # Assertions on, light optimisation, no debug information: quick to rebuild.
            configure = [
                *cmake("cmake"),
                *("-S", str(self.src), "-B", str(self.build), "-G", "Ninja"),
                f"-DCMAKE_MAKE_PROGRAM={cmake('ninja')[0]}",
                "-DCMAKE_BUILD_TYPE=Debug",
                "-DCMAKE_CXX_FLAGS_DEBUG=-O1",
                "-DQUILLON_BUILD_TESTS=ON",
                f"-DPython_EXECUTABLE={sys.executable}",
            ]
            if not run(configure, ROOT):
                sys.exit("mutants: the scratch build could not be configured")
            self.configured = True
        if not run([*cmake("cmake"), "--build", str(self.build), "-j", self.jobs], ROOT):
            return False
        for module in self.build.glob("_*.abi3.so"):
            shutil.copy2(module, self.src / P / module.name)
        return True

    def test(self, names: tuple[str, ...] | None) -> str | None:
        """None when the named tests (or, for None, every test) pass, else the first
        that failed."""
        cpp = [n[4:] for n in names or () if n.startswith("cpp:")]
        py = [n for n in names or () if not n.startswith("cpp:")]
        if names is None:
            cpp = sorted(p.stem for p in (self.src / "cpp" / "tests").glob("*_test.cpp"))
        for name in cpp:
            if failure([str(self.build / name)], self.src) is not None:
                return name
        if names is None or py:
            # A fixed seed: the property tests try the same examples on every run.
            seed = "--hypothesis-seed=0"
            pytest = [
                sys.executable,
                "-m",
                "pytest",
                "-x",
                "-q",
                "-p",
                "no:cacheprovider",
                seed,
                *py,
            ]
            return failure(pytest, self.src, self.env)
        return None


def cmake(tool: str) -> list[str]:
    return [shutil.which(tool, path=str(Path(sys.executable).parent)) or tool]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scratch", type=Path, default=ROOT / "build" / "mutants")
    parser.add_argument("--only", nargs="*", help="fault ids to try (default: all)")
    parser.add_argument("--list", action="store_true", help="list the faults and stop")
    parser.add_argument("--jobs", default=os.environ.get("JOBS", "2"))
    args = parser.parse_args()
    faults = [f for f in FAULTS if not args.only or f.id in args.only]
    if args.list:
        for f in faults:
            print(f"{f.id:26} {f.path}")
        return 0
    started = time.monotonic()
    scratch = Scratch(args.scratch.resolve(), args.jobs)
    scratch.sync()
    stale = [f for f in faults if (scratch.src / f.path).read_text().count(f.original) != 1]
    for f in stale:
        print(f"STALE     {f.id}: the original text is not found once in {f.path}")
    first = tuple(sorted({name for f in faults for name in f.first}))
    if not scratch.build_engine():
        print("mutants: the unchanged tree does not build; nothing tried")
        return 1
    if (failed := scratch.test(first)) is not None:
        print(f"mutants: the unchanged tree fails {failed}; nothing tried")
        return 1
    survivors = []
    mutant_built = False  # the scratch modules hold the last engine fault
    for f in faults:
        if f in stale:
            continue
        t0 = time.monotonic()
        engine = f.path.startswith("cpp/")
        if mutant_built and not engine:
            if not scratch.build_engine():
                sys.exit("mutants: the unchanged engine no longer builds")
            mutant_built = False
        target = scratch.src / f.path
        original = target.read_text()
        target.write_text(original.replace(f.original, f.replacement))
        try:
            if engine and not scratch.build_engine():
                verdict = "BROKEN (does not build)"
                survivors.append(f)
            elif scratch.test(f.first) is not None:
                verdict = "killed"
            elif (by := scratch.test(None)) is not None:
                verdict = f"killed by {by}"
            else:
                verdict = "SURVIVED"
                survivors.append(f)
        finally:
            target.write_text(original)
            mutant_built = mutant_built or engine
        print(f"{f.id:26} {verdict} ({f.path}, {time.monotonic() - t0:.0f} s)", flush=True)
    if mutant_built:
        scratch.build_engine()  # leaves the scratch modules as the tree builds them
    took = time.monotonic() - started
    killed = len(faults) - len(stale) - len(survivors)
    print(
        f"mutants: {killed} of {len(faults)} killed, {len(survivors)} survived or broken, ", end=""
    )
    print(f"{len(stale)} stale, in {took:.0f} s")
    return 1 if survivors or stale else 0


if __name__ == "__main__":
    sys.exit(main())
