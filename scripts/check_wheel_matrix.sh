#!/usr/bin/env bash
# Installs the published wheel, with its test extra, into a fresh venv for
# every CPython >= 3.10 on this machine (scripts/find_pythons.sh) and runs the
# test suite against that install: what a user gets from `pip install`.
#
#   scripts/check_wheel_matrix.sh path/to/quillon_accounts-*.whl [pytest args]
#
# Each venv lives in $MATRIX_DIR (default build/matrix) and is made anew.
set -euo pipefail

wheel=$(readlink -f "${1:?usage: check_wheel_matrix.sh WHEEL [pytest args]}")
shift
root=$(cd "$(dirname "$0")/.." && pwd)
matrix=${MATRIX_DIR:-$root/build/matrix}
mkdir -p "$matrix"

passed=0
failed=()
while read -r ver py; do
    venv="$matrix/py$ver"
    rm -rf "$venv"
    echo "== CPython $ver: fresh venv, pip install the wheel"
    start=$(date +%s)
    if ! { "$py" -m venv "$venv" &&
           "$venv/bin/python" -m pip install -q --disable-pip-version-check "$wheel[test]"; } < /dev/null; then
        failed+=("$ver (install)")
        continue
    fi
    echo "installed in $(($(date +%s) - start)) s (with the test tools)"
    # The tests must see the installed package, not the source tree.
    where=$("$venv/bin/python" -c 'import quillon.accounts as q; print(q.__file__)' < /dev/null)
    case "$where" in
        "$venv"/*) ;;
        *) echo "quillon.accounts imported from $where, not from the venv" >&2; failed+=("$ver (import)"); continue ;;
    esac
    if (cd "$root" && "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@" < /dev/null); then
        passed=$((passed + 1))
    else
        failed+=("$ver (tests)")
    fi
done < <("$root/scripts/find_pythons.sh")

echo "check_wheel_matrix: $passed interpreter(s) passed, ${#failed[@]} failed ${failed[*]:-}"
[ $passed -gt 0 ] && [ ${#failed[@]} -eq 0 ]
