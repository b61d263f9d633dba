#!/usr/bin/env bash
# Each shipped binary of the build carries no debug information but names its debug file, which
# lies beside it and which gdb finds and reads: the entry point's source line of every binary, a
# line of the product's own code in the two deliverables, and nothing once the file is missing.
# The list library of each language (BIN/lang/<Language>) has its own debug file, which gdb
# takes beside that library, as the distribution puts it.
# Run by ctest with BIN, PYTHON and LANGUAGES; FAIL marks a failure.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/tools/steps.sh"

entry() { "$PYTHON" -c 'import pefile, sys; h = pefile.PE(sys.argv[1]).OPTIONAL_HEADER; print(hex(h.ImageBase + h.AddressOfEntryPoint))' "$1"; }
line_of() { gdb -batch -nx -ex "info line $2" "$1" 2>&1; }  # line_of BINARY LOCATION
has_line() { grep -q "^Line [0-9]* of \"[^\"]*$3\"" <<<"$(line_of "$1" "$2")"; }  # has_line BINARY LOCATION SOURCE

while read -r name; do
    expect "$name: its debug file lies beside it" test -s "$BIN/$name.debug"
    expect "  gdb reads the entry point's line from it" has_line "$BIN/$name" "*$(entry "$BIN/$name")" '\.c'
done <"$BIN/../shipped.txt"
expect "the monitor's own code" has_line "$BIN/kvabpanelmon.exe" CMonitor::Run monitor/CMonitor.cpp
expect "the list library's own code" has_line "$BIN/kvabappmgr.dll" LaunchGui applist/library/appmgr.cpp

alone=$(mktemp -d)
trap 'rm -rf "$alone"' EXIT
cp "$BIN/kvabappmgr.dll" "$alone/"
expect "without its debug file the library tells no line" bash -c "! grep -q '^Line' <<<'$(line_of "$alone/kvabappmgr.dll" LaunchGui)'"

# gdb takes a debug file only when its checksum matches the library's: each language's own.
for language in $LANGUAGES; do
    library=$BIN/lang/$language/kvabappmgr.dll debug=$library.debug
    mkdir -p "$alone/$language"
    cp "$library" "$alone/$language/" && cp "$debug" "$alone/$language/kvabappmgr.dll.debug"
    expect "the $language list library's debug file tells its own code's lines" \
        has_line "$alone/$language/kvabappmgr.dll" LaunchGui applist/library/appmgr.cpp
done
[ "$failures" -eq 0 ]
