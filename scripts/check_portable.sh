#!/usr/bin/env bash
# What this Linux machine can check of the other toolchains the engine must
# build with:
#   1. clang-14 with LLVM's libc++ 14 (Debian), a stand-in for Apple's
#      toolchain: the C++ tests and both extension modules are built with
#      warnings as errors and the tests run;
#   2. every engine source compiled (not linked) for macOS x86_64 and arm64 at
#      the wheels' deployment targets and for Windows x86_64, by the clang that
#      the `ziglang` package ships, with its libc++ and the macOS and MinGW
#      headers it carries, -Wall -Wextra -Wpedantic -Werror.
# Not checked here: MSVC and its standard library (no MSVC headers on Linux);
# Apple's own libc++ build and the Python extension modules for macOS and
# Windows (they need that platform's Python headers). cibuildwheel builds
# those in the release workflow.
#
# Environment: CMAKE, NINJA, PYTHON (with ziglang installed), BUILD_DIR, JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."

CMAKE=${CMAKE:-cmake}
NINJA=${NINJA:-ninja}
PYTHON=${PYTHON:-python3}
BUILD_DIR=${BUILD_DIR:-build/portable}
JOBS=${JOBS:-2}
status=0

echo "== clang-14 + libc++ 14: C++ tests and extension modules"
CXX=clang++-14 CXXFLAGS="-stdlib=libc++" LDFLAGS="-stdlib=libc++" \
    "$CMAKE" -S . -B "$BUILD_DIR/libcxx" -G Ninja -DCMAKE_MAKE_PROGRAM="$NINJA" \
    -DCMAKE_BUILD_TYPE=Debug -DQUILLON_BUILD_TESTS=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
    -DPython_EXECUTABLE="$(command -v "$PYTHON")" > /dev/null
if "$CMAKE" --build "$BUILD_DIR/libcxx" -j "$JOBS" > "$BUILD_DIR/libcxx.log" 2>&1; then
    if ! ldd "$BUILD_DIR/libcxx/amount_test" | grep -q 'libc++\.so'; then
        echo "the clang-14 build did not link libc++" >&2
        status=1
    fi
    ctest --version > /dev/null 2>&1 && CTEST=ctest || CTEST="$(dirname "$CMAKE")/ctest"
    "$CTEST" --test-dir "$BUILD_DIR/libcxx" --output-on-failure -j "$JOBS" | tail -n 3 || status=1
else
    cat "$BUILD_DIR/libcxx.log" >&2
    status=1
fi

echo "== zig clang: engine sources compiled for macOS and Windows"
targets=(x86_64-macos.10.15 aarch64-macos.11.0 x86_64-windows-gnu)
# The engine: every C++ source but the tests and the Python extension modules.
mapfile -t sources < <(find cpp -name '*.cpp' -not -path 'cpp/tests/*' -not -path 'cpp/python_extension/*' | sort)
[ ${#sources[@]} -gt 0 ] || { echo "no engine sources found under cpp/" >&2; exit 1; }
out="$BUILD_DIR/cross"
mkdir -p "$out"
"$PYTHON" -m ziglang version > /dev/null
# One compile per (target, source), JOBS at a time; each failure is printed.
for t in "${targets[@]}"; do
    for s in "${sources[@]}"; do
        echo "$t $s"
    done
done | ZIG_PYTHON="$PYTHON" xargs -P "$JOBS" -n 2 sh -c '
    obj="$0/$1-$(echo "$2" | tr / _).o"
    "$ZIG_PYTHON" -m ziglang c++ -target "$1" -std=c++20 -O1 -Icpp -Wall -Wextra -Wpedantic -Werror \
        -c "$2" -o "$obj" 2> "$obj.log" || { echo "FAILED $1 $2" >&2; cat "$obj.log" >&2; exit 1; }
' "$out" || status=1
echo "compiled ${#sources[@]} sources for: ${targets[*]}"
exit $status
