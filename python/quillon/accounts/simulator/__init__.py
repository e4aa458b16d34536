"""A local stand-in for the merchant-accounts gateway, for demos and tests.

It is a real HTTP server on loopback that serves the eight endpoints with the
gateway's envelope ({"code": "00", "data": ...}) and Spanish records, keeps
its state (opened accounts are listed, status changes stick), checks the
bearer token, and answers bad input with rejections by code. It can be told
to fail on purpose::

    with GatewaySimulator() as sim:
        client = Client(client_id="demo", token=sim.token, base_url=sim.url)
        sim.fail_next(status=503, retry_after=1, count=2)
        client.list_accounts(nit=sim.nit)     # retried twice, then answered

Its data are fixed: merchant nit "1234567" with two establishments (15 and
16) and four accounts; movements are made up for any day from a seed, so the
same question always gets the same answer.

The gateway's data and rules live in :mod:`.state`, the HTTP serving in
:mod:`.server` and the scripted faults in :mod:`.faults`.
"""

from quillon.accounts.simulator.faults import Fault
from quillon.accounts.simulator.server import API_PATH, GatewaySimulator, RecordedRequest

__all__ = ["API_PATH", "Fault", "GatewaySimulator", "RecordedRequest"]
