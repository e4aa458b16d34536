#!/usr/bin/env bash
# Checks that the cibuildwheel configuration in pyproject.toml selects exactly
# the release wheels, platform by platform. The builds themselves need Docker
# (Linux), macOS or Windows runners: .github/workflows/release.yml.
set -euo pipefail
cd "$(dirname "$0")/.."
CIBUILDWHEEL=${CIBUILDWHEEL:-cibuildwheel}

status=0
check() {
    local platform=$1
    shift
    local want got
    want=$(printf '%s\n' "$@" | sort)
    got=$("$CIBUILDWHEEL" --print-build-identifiers --platform "$platform" | sort)
    if [ "$got" = "$want" ]; then
        echo "cibuildwheel $platform: $(echo $got)"
    else
        printf 'cibuildwheel %s: expected\n%s\ngot\n%s\n' "$platform" "$want" "$got" >&2
        status=1
    fi
}
check linux cp310-manylinux_x86_64 cp310-manylinux_aarch64 cp310-musllinux_x86_64 cp310-musllinux_aarch64
check macos cp310-macosx_x86_64 cp310-macosx_arm64
check windows cp310-win_amd64
exit $status
