#!/usr/bin/env bash
# Runs every benchmark once on Wine and prints its figures. Called by "./run bench" and by the
# test bench.Short with BIN (the built binaries) and WINEPREFIX set and Wine running.
#   bench/run-benchmarks.sh [--short]
set -uo pipefail
: "${BIN:?BIN must name the folder of the built binaries}"

failed=0
for name in logger applist launch scale footprint idle; do
    program=$(ls "$BIN"/????bench_$name.exe 2>/dev/null | head -n 1)
    if [ -z "$program" ]; then
        echo "benchmark $name: not built (PANELMON_BENCH=OFF?)" >&2
        failed=1
        continue
    fi
    started=$(date +%s)
    "${WINE:-wine}" "$program" "$@" </dev/null 2>/dev/null | tr -d '\r'
    status=${PIPESTATUS[0]}
    printf '  (%s: %d s, exit %d)\n' "$name" $(( $(date +%s) - started )) "$status"
    [ "$status" -eq 0 ] || failed=1
done
exit $failed
