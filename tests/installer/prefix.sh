# Sourced by the package's Wine tests: a Wine prefix of the test's own in WORK, made empty and
# started afresh, for the build's architecture ($arch); $view names the registry view the package
# writes. The server is found through its prefix's folder: stopped first, then the folder goes
# (kept after a failure, for a look).
#   wine_test_prefix WORK
wine_test_prefix() {
    work=$1
    use_arch "$arch" "$work"
    export WINEPREFIX="$work/wineprefix"
    # The shortcut stays in the prefix: no menu entry on this machine.
    export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"
    if [ "$arch" = x64 ]; then view=/reg:64; else view=/reg:32; fi
    "$WINESERVER" -k </dev/null >/dev/null 2>&1  # a server left by an interrupted run
    rm -rf "$work"
    mkdir -p "$work"
    trap finish_wine_test_prefix EXIT
}

finish_wine_test_prefix() {
    "$WINESERVER" -k </dev/null >/dev/null 2>&1
    "$WINESERVER" -w </dev/null >/dev/null 2>&1
    if [ "$failures" -eq 0 ]; then rm -rf "$work"; fi
}
