#!/usr/bin/env bash
# The distribution of this build signed with a throwaway certificate authority's code-signing
# certificate: every shipped binary and the package verify against that authority, so do the
# binaries inside the package, a changed byte fails verification, each debug file lies beside
# its binary, and every file's size is printed; so for the list library of every language, which
# it names. Unconfigured, nothing is signed and it says so.
# Run by ctest with BUILD (the build folder) and LANGUAGES; FAIL marks a failure.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/tools/steps.sh"
: "${BUILD:?BUILD must name a build folder}"
work="$BUILD/signed-dist"
rm -rf "$work"
mkdir -p "$work/keys"
cd "$work/keys" || exit 1

quiet() { "$@" >/dev/null 2>&1; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway Test Authority" -keyout ca.key -out ca.pem \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
quiet openssl req -newkey rsa:2048 -nodes -subj "/CN=Throwaway Code Signer" -keyout signer.key -out signer.csr
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
quiet openssl x509 -req -days 2 -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -extfile signer.ext -out signer.pem
echo "throwaway password" >password
quiet openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -passout file:password -out signer.p12
expect "a throwaway authority and signing certificate" test -s signer.p12

dist="$work/dist"
SIGN_PKCS12=$work/keys/signer.p12 SIGN_PASSWORD_FILE=$work/keys/password bash "$here/tools/dist.sh" "$BUILD" "$dist" \
    >"$work/dist.log" 2>&1
expect "the signed distribution is made" test $? -eq 0
cat "$work/dist.log"
verifies() { quiet osslsigncode verify -CAfile "$work/keys/ca.pem" -in "$1"; }
fails() { ! verifies "$1"; }

package=$(ls "$dist"/*.msi)
expect "the package verifies" verifies "$package"
while read -r name; do
    file=$(ls "$dist/$name" "$dist/dist-sim/$name" 2>/dev/null)
    expect "$name verifies" verifies "$file"
    expect "  its debug file lies beside it" test -s "$file.debug"
    expect "  its size is printed" grep -qE "^ *[0-9]+  (dist-sim/)?$name\$" "$work/dist.log"
done <"$BUILD/shipped.txt"
expect "the package's size is printed" grep -qE "^ *[0-9]+  ${package##*/}\$" "$work/dist.log"
for language in $LANGUAGES; do
    file=$dist/lang/$language/kvabappmgr.dll
    expect "the $language list library verifies" verifies "$file"
    expect "  its debug file lies beside it" test -s "$file.debug"
    expect "  its size is printed" grep -qE "^ *[0-9]+  lang/$language/kvabappmgr.dll\$" "$work/dist.log"
done
expect "the languages built are named" grep -qF "languages built: $LANGUAGES " "$work/dist.log"

mkdir "$work/unpacked"
quiet msiextract -C "$work/unpacked" "$package"
inside=$(find "$work/unpacked" -name '*panelmon.exe' | head -n 1)
expect "the package holds the signed monitor" verifies "$inside"
expect "  and a signed list library" verifies "$(find "$work/unpacked" -name '*appmgr.dll' | head -n 1)"

tampered="$work/tampered.dll"
cp "$dist/$(sed -n 2p "$BUILD/shipped.txt")" "$tampered"
printf 'X' | dd of="$tampered" bs=1 seek=4200 conv=notrunc status=none  # a byte of the code
expect "a changed byte fails verification" fails "$tampered"
cp "$package" "$work/tampered.msi"
printf 'X' | dd of="$work/tampered.msi" bs=1 seek=$(($(stat -c %s "$package") / 2)) conv=notrunc status=none
expect "a changed byte of the package too" fails "$work/tampered.msi"

bash "$here/tools/dist.sh" "$BUILD" "$work/plain" >"$work/plain.log" 2>&1
expect "unconfigured, it says nothing is signed" grep -q 'not signed' "$work/plain.log"
expect "  and the monitor carries no signature" fails "$work/plain/${inside##*/}"

[ "$failures" -eq 0 ] && rm -rf "$work"
[ "$failures" -eq 0 ]
