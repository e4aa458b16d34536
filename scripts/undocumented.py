"""Lists the public names of the documented modules that have no docstring.

Every class, function, constant, enum member and dataclass field that the API
reference shows should say what it is; exits with status 1 when one does not.
Run with the docs extra installed (griffe comes with mkdocstrings).
"""

from __future__ import annotations

import sys
from pathlib import Path

import griffe

ROOT = Path(__file__).resolve().parent.parent
# The modules the reference pages render (docs/reference/*.md).
MODULES = (
    "client",
    "async_client",
    "config",
    "models",
    "export",
    "ranges",
    "errors",
    "retry",
    "protocol",
    "raw_response",
    "tables",
    "simulator",
    "pytest_plugin",
)


def _is_type_variable(member: griffe.Object | griffe.Alias) -> bool:
    value = str(getattr(member, "value", "") or "")
    return value.startswith(("TypeVar(", "ParamSpec("))


def undocumented(obj: griffe.Object | griffe.Alias) -> list[str]:
    """The paths of ``obj``'s public members (and theirs) without a docstring."""
    missing: list[str] = []
    for name, member in obj.members.items():
        if name.startswith("_") or member.is_alias:
            continue
        if _is_type_variable(member):
            continue
        if member.is_module:
            missing += undocumented(member)
            continue
        if not member.docstring:
            missing.append(member.path)
        if member.is_class:
            missing += undocumented(member)
    return missing


def main() -> int:
    """Prints the undocumented names; 1 when there is any."""
    extensions = griffe.load_extensions(str(ROOT / "scripts" / "griffe_roles.py"))
    package = griffe.load(
        "quillon.accounts", search_paths=[str(ROOT / "python")], extensions=extensions
    )
    missing: list[str] = []
    for name in MODULES:
        missing += undocumented(package.members[name])
    for path in missing:
        print(f"undocumented: {path}")
    print(f"{len(missing)} public names without a docstring")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
