"""Differential check of two builds of the engine: every answer must match.

Loads two `_native` extension files side by side and hands both the same
calls: generated gateway bodies (wire records in object and array form,
refusals, authentication failures, broken JSON) and generated payloads
(valid, mutated and truncated), plus the recorded payload vectors. Prints
the counts; differences listed under --allow are counted apart.

    python scripts/diff_engines.py OLD.so NEW.so [--count N] [--seed S]
        [--allow eof-object]

`eof-object`: an old "EOF while parsing a value" answered as "EOF while
parsing an object" at the same position (the end of a skipped object's text
after a comma).
"""

from __future__ import annotations

import argparse
import importlib.machinery
import importlib.util
import json
import random
import sys
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import Any

ROOT = Path(__file__).resolve().parent.parent
OPS = ["get", "list", "create", "set_status", "reconcile", "credits", "debits", "balances"]
STATUSES = [200, 200, 200, 201, 204, 299, 400, 401, 403, 404, 408, 429, 500, 503]
WIRE_KEYS = [
    "numeroCuenta",
    "alias",
    "estado",
    "idEstablecimiento",
    "nombreEstablecimiento",
    "cuentas",
    "nit",
    "nombreComercio",
    "establecimientos",
    "cuenta",
    "transactionId",
    "tipoOperacion",
    "mensaje",
    "fechaHoraTransaccion",
    "importe",
    "importeComision",
    "importeTotal",
    "moneda",
    "tipoMoneda",
    "cuentaOrigen",
    "numeroReferencia",
    "saldoDisponible",
    "saldoContable",
    "saldoRetenido",
    "fechaUltimoCredito",
    "movimientos",
    "saldos",
    "code",
    "data",
    "message",
    "errorMessage",
    "errorCode",
    "error_description",
    "error",
    "x",
]
WORDS = [
    "ACTIVA",
    " activo ",
    "BLOQUEADA",
    "PAGADO",
    "rechazada",
    "N/A",
    "",
    " ",
    "\u00a0x\u2003",
    "Caja Ñandú",
    "a; b",
    "1234567",
    "00",
    "07",
    "\\",
    '"q"',
    "\u0001",
]
NUMBERS = [
    "0",
    "-0",
    "15",
    "1.5",
    "150.50",
    "1e3",
    "-2.5E-2",
    "18446744073709551616",
    "1e400",
    "0.0000000000000000000000000001",
    "123456789012345678901234567890",
    "-7",
]


def load(path: str, name: str) -> Callable[[str, str], str]:
    loader = importlib.machinery.ExtensionFileLoader(name, path)
    found = importlib.util.spec_from_file_location(name, path, loader=loader)
    assert found is not None
    module = importlib.util.module_from_spec(found)
    loader.exec_module(module)
    return module.call  # type: ignore[no-any-return]


def value(rng: random.Random, depth: int = 0) -> Any:
    roll = rng.random()
    if depth > 4 or roll < 0.45:
        return rng.choice(
            [
                None,
                True,
                False,
                rng.choice(WORDS),
                int(rng.choice(["0", "15", "-7", "99999"])),
                rng.random() * 1000,
                rng.choice(WORDS) + str(rng.randint(0, 99)),
            ]
        )
    if roll < 0.7:
        return [value(rng, depth + 1) for _ in range(rng.randint(0, 4))]
    return {rng.choice(WIRE_KEYS): value(rng, depth + 1) for _ in range(rng.randint(0, 6))}


def record(rng: random.Random, depth: int = 0) -> Any:
    """Something shaped like a gateway record, often almost right."""
    keys = rng.sample(WIRE_KEYS, rng.randint(1, 10))
    out: dict[str, Any] = {}
    for key in keys:
        if key in ("cuentas", "establecimientos", "movimientos", "saldos") and depth < 2:
            out[key] = [record(rng, depth + 1) for _ in range(rng.randint(0, 3))]
        elif key == "cuenta" and depth < 2:
            out[key] = record(rng, depth + 1)
        elif key.startswith(("importe", "saldo")) or key == "idEstablecimiento":
            out[key] = rng.choice([rng.choice(NUMBERS), f" {rng.choice(NUMBERS)} ", None, "x"])
        else:
            out[key] = value(rng, depth + 1) if rng.random() < 0.2 else rng.choice(WORDS)
    if rng.random() < 0.2:
        return list(out.values())[: rng.randint(0, len(out) + 1)]
    return out


