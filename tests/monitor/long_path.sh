#!/usr/bin/env bash
# A monitor whose path does not fit the 260-character buffers its siblings are named in: it says
# so and ends, and never loads a sibling from where a cut folder would point (the root of the
# current drive). Windows' process start refuses such a path; Wine's loader, given the program's
# Unix path, starts it, as an installation into so deep a folder would on Wine.
# Run by ctest with BIN (the build's binaries), WINE and WINEPREFIX; FAIL marks a failure.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/tools/steps.sh"
: "${BIN:?BIN must name the folder of the built binaries}" "${WINE:=wine}"

prefix=trlp
drive="$WINEPREFIX/drive_c"
deep="$drive/$prefix-deep/$(printf 'a%.0s' $(seq 1 120))/$(printf 'b%.0s' $(seq 1 120))"
log="$drive/ProgramData/${prefix}scan.log"
rm -rf "$drive/$prefix-deep" "$drive/${prefix}scx.dll" "$drive/${prefix}scx.dll.loaded" "$log"
mkdir -p "$deep"
for file in panelmon.exe panelmonr.dll devlink.dll cnf.dll; do cp "$BIN/kvab$file" "$deep/$prefix$file"; done
# What a cut folder names: the scan-session library at the root of the current drive.
cp "$BIN/planted.dll" "$drive/${prefix}scx.dll"

program="C:/${deep#"$drive"/}/${prefix}panelmon.exe"
echo "a monitor at a path of ${#program} characters"
(cd "$drive" && timeout 30 "$WINE" "$deep/${prefix}panelmon.exe" </dev/null >/dev/null 2>&1)
status=$?
expect "it ends at once, with 0" test "$status" -eq 0
expect "its log says why" grep -q "The program's folder is unknown or its path is longer than 259 characters" "$log"
expect "no library at the root of the drive was loaded" test ! -e "$drive/${prefix}scx.dll.loaded"
rm -rf "$drive/$prefix-deep" "$drive/${prefix}scx.dll" "$drive/${prefix}scx.dll.loaded" "$log"
[ "$failures" -eq 0 ]
