#!/usr/bin/env bash
# The package's life on Wine, with Wine's own msiexec, in a Wine prefix of its own that the test
# makes, starts and stops: a silent installation with the simulation kit into a folder with a
# space in its name, which stores the list and leaves no process behind; the monitor started as
# the logon starts it, a scan from the panel tool to the light-scan program; the upgrade to a newer
# package, an older package refused, the silent removal, and an interactive installation from an
# elevated process, which starts none.
# Run by ctest with PACKAGE_SETTINGS (the build's installer/package.env); one line a step, FAIL
# for a step that fails, and the package's size and the installation's times as figures.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/tools/platform.sh"
source "$here/tools/steps.sh"
: "${PACKAGE_SETTINGS:?PACKAGE_SETTINGS must name installer/package.env in a build folder}"
prefix='' version='' arch='' model='' product='' list_key='' bin=''
source "$PACKAGE_SETTINGS"

source "$here/tests/installer/prefix.sh"
wine_test_prefix "$(dirname "$PACKAGE_SETTINGS")/lifecycle"

IFS=. read -r major minor build_number <<<"$version"
newer="$major.$minor.$((build_number + 1))"
first=$(bash "$here/installer/build-msi.sh" "$PACKAGE_SETTINGS" "$work") || exit 1
second=$(bash "$here/installer/build-msi.sh" "$PACKAGE_SETTINGS" "$work" "$newer") || exit 1
package_size=$(stat -c %s "$first")
wine_prefix_up >/dev/null

dir="$WINEPREFIX/drive_c/KV Scan Kit"
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

