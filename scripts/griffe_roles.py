"""Turns the docstrings' reStructuredText roles into Markdown code for the reference site,
and the "::" before a literal block into a plain colon.

``:class:`~quillon.accounts.Client``` becomes ```Client``` (the ``~`` keeps the
last part only, as Sphinx does); any other role keeps its whole target.
"""

from __future__ import annotations

import re
from typing import Any

import griffe

_ROLE = re.compile(r":(?:class|func|meth|mod|attr|data|exc|obj):`(~?)([^`]+)`")
# A paragraph ending in "::" introduces an indented code block (Markdown's too).
_LITERAL = re.compile(r"(?<=\S)::$", re.M)


def _code(match: re.Match[str]) -> str:
    short, target = match.group(1), match.group(2)
    return f"`{target.rsplit('.', 1)[-1] if short else target}`"


class RolesToCode(griffe.Extension):
    """Rewrites the roles of every docstring as it is loaded."""

    def on_instance(self, *, obj: griffe.Object, **kwargs: Any) -> None:
        if obj.docstring is not None:
            text = _ROLE.sub(_code, obj.docstring.value)
            obj.docstring.value = _LITERAL.sub(":", text)
