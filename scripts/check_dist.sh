#!/usr/bin/env bash
# The release files as PyPI and a user see them:
#   1. the sdist is built and holds what a build needs;
#   2. `twine check --strict` passes on the sdist and on the wheel;
#   3. with no C++ compiler, building the sdist fails with one message that
#      names what to install (checked with a compiler that does not exist);
#   4. `pip install` of the sdist, in a fresh venv with build isolation,
#      builds a wheel that imports and answers.
#
#   scripts/check_dist.sh path/to/repaired.whl
#
# Environment: PYTHON (with build and twine installed), OUT (default build/sdist).
set -euo pipefail
cd "$(dirname "$0")/.."
wheel=$(readlink -f "${1:?usage: check_dist.sh WHEEL}")
PYTHON=$(command -v "${PYTHON:-python3}")
case "$PYTHON" in /*) ;; *) PYTHON="$PWD/$PYTHON" ;; esac
OUT=${OUT:-build/sdist}
rm -rf "$OUT" && mkdir -p "$OUT"
OUT=$(readlink -f "$OUT")

echo "== sdist"
"$PYTHON" -m build --sdist --no-isolation --outdir "$OUT" > "$OUT/build.log" 2>&1 || { cat "$OUT/build.log"; exit 1; }
sdist=$(ls "$OUT"/quillon_accounts-*.tar.gz)
listing=$(tar -tzf "$sdist")
for need in CMakeLists.txt cmake/cxx_compiler.cmake LICENSE README.md pyproject.toml \
            python/quillon/accounts/_version.py $(git ls-files 'cpp/*.cpp' 'cpp/*.hpp'); do
    grep -q "^[^/]*/$need\$" <<< "$listing" || { echo "sdist lacks $need" >&2; exit 1; }
done
if grep -qE '^[^/]*/(\.ci|\.github|build|\.venv)/' <<< "$listing"; then
    echo "sdist holds build or CI files" >&2
    exit 1
fi
echo "$(basename "$sdist"): $(wc -l <<< "$listing") files"

echo "== twine check --strict"
"$PYTHON" -m twine check --strict "$sdist" "$wheel"

echo "== sdist without a C++ compiler"
if CXX=/nonexistent/c++ "$PYTHON" -m pip wheel --no-build-isolation --no-deps -w "$OUT/nocxx" \
        -Cbuild-dir="$OUT/nocxx-build" "$sdist" > "$OUT/nocxx.log" 2>&1; then
    echo "the sdist built without a compiler?" >&2
    exit 1
fi
grep -q "no working C++ compiler found (CXX=/nonexistent/c++)" "$OUT/nocxx.log" &&
    grep -q "apt install g++" "$OUT/nocxx.log" ||
    { echo "no clear message about the missing compiler:" >&2; tail -n 30 "$OUT/nocxx.log" >&2; exit 1; }
grep -A 3 "no working C++ compiler found" "$OUT/nocxx.log" | sed 's/^/  /'

echo "== pip install of the sdist in a fresh venv"
"$PYTHON" -m venv "$OUT/venv"
start=$(date +%s)
"$OUT/venv/bin/python" -m pip install -q --disable-pip-version-check "$sdist" > "$OUT/install.log" 2>&1 ||
    { cat "$OUT/install.log"; exit 1; }
echo "built and installed in $(($(date +%s) - start)) s"
(cd "$OUT" && "$OUT/venv/bin/python" -c '
import json
from quillon.accounts import _native, __version__
answer = json.loads(_native.call("version", ""))
assert answer["ok"] is True, answer
print("sdist install answers:", answer["value"], "package", __version__)
')
