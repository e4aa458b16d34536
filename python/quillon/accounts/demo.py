"""The demo: all eight operations through the real client, against the local simulator.

Nothing leaves the machine: the simulator listens on a free loopback port and
the client talks to it over real HTTP.
"""

from __future__ import annotations

import json
from collections.abc import Callable
from datetime import date
from typing import Any

from quillon.accounts._tables import render
from quillon.accounts.client import Client
from quillon.accounts.models import AccountStatus, NewAccount, StatusChange, to_jsonable
from quillon.accounts.retry import RetryPolicy
from quillon.accounts.simulator import GatewaySimulator

__all__ = ["run_demo"]


def run_demo(out: Callable[[str], None] = print, *, as_json: bool = False) -> int:
    """Runs the demo, writing through ``out``; gives the exit status (0 when all went well)."""

    def show(title: str, result: Any) -> None:
        if as_json:
            out(json.dumps({"step": title, "result": to_jsonable(result)}, ensure_ascii=False))
        else:
            out(f"\n== {title} ==")
            out(render(result))

    with GatewaySimulator() as sim:
        nit = sim.nit
        if not as_json:
            out(f"gateway simulator on {sim.url} (merchant nit {nit})")
        # The client asks this provider for a token, and again whenever one expires.
        retry = RetryPolicy(initial_backoff=0.05, max_backoff=0.2)
        with Client(
            client_id="demo-client", token=sim.issue_token, base_url=sim.url, retry=retry
        ) as client:
            listing = client.list_accounts(nit=nit)
            show("accounts.list: establishments and accounts", listing)

            first = listing.establishments[0]
            account = client.get_account(nit=nit, account_number=first.accounts[0].number)
            show("accounts.get: one account", account)

            created = client.create_accounts(
                nit=nit,
                establishment_id=first.id,
                accounts=[NewAccount("Caja eventos", "Gastos"), NewAccount("Proveedores", "Pagos")],
            )
            show("accounts.create: two new accounts", created)

            new_number = created.accounts[0].number
            changed = client.set_status(
                nit=nit,
                changes=[
                    StatusChange(new_number, AccountStatus.BLOCKED, "Revisión de apertura"),
                    StatusChange(
                        first.accounts[1].number, AccountStatus.SUSPENDED, "Arqueo de caja"
                    ),
                ],
            )
            show("accounts.set_status: block and suspend", changed)

            main = first.accounts[0].number
            january = {"date_from": date(2024, 1, 1), "date_to": date(2024, 1, 31)}
            show(
                "accounts.debits: January 2024",
                client.debits(nit=nit, account_number=main, **january),
            )
            show(
                "accounts.credits: January 2024",
                client.credits(nit=nit, account_number=main, **january),
            )

            # One failure on purpose: the client waits as told and asks again.
            sim.fail_next(503, retry_after=0, path="/saldos")
            balances = client.balances(
                nit=nit, account_numbers=[main, first.accounts[1].number, new_number]
            )
            tries = len(sim.requests_to("/saldos"))
            show(f"accounts.balances: answered on try {tries}, after a 503", balances)

            week = client.reconcile(nit=nit, date_from="2024-01-01", date_to="2024-01-07")
            show("accounts.reconcile: first week of January 2024", week)

            show("accounts.list: the changes stuck", client.list_accounts(nit=nit))
    return 0
