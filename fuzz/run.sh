#!/usr/bin/env bash
# Builds the fuzz targets, writes the seed corpus, runs each target for its
# share of FUZZ_SECONDS, then replays the whole corpus once more with leak
# checking; prints the executions and the coverage reached. objects_fuzzer
# (the result objects against the call path, in an embedded interpreter) is
# built where Python's embedding library is found, and gets a sixth of the
# time; the engine's targets share the rest.
#
#   fuzz/run.sh                       (make fuzz sets the variables below)
#
# FUZZ_BUILD    build and corpus directory       (default build/fuzz)
# FUZZ_SECONDS  total fuzzing time, all targets  (default 120)
# FUZZ_CXX      clang++ with libFuzzer           (default clang++-14, else clang++)
# PYTHON        interpreter for the corpus script; with the package installed
#               it also records the calls of the Python tests as seeds. Its
#               version is embedded by objects_fuzzer, with its site-packages
# CMAKE, JOBS   cmake to use (with ninja on PATH), parallel build jobs
#
# A crash or a broken property leaves its input in $FUZZ_BUILD/crashes and
# makes the script fail; replay it with `$FUZZ_BUILD/<target> <file>`.
set -uo pipefail
cd "$(dirname "$0")/.."

FUZZ_BUILD=${FUZZ_BUILD:-build/fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-120}
PYTHON=${PYTHON:-python3}
CMAKE=${CMAKE:-cmake}
JOBS=${JOBS:-2}
TARGETS=(call_fuzzer parse_fuzzer table_fuzzer)

if [ -z "${FUZZ_CXX:-}" ]; then
    FUZZ_CXX=$(command -v clang++-14 || command -v clang++ || true)
fi
if [ -z "$FUZZ_CXX" ]; then
    echo "fuzz: clang++ not found (Debian: apt-get install clang-14 libclang-rt-14-dev)" >&2
    exit 1
fi

set -e
"$CMAKE" -S fuzz -B "$FUZZ_BUILD" -G Ninja -DCMAKE_CXX_COMPILER="$FUZZ_CXX" \
    -DPython_EXECUTABLE="$(command -v "$PYTHON")" > /dev/null
"$CMAKE" --build "$FUZZ_BUILD" -j "$JOBS"
"$PYTHON" fuzz/make_corpus.py "$FUZZ_BUILD/seeds"
set +e

mkdir -p "$FUZZ_BUILD/crashes"
objects_seconds=0
if [ -x "$FUZZ_BUILD/objects_fuzzer" ]; then
    objects_seconds=$(( FUZZ_SECONDS / 6 ))
    [ "$objects_seconds" -ge 1 ] || objects_seconds=1
else
    echo "fuzz: objects_fuzzer not built (no Python embedding library); skipped" >&2
fi
per_target=$(( (FUZZ_SECONDS - objects_seconds) / ${#TARGETS[@]} ))
[ "$per_target" -ge 1 ] || per_target=1
[ "$objects_seconds" -eq 0 ] || TARGETS+=(objects_fuzzer)
# objects_fuzzer's interpreter: the package and the tests from the tree,
# httpx and the rest from the environment of $PYTHON.
site=$("$PYTHON" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
objects_path="$(pwd)/python:$(pwd)/tests:$(pwd)/fuzz:$site"
# detect_leaks: LeakSanitizer checks every input that allocates more than it frees.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
summary=()
for target in "${TARGETS[@]}"; do
    corpus="$FUZZ_BUILD/corpus/$target"
    seeds="$FUZZ_BUILD/seeds/${target%_fuzzer}"
    seconds=$per_target
    run=()
    # The table and objects builders read the parse stage's inputs.
    [ "$target" = table_fuzzer ] && seeds="$FUZZ_BUILD/seeds/parse"
    if [ "$target" = objects_fuzzer ]; then
        seeds="$FUZZ_BUILD/seeds/parse"
        seconds=$objects_seconds
        # The interpreter keeps what it allocates until the process ends:
        # leaks are the engine targets' to find.
        run=(env PYTHONPATH="$objects_path" PYTHONHASHSEED=0 ASAN_OPTIONS="${ASAN_OPTIONS/detect_leaks=1/detect_leaks=0}")
    fi
    log="$FUZZ_BUILD/$target.log"
    mkdir -p "$corpus"
    echo "fuzz: $target for ${seconds}s (log: $log)"
    "${run[@]}" "$FUZZ_BUILD/$target" "$corpus" "$seeds" \
        -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
        -dict=fuzz/json.dict -print_final_stats=1 \
        -artifact_prefix="$FUZZ_BUILD/crashes/$target-" > "$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$log" | tail -n 1)
    if [ $rc -ne 0 ]; then
        status=1
        grep -E -A 30 'ERROR|property broken|runtime error' "$log" | head -n 60 >&2
        summary+=("$target: FAILED (exit $rc) after ${runs:-?} executions, $cov")
        continue
    fi
    # The whole corpus once more, each input checked for leaks.
    if ! "${run[@]}" "$FUZZ_BUILD/$target" "$corpus" -runs=0 -max_len=16384 -timeout=10 \
            -artifact_prefix="$FUZZ_BUILD/crashes/$target-" > "$log.replay" 2>&1; then
        status=1
        grep -E -A 30 'ERROR|property broken|runtime error' "$log.replay" | head -n 60 >&2
        summary+=("$target: replay of the corpus FAILED")
        continue
    fi
    replayed="corpus replayed without leaks"
    [ "$target" = objects_fuzzer ] && replayed="corpus replayed"
    summary+=("$target: ${runs:-?} executions, $cov, $replayed")
done

for line in "${summary[@]}"; do echo "fuzz: $line"; done
exit $status
