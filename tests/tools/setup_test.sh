#!/usr/bin/env bash
# The toolchain installation against a mirror caught mid-sync, without the network: a fake
# apt-get on PATH fails the index refresh with 100 and the first install, as such a mirror does.
# The run goes on, the second install is the one with the base release pinned, and a failure
# that stays names the tools still missing; an x86 run that can't get 32-bit Wine goes to x64.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/tools/platform.sh"

fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
export FAKE="$fake"
cat >"$fake/apt-get" <<'SH'
#!/bin/sh
echo "apt-get $*" >>"$FAKE/calls"
case "$1" in update) exit 100 ;; esac
case " $* " in *" -t "*) [ -f "$FAKE/pinned-fails" ] && exit 100; touch "$FAKE/installed"; exit 0 ;; esac
exit 100
SH
cat >"$fake/dpkg" <<'SH'
#!/bin/sh
echo "dpkg $*" >>"$FAKE/calls"
SH
chmod +x "$fake/apt-get" "$fake/dpkg"
PATH="$fake:$PATH"

# The machine lacks one tool until an install succeeds; root is assumed.
check_toolchain() {
    missing_tools=() missing_pkgs=()
    if [ ! -f "$FAKE/installed" ]; then missing_tools=(fake-compiler); missing_pkgs=(fake-compiler $extra); fi
}
id() { echo 0; }

failures=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "ok    $1"; else echo "FAIL  $1"; failures=$((failures + 1)); fi
}
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")

# 1. An x64-only set-up: no multiarch; the refresh fails, the first install fails, the pinned one works.
extra=""
install_toolchain "x64" "x64" >"$fake/out" 2>&1
status=$?
check "the set-up goes on and succeeds" test "$status" -eq 0
check "the refresh's failure is a warning" grep -q 'warning: some package indexes could not be refreshed' "$fake/out"
check "update, plain install, then pinned install" diff <(cat "$fake/calls") <(printf '%s\n' \
    "apt-get update -q" \
    "apt-get install -y -q --no-install-recommends fake-compiler" \
    "apt-get install -y -q --no-install-recommends -t $codename fake-compiler")
check "no i386 multiarch without an i386 package" bash -c "! grep -q 'add-architecture' '$fake/calls'"

# 2. With an i386 package multiarch is added first; a pinned install that fails too ends the run
#    naming the tool still missing.
rm -f "$fake/calls" "$fake/installed"
touch "$fake/pinned-fails"
extra="wine32:i386"
install_toolchain "x86" "x86" >"$fake/out" 2>&1
status=$?
check "a failure that stays fails the set-up" test "$status" -ne 0
check "the failure names the missing tool" grep -q 'still missing: fake-compiler' "$fake/out"
check "multiarch is added before the refresh" test "$(head -n 1 "$fake/calls")" = "dpkg --add-architecture i386"
check "the pinned install was tried" grep -q -- "-t $codename fake-compiler wine32:i386" "$fake/calls"

# 3. Nothing missing: nothing runs.
rm -f "$fake/calls" "$fake/pinned-fails"
touch "$fake/installed"
install_toolchain "x86 x64" "x86" >"$fake/out" 2>&1
check "a complete machine installs nothing" test ! -e "$fake/calls"

# 4. x86 chosen on its own, but 32-bit Wine can't be installed: the run goes to x64 and installs
#    only what x64 needs.
rm -f "$fake/calls" "$fake/installed"
check_toolchain() {
    missing_tools=() missing_pkgs=()
    case " $2 " in *" x86 "*) missing_tools=("32-bit Wine"); missing_pkgs=(wine32:i386) ;; esac
}
request=auto primary=x86 ARCH_WHY="this machine can execute 32-bit x86 code" build_root=$fake
(install_for_run "x86 x64" "x64" && echo "primary=$primary") >"$fake/out" 2>&1
check "the run goes on on x64" grep -q '^primary=x64$' "$fake/out"
check "and says why" grep -q 'x64: 32-bit Wine could not be installed here' "$fake/out"
(request=x86; install_for_run x86 "") >"$fake/out" 2>&1
check "x86 asked for by name does not fall back" test $? -ne 0

[ "$failures" -eq 0 ]
