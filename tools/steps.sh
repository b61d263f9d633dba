# Step helpers for the scripts that drive the system on Wine and print one line a step
# (tools/demo.sh, the installer tests), sourced. A failed step counts in $failures.
failures=0

w() { "$WINE" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
ok() { printf '  ok    %s\n' "$*"; }
bad() { printf '  FAIL  %s\n' "$*"; failures=$((failures + 1)); }
expect() { # expect DESCRIPTION COMMAND...: the step passes when the command succeeds
    local what=$1; shift
    if "$@"; then ok "$what"; else bad "$what"; fi
}
wait_for() { # wait_for SECONDS COMMAND...
    local seconds=$1; shift
    for _ in $(seq 1 $((seconds * 5))); do "$@" && return 0; sleep 0.2; done
    return 1
}
records() { [ -f "$1" ] && grep -c '^end' "$1" || echo 0; }
more_records() { test "$(records "$1")" -gt "$2"; }  # more_records JOURNAL COUNT
