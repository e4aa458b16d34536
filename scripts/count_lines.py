#!/usr/bin/env python3
"""Counts product and test lines, without blank lines, comments or docstrings.

Product: the engine and the extension modules (cpp/quillon_core,
cpp/quillon_accounts, cpp/python_extension) and the package
(python/quillon, .py files). Tests: cpp/tests and tests/ (.py files, with
their helpers, fixtures and drivers); not the recorded cases
(tests/vectors), nor the fuzz harnesses (fuzz/), nor the benchmarks.

    scripts/count_lines.py [ROOT]
"""

from __future__ import annotations

import ast
import io
import re
import sys
import tokenize
from pathlib import Path

PRODUCT = {
    "C++": ["cpp/quillon_core", "cpp/quillon_accounts", "cpp/python_extension"],
    "Python": ["python/quillon"],
}
TESTS = {"C++": ["cpp/tests"], "Python": ["tests"]}
CPP_COMMENT = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)


def cpp_lines(text: str) -> int:
    def keep_strings(m: re.Match[str]) -> str:
        token = m.group(0)
        return token if token[0] in "\"'" else "\n" * token.count("\n")

    code = CPP_COMMENT.sub(keep_strings, text)
    return sum(1 for line in code.splitlines() if line.strip())


def python_lines(text: str) -> int:
    docstrings: set[int] = set()
    for node in ast.walk(ast.parse(text)):
        body = getattr(node, "body", None)
        if isinstance(body, list) and body and isinstance(body[0], ast.Expr):
            value = body[0].value
            if isinstance(value, ast.Constant) and isinstance(value.value, str):
                end = body[0].end_lineno or body[0].lineno
                docstrings.update(range(body[0].lineno, end + 1))
    lines: set[int] = set()
    for tok in tokenize.generate_tokens(io.StringIO(text).readline):
        if tok.type in (tokenize.COMMENT, tokenize.NL, tokenize.NEWLINE, tokenize.INDENT):
            continue
        if tok.type in (tokenize.DEDENT, tokenize.ENDMARKER):
            continue
        lines.update(n for n in range(tok.start[0], tok.end[0] + 1) if n not in docstrings)
    return len(lines)


def count(root: Path, groups: dict[str, list[str]]) -> dict[str, int]:
    out: dict[str, int] = {}
    for language, dirs in groups.items():
        total = 0
        for d in dirs:
            for path in sorted((root / d).rglob("*")):
                if "vectors" in path.parts or not path.is_file():
                    continue
                if language == "C++" and path.suffix in (".cpp", ".hpp"):
                    total += cpp_lines(path.read_text(encoding="utf-8"))
                elif language == "Python" and path.suffix == ".py":
                    total += python_lines(path.read_text(encoding="utf-8"))
        out[language] = total
    return out


def main() -> None:
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    product, tests = count(root, PRODUCT), count(root, TESTS)
    for name, figures in (("product", product), ("tests", tests)):
        parts = ", ".join(f"{k} {v}" for k, v in figures.items())
        print(f"{name}: {sum(figures.values())} lines ({parts})")
    print(f"tests / product: {sum(tests.values()) / sum(product.values()):.1%}")


if __name__ == "__main__":
    main()