def dump(rng: random.Random, obj: Any) -> str:
    text = json.dumps(obj, ensure_ascii=rng.random() < 0.5, indent=rng.choice([None, None, 1]))
    # Numbers given as their literal text.
    for n in NUMBERS:
        text = text.replace(json.dumps(n), n) if rng.random() < 0.3 else text
    if rng.random() < 0.1:  # a repeated key
        text = (
            text.replace("{", '{"data": 1, ', 1)
            if rng.random() < 0.5
            else text.replace("{", '{"numeroCuenta": "1", ', 1)
        )
    return text


def mutate(rng: random.Random, text: str, rate: float) -> str:
    if rng.random() >= rate or not text:
        return text
    roll = rng.random()
    at = rng.randrange(len(text) + 1)
    if roll < 0.45:
        return text[:at]
    if roll < 0.65:
        return text[:at] + text[at + 1 :]
    extra = rng.choice([",", ":", "[", "]", "{", "}", '"', "\\", " ", '{"z":{"a":1,', "0"])
    return text[:at] + extra + text[at:]


ACCOUNT = {"numeroCuenta": "12345678", "alias": "Caja", "estado": "ACTIVA"}
MOVEMENT = {
    "transactionId": 7,
    "tipoOperacion": "CREDITO",
    "estado": " pagado ",
    "importe": "150.50",
    "importeComision": 1.5,
    "cuentaOrigen": "555",
    "numeroReferencia": "N/A",
    "mensaje": "  ",
}
BALANCE = {
    "numeroCuenta": 12345678,
    "saldoDisponible": "15230.75",
    "saldoContable": 15380.75,
    "saldoRetenido": "1.5e2",
    "tipoMoneda": "BOB",
    "estado": "cerrada",
}
DATA: dict[str, Any] = {
    "get": {"nit": "1234567", "idEstablecimiento": "15", "cuenta": ACCOUNT},
    "list": {"nit": 1234567, "establecimientos": [{"idEstablecimiento": 15, "cuentas": [ACCOUNT]}]},
    "create": {"nit": "1234567", "idEstablecimiento": 15, "cuentas": [ACCOUNT, ACCOUNT]},
    "set_status": [{"numeroCuenta": "12345678", "estado": "BLOQUEADA"}],
    "reconcile": {"movimientos": [MOVEMENT, MOVEMENT], "saldos": [BALANCE]},
    "credits": [MOVEMENT, MOVEMENT],
    "debits": [MOVEMENT],
    "balances": [BALANCE, BALANCE],
}


def perturb(rng: random.Random, obj: Any, depth: int = 0) -> Any:
    """A valid record with now and then a member changed, dropped or turned into an array."""
    if isinstance(obj, list):
        return [perturb(rng, item, depth + 1) for item in obj]
    if not isinstance(obj, dict):
        return obj
    out = {k: perturb(rng, v, depth + 1) for k, v in obj.items()}
    roll = rng.random()
    if roll < 0.1 and out:
        del out[rng.choice(list(out))]
    elif roll < 0.2 and out:
        out[rng.choice(list(out))] = value(rng)
    elif roll < 0.25:
        out[rng.choice(WIRE_KEYS)] = value(rng)
    elif roll < 0.3:
        return list(out.values()) + [value(rng)] * rng.randint(0, 2)
    return out


def body(rng: random.Random, op: str) -> str:
    roll = rng.random()
    if roll < 0.08:
        return rng.choice(["", "  ", "<html>oops</html>", "null", "[]", "{}", "0", '"x"'])
    payload: Any = record(rng)
    if op in ("set_status", "credits", "debits", "balances") and rng.random() < 0.7:
        payload = [record(rng) for _ in range(rng.randint(0, 5))]
    if rng.random() < 0.6:
        payload = perturb(rng, DATA[op])
    if roll < 0.25:
        envelope: Any = payload
    else:
        envelope = {"code": rng.choice(["00", "00", "00", "07", 0, None]), "data": payload}
        for key in rng.sample(
            ["message", "errorMessage", "errorCode", "error_description", "error", "extra"],
            rng.randint(0, 3),
        ):
            envelope[key] = rng.choice([rng.choice(WORDS), value(rng)])
        if rng.random() < 0.1:
            envelope["data"] = [rng.choice(WORDS) for _ in range(3)]
    return mutate(rng, dump(rng, envelope), 0.4)


