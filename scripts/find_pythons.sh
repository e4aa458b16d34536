#!/usr/bin/env bash
# Prints one path per distinct CPython >= 3.10 on this machine, as
# "VERSION PATH" lines: ~/.pyenv/versions/3.*, python3.N on PATH, and
# $QUILLON_PYTHONS (space-separated paths). An interpreter reached through
# several paths (pyenv shims, symlinks) is listed once, keyed by its version.
set -euo pipefail

candidates=()
for py in "$HOME"/.pyenv/versions/3.*/bin/python3 ${QUILLON_PYTHONS:-}; do
    candidates+=("$py")
done
for minor in $(seq 10 20); do
    if command -v "python3.$minor" > /dev/null; then
        candidates+=("$(command -v "python3.$minor")")
    fi
done

declare -A seen=()
for py in "${candidates[@]}"; do
    [ -x "$py" ] || continue
    ver=$("$py" -c 'import sys; print("%d.%d.%d" % sys.version_info[:3]) if sys.version_info >= (3, 10) else print("")' 2> /dev/null || true)
    [ -n "$ver" ] || continue
    [ -z "${seen[$ver]:-}" ] || continue
    seen[$ver]=1
    echo "$ver $py"
done
