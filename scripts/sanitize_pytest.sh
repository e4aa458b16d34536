#!/usr/bin/env bash
# Runs the Python tests against an AddressSanitizer + UBSan build of the
# extension. CPython itself is not instrumented, so the sanitizer runtime is
# preloaded, Python's own allocator is switched to malloc (so that the
# engine's reads of Python's buffers are checked too) and leak checking is
# off: the interpreter keeps memory alive on purpose at exit. Leaks of the
# engine are checked by the sanitized C++ tests and by the fuzzers instead.
#
#   scripts/sanitize_pytest.sh [pytest arguments]      (or: make sanitize)
#
# SANITIZE_BUILD  build directory (default build/sanitize)
# PYTHON          interpreter with the test extras installed (default python3)
# CMAKE, JOBS     cmake to use (with ninja on PATH), parallel build jobs
set -euo pipefail
cd "$(dirname "$0")/.."

SANITIZE_BUILD=${SANITIZE_BUILD:-build/sanitize}
PYTHON=${PYTHON:-python3}
CMAKE=${CMAKE:-cmake}
JOBS=${JOBS:-2}
CXX=${CXX:-g++}

"$CMAKE" -S . -B "$SANITIZE_BUILD" -G Ninja -DCMAKE_CXX_COMPILER="$CXX" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DQUILLON_SANITIZE=ON -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_EXTENSION=ON \
    -DPython_EXECUTABLE="$PYTHON" > /dev/null
"$CMAKE" --build "$SANITIZE_BUILD" -j "$JOBS" --target _native _objects

modules=()
for name in _native _objects; do
    so=$(find "$SANITIZE_BUILD" -maxdepth 1 -name "$name*.so" | head -n 1)
    [ -n "$so" ] || { echo "sanitize: the extension $name was not built" >&2; exit 1; }
    modules+=("$so")
done

# The package from the source tree with the sanitized extension beside it,
# placed ahead of any installed copy.
site="$(cd "$SANITIZE_BUILD" && pwd)/site"
rm -rf "$site"
mkdir -p "$site/quillon/accounts"
for f in python/quillon/accounts/*; do ln -s "$(pwd)/$f" "$site/quillon/accounts/"; done
cp "${modules[@]}" "$site/quillon/accounts/"

libasan=$("$CXX" -print-file-name=libasan.so)
[ -e "$libasan" ] || { echo "sanitize: $CXX has no libasan.so" >&2; exit 1; }

export LD_PRELOAD="$libasan"
export PYTHONMALLOC=malloc
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:verify_asan_link_order=0:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export PYTHONPATH="$site${PYTHONPATH:+:$PYTHONPATH}"
# Tells the tests that measure memory or time that the numbers mean little here.
export QUILLON_SANITIZED=1

"$PYTHON" - "$site" <<'PY'
import sys
import quillon.accounts._native as native
import quillon.accounts._objects as objects
for module in (native, objects):
    assert module.__file__.startswith(sys.argv[1]), f"not the sanitized build: {module.__file__}"
    print(f"sanitize: testing {module.__file__}")
PY
exec "$PYTHON" -m pytest -q -p no:cacheprovider "$@"
