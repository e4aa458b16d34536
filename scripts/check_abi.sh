#!/usr/bin/env bash
# Imports one built extension under every CPython >= 3.10 found on this
# machine and exercises it, to show that the single abi3 binary really loads
# and works everywhere it claims to.
#
#   scripts/check_abi.sh path/to/quillon_accounts-*.whl   (or path/to/_native.abi3.so)
#
# A wheel holds both extension modules; both are loaded and exercised.
#
# Interpreters: those scripts/find_pythons.sh finds. Missing versions are
# reported and skipped; the check fails if fewer than one interpreter was
# found or any of them fails.
set -euo pipefail

artifact=${1:?usage: check_abi.sh WHEEL_OR_SO}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Only the binary and an empty package around it: the point is the .so, and
# the package's own dependencies (httpx, ...) are not installed in these
# interpreters.
pkg="$work/site/quillon/accounts"
mkdir -p "$pkg"
case "$artifact" in
    *.whl)
        python3 - "$artifact" "$pkg" <<'EOF'
import sys, zipfile
wheel, dest = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(wheel) as zf:
    names = sorted(n for n in zf.namelist() if n.endswith(".so"))
    expected = ["quillon/accounts/_native.abi3.so", "quillon/accounts/_objects.abi3.so"]
    if names != expected:
        sys.exit(f"unexpected extension files in {wheel}: {names}")
    for name in names:
        with zf.open(name) as src, open(f"{dest}/{name.rsplit('/', 1)[1]}", "wb") as out:
            out.write(src.read())
EOF
        ;;
    *.so) cp "$artifact" "$pkg/$(basename "$artifact")" ;;
    *) echo "check_abi.sh: expected a .whl or .so, got $artifact" >&2; exit 2 ;;
esac
: > "$pkg/__init__.py"

cat > "$work/probe.py" <<'EOF'
import json
import sys

from quillon.accounts import _native as n

assert n.__all__ == ["call", "__version__", "PROTOCOL_VERSION"], n.__all__
assert n.__version__ == "0.1.0"
assert n.PROTOCOL_VERSION == 2 and type(n.PROTOCOL_VERSION) is int
assert n.call.__text_signature__ == "(op, payload)"

version = json.loads(n.call("version", ""))
assert version == {"ok": True, "value": {"core": "0.1.0", "protocol": 2}}, version
assert n.call(payload="not json", op="version") == n.call("version", "")

described = json.loads(n.call("describe", "{"))
assert described["ok"] is True and isinstance(described["value"], list), described

unknown = json.loads(n.call("nope", ""))
assert unknown == {
    "error": {"kind": "ffi", "message": "unknown operation `nope`", "retryable": False},
    "ok": False,
}, unknown

try:
    n.call(1, "")
except TypeError as exc:
    assert str(exc) == "'int' object is not an instance of 'str'", exc
    notes = getattr(exc, "__notes__", None)
    if sys.version_info >= (3, 11):
        assert notes == ["while processing 'op'"], notes
    else:
        assert notes is None, notes
else:
    raise AssertionError("an int op was accepted")

# The result objects module, when it is there: bound to stand-in classes of
# the same fields, it makes frozen records with the answer's values.
try:
    from quillon.accounts import _objects as o
except ImportError:
    o = None
if o is not None:
    import dataclasses
    import decimal
    import enum
    import gc

    classes = {
        name: dataclasses.make_dataclass(name, fields, frozen=True)
        for name, fields in o.FIELDS.items()
    }
    words = ["active", "blocked", "suspended", "closed", "unknown"]
    Account = enum.Enum("Account", {w.upper(): w for w in words}, type=str)
    pay = ["pending", "processing", "paid", "cancelled", "expired", "rejected", "reversed",
           "error", "unknown"]
    Payment = enum.Enum("Payment", {w.upper(): w for w in pay}, type=str)
    o.bind(decimal.Decimal, Account, Payment, classes)
    record = {"tipoOperacion": "DEBITO", "estado": " pagado ", "importe": "10.50",
              "nombreBancoOrigen": " Banco \u00danico ", "numeroReferencia": "N/A"}
    body = json.dumps({"code": "00", "data": [record, record]}).encode()
    gc.enable()
    got = o.parse("accounts.debits", 200, body)
    assert gc.isenabled()
    assert [type(m).__name__ for m in got] == ["Movement", "Movement"], got
    m = got[0]
    assert (m.status, m.raw_status, m.amount, m.reference) == (
        Payment.PAID, " pagado ", decimal.Decimal("10.5"), None), m
    assert m.origin.bank_name == "Banco \u00danico" and m.fee is None, m
    assert o.parse("accounts.debits", 503, body) is None
    assert o.parse("accounts.debits", 200, b"[") is None

print(f"ok {sys.version.split()[0]}")
EOF

declare -A seen=()
passed=0
failed=0
while read -r ver py; do
    seen[$ver]=$py
    if (cd "$work" && PYTHONPATH="$work/site" "$py" -s "$work/probe.py" < /dev/null); then
        passed=$((passed + 1))
    else
        echo "FAILED under $py ($ver)" >&2
        failed=$((failed + 1))
    fi
done < <("$(dirname "$0")/find_pythons.sh")

for want in 3.10 3.11 3.12 3.13; do
    found=no
    for v in "${!seen[@]}"; do
        [[ $v == "$want".* ]] && found=yes
    done
    [ $found = yes ] || echo "skipped CPython $want: not installed on this machine"
done

if [ $passed -eq 0 ] && [ $failed -eq 0 ]; then
    echo "check_abi: no CPython >= 3.10 found" >&2
    exit 1
fi
echo "check_abi: the extension works under $passed interpreter(s); $failed failed"
[ $failed -eq 0 ]