msiexec() { # msiexec ARGS...: Windows Installer's result; the seconds it took go to $took
    local start status
    start=$(date +%s.%N)
    "$WINE" msiexec "$@" </dev/null >/dev/null 2>&1
    status=$?
    took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
    return $status
}
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
monitors() { # the process ids of the monitors running in this prefix
    local p
    for p in /proc/[0-9]*; do
        { tr '\0' ' ' <"$p/cmdline"; } 2>/dev/null | grep -qF "\\${prefix}panelmon.exe" || continue
        { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "${p#/proc/}"
    done
}
one_monitor() { [ "$(monitors | wc -l)" -eq 1 ]; }
no_monitor() { [ -z "$(monitors)" ]; }
answers() { "$WINE" "$dir/${prefix}panel.exe" ping </dev/null >/dev/null 2>&1; }
run_value() { w reg query "$run_key" /v "${prefix}panelmon" $view | sed -n "s/^ *${prefix}panelmon *REG_SZ *//p"; }
list_holds() { w reg query "HKLM\\$list_key" /v AppList $view | grep -qF -- "$1"; }
shortcut() { find "$WINEPREFIX/drive_c/users" "$WINEPREFIX/drive_c/ProgramData" -name "$model Application List.lnk"; }
opens_manager() { # the shortcut names the monitor and its "-s"
    local link text
    link=$(shortcut)
    [ -n "$link" ] && text=$(tr -d '\0' <"$link") && grep -qF "${prefix}panelmon.exe" <<<"$text" && grep -qF -- "-s" <<<"$text"
}
installer_processes() { # the processes of this prefix that are not Wine's own services
    local p
    for p in /proc/[0-9]*; do
        { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
        { tr '\0' ' ' <"$p/cmdline"; } 2>/dev/null | grep -qiE 'msiexec|panelmon|kvab' && echo "${p#/proc/}"
    done
}
nothing_left() { [ -z "$(installer_processes)" ]; }
logon() { # starts the monitor as the Run value does at logon
    local command
    command=$(run_value | tr -d '"')
    "$WINE" "$command" </dev/null >/dev/null 2>&1 &
}
installed() { # the versions of this product in the installed programs, one a line
    w reg query "$uninstall_key" /s $view |
        awk -v name="$product" '/^HKEY/ { ours = 0 } $1 == "DisplayName" { ours = index($0, name) > 0 }
                                ours && $1 == "DisplayVersion" { print $3 }'
}
files_in_place() {
    local file
    for file in "${prefix}panelmon.exe" "${prefix}appmgr.dll" "${prefix}devlink.dll" "${prefix}devlink.scenario" \
        "${prefix}panelmonr.dll" "${prefix}lsqx.exe" "${prefix}panel.exe"; do
        [ -f "$dir/$file" ] || return 1
    done
}

echo "installation: silent, the simulation kit, into C:\\KV Scan Kit"
msiexec /i "$(windows_path "$first")" /qn 'INSTALLDIR=C:\KV Scan Kit' ADDLOCAL=ALL
expect "msiexec succeeded" test $? -eq 0
install_time=$took
expect "the files are in the folder" files_in_place
expect "the Run value starts the monitor by its quoted path" test "$(run_value)" = "\"C:\\KV Scan Kit\\${prefix}panelmon.exe\""
expect "the Start-menu shortcut opens the manager" opens_manager
expect "the list was stored" list_holds '<APP>'
expect "no process of the installation is left, and no monitor runs with its rights" wait_for 10 nothing_left
expect "the product is installed once, at $version" test "$(installed)" = "$version"

echo "the logon starts the monitor, and a scan is pressed on the panel"
logon
expect "the monitor answers the panel tool" wait_for 30 answers
expect "one monitor runs" one_monitor
"$WINE" "$dir/${prefix}panel.exe" scan --app 1 </dev/null >/dev/null 2>&1
expect "the light-scan program was started with a job file" wait_for 10 more_records "$dir/${prefix}lsqx.journal" 0

echo "upgrade to $newer, silent, with no folder given"
# The user's own list: an upgrade must keep it as it stands.
w reg add "HKLM\\$list_key" /v AppList /d 'the list as the user left it' /f $view >/dev/null
msiexec /i "$(windows_path "$second")" /qn ADDLOCAL=ALL
expect "msiexec succeeded" test $? -eq 0
upgrade_time=$took
expect "the files are in the same folder" files_in_place
expect "one installed product, at $newer" test "$(installed)" = "$newer"
expect "the older monitor was closed, and a silent upgrade starts none" wait_for 10 nothing_left
expect "the stored list was kept" list_holds 'the list as the user left it'
logon
expect "the new monitor answers the panel tool after the logon" wait_for 30 answers

echo "the older package over the newer one"
msiexec /i "$(windows_path "$first")" /qn
expect "msiexec refused it" test $? -ne 0
expect "the newer product stays" test "$(installed)" = "$newer"

echo "removal, silent"
msiexec /x "$(windows_path "$second")" /qn
expect "msiexec succeeded" test $? -eq 0
remove_time=$took
expect "no monitor runs" wait_for 10 no_monitor
expect "no file is left: the folder is gone" test ! -e "$dir"
expect "the Run value is gone" test -z "$(run_value)"
expect "the shortcut is gone" test -z "$(shortcut)"
expect "the product is gone from the installed programs" test -z "$(installed)"
expect "the stored list stays: it is the user's" list_holds 'the list as the user left it'

echo "an interactive installation (the reduced user interface) from an elevated process"
# Wine runs every installation elevated: the installation's own process must then start nothing,
# as a silent one starts nothing (an unelevated one, which Wine can't make, starts the monitor).
msiexec /i "$(windows_path "$first")" /qr 'INSTALLDIR=C:\KV Scan Kit' ADDLOCAL=ALL
expect "msiexec succeeded" test $? -eq 0
expect "no monitor was started with the installation's rights" wait_for 10 nothing_left
expect "the stored list was kept" list_holds 'the list as the user left it'
msiexec /x "$(windows_path "$first")" /qn
expect "msiexec removed it" test $? -eq 0

printf '[ figures  ] %s package %s bytes; install %s s, upgrade %s s, removal %s s\n' \
    "$arch" "$package_size" "$install_time" "$upgrade_time" "$remove_time"
[ "$failures" -eq 0 ]
