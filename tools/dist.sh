#!/usr/bin/env bash
# One architecture's distribution from a build folder (./run dist, and the signing test):
#   tools/dist.sh BUILD OUT
# OUT gets the two deliverables and the installer package, OUT/lang/<Language> the list library
# of each language, OUT/dist-sim the stand-ins, the panel tool and a sample scenario; each
# binary's debug file (<binary>.debug, which debuggers find by the name the binary carries) lies
# beside it. With a certificate configured every shipped binary is signed before it goes into
# the package, and then the package:
#   SIGN_PKCS12          a PKCS#12 file holding the code-signing certificate, its chain and key
#   SIGN_PASSWORD_FILE   a file holding that file's password (optional)
#   SIGN_TIMESTAMP_URL   an RFC 3161 timestamp server (optional)
# Prints each file's size.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: dist.sh BUILD OUT}
out=${2:?usage: dist.sh BUILD OUT}
source "$here/tools/platform.sh"
prefix=$(sed -n 's/^PRODUCT_PREFIX:STRING=//p' "$build/CMakeCache.txt")

rm -rf "$out"
mkdir -p "$out/dist-sim"
out=$(cd "$out" && pwd)  # the package's links point here
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
while read -r name; do
    case "$name" in
        "${prefix}panelmon.exe" | "${prefix}appmgr.dll") folder=$out ;;
        *) folder=$out/dist-sim ;;
    esac
    cp "$build/bin/$name" "$build/bin/$name.debug" "$folder/"
    ln -s "$folder/$name" "$stage/$name"  # the package takes the copies, signed or not
done <"$build/shipped.txt"
cp "$here/tools/sample.scenario" "$out/dist-sim/${prefix}devlink.scenario"
# The list library in every language, where the package takes them from.
languages=$(sed -n "s/^languages='\(.*\)'$/\1/p" "$build/installer/package.env")
built=()
for entry in $languages; do
    language=${entry%%:*} name=${prefix}appmgr.dll
    library=$build/bin/lang/$language/$name debug=$build/bin/lang/$language/$name.debug
    mkdir -p "$out/lang/$language" "$stage/lang/$language"
    cp "$library" "$debug" "$out/lang/$language/"
    ln -s "$out/lang/$language/$name" "$stage/lang/$language/$name"
    built+=("$language")
done

sign() { # sign FILE: signs the file in place
    local log args=(-pkcs12 "$SIGN_PKCS12" -h sha256 -n "$product")
    [ -n "${SIGN_PASSWORD_FILE:-}" ] && args+=(-readpass "$SIGN_PASSWORD_FILE")
    [ -n "${SIGN_TIMESTAMP_URL:-}" ] && args+=(-ts "$SIGN_TIMESTAMP_URL")
    log=$(osslsigncode sign "${args[@]}" -in "$1" -out "$1.signed" 2>&1) ||
        { echo "$log" >&2; rm -f "$1.signed"; return 1; }
    mv "$1.signed" "$1"
}
product=$(sed -n "s/^product='\(.*\)'$/\1/p" "$build/installer/package.env")
signing=${SIGN_PKCS12:+yes}
if [ -n "$signing" ]; then
    find "$stage" -type l | while read -r file; do sign "$(readlink "$file")"; done
else
    say "not signed: no certificate configured (SIGN_PKCS12; see the README)"
fi
package=$(PACKAGE_BINARIES=$stage bash "$here/installer/build-msi.sh" "$build/installer/package.env" "$out")
if [ -n "$signing" ]; then
    sign "$package"
    say "signed every binary and the package with $SIGN_PKCS12"
fi

say "${out#"$PWD"/}: the manager's languages built: ${built[*]} (lang/<Language>/; the package installs the user's)"
say "${out#"$PWD"/}: bytes of each file"
(cd "$out" && find . -type f -printf '%P\n' | sort | while read -r file; do
    printf '%12d  %s\n' "$(stat -c %s "$file")" "$file"
done)