VALID: dict[str, Any] = {
    "get": {"nit": "1234567", "account_number": "12345678"},
    "list": {"nit": "1234567"},
    "create": {
        "nit": "1234567",
        "establishment_id": 15,
        "accounts": [{"alias": " Main ", "category": "Retail"}],
    },
    "set_status": {
        "nit": "1234567",
        "changes": [{"account_number": "12345678", "status": "blocked", "reason": "Lost"}],
    },
    "reconcile": {"nit": "1234567", "date_from": "2024-01-01", "date_to": "2024-01-07"},
    "credits": {
        "nit": "1234567",
        "account_number": "12345678",
        "date_from": "2024-01-01",
        "date_to": "2024-01-31",
    },
    "debits": {
        "nit": "1234567",
        "account_number": "12345678",
        "date_from": "2024-01-01",
        "date_to": "2024-02-01",
    },
    "balances": {"nit": "1234567", "account_numbers": ["12345678", "87654321"]},
}


def loosen(rng: random.Random, obj: Any) -> Any:
    """The input with a field changed, dropped, or an unknown member added."""
    if not isinstance(obj, dict) or rng.random() < 0.75:
        return obj
    out = dict(obj)
    key = rng.choice(list(out))
    roll = rng.random()
    if roll < 0.3:
        del out[key]
    elif roll < 0.6:
        out[key] = value(rng)
    elif roll < 0.8:
        out["unknown"] = value(rng)
    else:
        return list(out.values())
    return out


def payload(rng: random.Random, op: str, stage: str) -> str:
    inp = loosen(rng, VALID[op])
    if stage == "build":
        config: Any = {
            "client_id": rng.choice(["cid", "c\r\nx", ""]),
            "base_url": rng.choice(["https://gw.test/", "", None, "x//"]),
            "environment": rng.choice(["sandbox", "production", "x"]),
        }
        token: Any = rng.choice(
            [
                None,
                {
                    "access_token": "tok",
                    "token_type": "Bearer",
                    "expires_at": rng.choice([0, -1, 1.5]),
                },
            ]
        )
        obj: Any = {"config": loosen(rng, config), "token": token, "input": inp}
    else:
        obj = {"input": inp, "response": {"status": rng.choice(STATUSES), "body": body(rng, op)}}
    if rng.random() < 0.1:
        obj["skipped"] = value(rng)
    return mutate(rng, dump(rng, obj), 0.15)


def vectors() -> Iterator[tuple[str, str]]:
    path = ROOT / "tests" / "vectors" / "payload-decoding.jsonl"
    for line in path.read_text(encoding="utf-8").split("\n"):
        if line.strip():
            case = json.loads(line)
            yield case["op"], case["payload"]


def calls(rng: random.Random, count: int) -> Iterator[tuple[str, str]]:
    yield from vectors()
    yield "describe", ""
    yield "version", ""
    yield "accounts.nope.build", "{}"
    for _ in range(count):
        op = rng.choice(OPS)
        stage = "parse" if rng.random() < 0.7 else "build"
        text = payload(rng, op, stage)
        yield f"accounts.{op}.{stage}", text
        # Every prefix of a small payload now and then: each end of text.
        if rng.random() < 0.01 and len(text) < 400:
            for cut in range(len(text)):
                yield f"accounts.{op}.{stage}", text[:cut]


def allowed_eof_object(old: str, new: str) -> bool:
    return old.replace("EOF while parsing a value", "EOF while parsing an object") == new


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--count", type=int, default=50_000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--allow", action="append", default=[], choices=["eof-object"])
    args = parser.parse_args()
    old = load(args.old, "engine_old._native")
    new = load(args.new, "engine_new._native")
    rng = random.Random(args.seed)
    total = same = allowed = 0
    shown = 0
    for op, text in calls(rng, args.count):
        total += 1
        a, b = old(op, text), new(op, text)
        if a == b:
            same += 1
        elif "eof-object" in args.allow and allowed_eof_object(a, b):
            allowed += 1
        else:
            if shown < 5:
                print(f"DIFF {op} {text!r}\n  old {a}\n  new {b}")
            shown += 1
    print(f"{total} calls: {same} identical, {allowed} allowed differences, {shown} other")
    return 1 if shown else 0


if __name__ == "__main__":
    sys.exit(main())
