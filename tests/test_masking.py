"""Secrets echoed back in escaped forms are masked wherever an error shows them, in time
in proportion to their length, and only the tokens that can still be in use are kept."""

from __future__ import annotations

import json
import threading

from hypothesis import example, given, settings
from hypothesis import strategies as st

from quillon.accounts._logging import KEPT_TOKENS, Redactor
from quillon.accounts.oauth import ClientCredentials
from quillon.accounts.simulator import GatewaySimulator


def escaped(c: str, how: int) -> str:
    """``c`` as it is, as JSON's \\u (either case) or percent-encoded (either case)."""
    if how == 0:
        return c
    if how in (1, 2):
        units = c.encode("utf-16-be")
        hexes = [units[i : i + 2].hex() for i in range(0, len(units), 2)]
        return "".join("\\u" + (h.upper() if how == 2 else h) for h in hexes)
    return "".join(f"%{b:02X}" if how == 3 else f"%{b:02x}" for b in c.encode())


@settings(max_examples=300, deadline=None)
@given(
    secret=st.text(st.characters(codec="utf-8", exclude_characters="\\%"), min_size=4),
    hows=st.lists(st.integers(0, 4), min_size=1),
    cut=st.integers(0, 3),
)
# A plain form of the secret starts inside the first escape ("\u0030" ends in "0").
@example(secret="0\x1f\x1f\x07", hows=[1], cut=0)
def test_any_mixture_of_escapes_is_masked(secret: str, hows: list[int], cut: int) -> None:
    redactor = Redactor([secret])
    echo = "".join(escaped(c, hows[i % len(hows)]) for i, c in enumerate(secret))
    assert redactor.scrub(f"<{echo}>") == "<***>"
    # cut short after a start of it: no four of its characters show
    shown = redactor.scrub("<" + echo[: len(echo) - cut], cut=True)
    assert shown == "<***" or len(secret) - cut < 4


def test_masking_a_huge_token_takes_time_in_proportion_to_it() -> None:
    token = "ab\\/" * 500_000  # two million characters, a quarter of them backslashes
    redactor = Redactor([token])
    # its JSON form, cut short by someone who did not know it
    text = "x" * 100 + json.dumps(token)[1:-9] + "Z"
    out: list[str] = []
    worker = threading.Thread(target=lambda: out.append(redactor.scrub(text, cut=True)))
    worker.start()
    worker.join(120)  # a guard against hanging only: about a second now, minutes before
    assert out == [text]  # no start of the token at the very end


def test_only_the_newest_tokens_are_kept(sim: GatewaySimulator) -> None:
    now = [1_000_000.0]
    fetched: list[str] = []
    with ClientCredentials(
        token_url=sim.token_url,
        basic_token=sim.basic_token,
        clock=lambda: now[0],
    ) as tokens:
        for _ in range(KEPT_TOKENS + 2):
            fetched.append(tokens().access_token)
            now[0] += 7200  # expired: the next call fetches another
        shown = tokens.redactor.scrub(" ".join([sim.basic_token, *fetched]))
    assert shown.split() == ["***", *fetched[:2], *["***"] * KEPT_TOKENS]
