#!/usr/bin/env bash
# The whole road from the operator panel to the started programs, on Wine, for a person to read.
# Called by "./run demo" with BIN (the built binaries), WINEPREFIX, WINE (the loader) and ARCH
# (x86 or x64) set and Wine running.
#   tools/demo.sh [--keep] [--check] [--prefix ABCD]
#     --keep    prepare, create the list and start the monitor, then leave it running for the
#               panel tool instead of playing the script
#     --check   quiet: print one line per step and fail when a step leaves no artefact
set -uo pipefail

keep=0 check=0 prefix=kvab
while [ $# -gt 0 ]; do
    case "$1" in
        --keep) keep=1 ;;
        --check) check=1 ;;
        --prefix) prefix=$2; shift ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
: "${BIN:?BIN must name the folder of the built binaries}"
# The Wine loader and the registry view of the build's architecture: a 64-bit build keeps its
# list and finds applications in the 64-bit view.
: "${WINE:=wine}" "${ARCH:=x86}"
if [ "$ARCH" = x64 ]; then view=/reg:64; else view=/reg:32; fi

drive="$WINEPREFIX/drive_c"
demo="$drive/KV Scan Demo"          # C:\KV Scan Demo: the monitor's folder, with a space in it
apps="$drive/Demo Apps"             # sample programs for discovery to find
log="$drive/ProgramData/${prefix}scan.log"

source "$(dirname "${BASH_SOURCE[0]}")/steps.sh"
panel() { w "$demo/${prefix}panel.exe" "$@"; }
title() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
show() { [ "$check" = 1 ] || printf '%s\n' "$@"; }
indent() { if [ "$check" = 1 ]; then cat >/dev/null; else sed 's/^/    /'; fi; }
log_mark() { mark=$( [ -f "$log" ] && wc -c < "$log" || echo 0); }
new_log() { # the log lines written since log_mark, without the trace lines
    [ -f "$log" ] || return 0
    tail -c +$((mark + 1)) "$log" | tr -d '\r' | grep -v '[+-]CMonitor\|[+-]CScanCaps' | cut -c12- || true
}
last_record() { # the newest record of a recorder journal: command line and job file
    awk 'BEGIN{RS="end\r?\n"} NF{r=$0} END{printf "%s", r}' "$1" | tr -d '\r'
}

# 1. A prefix with the system, its stand-ins and two sample programs registered.
title "Preparing the Wine prefix: the monitor in C:\\KV Scan Demo, two sample applications"
rm -rf "$demo" "$apps"
mkdir -p "$demo" "$apps/Photo Edit" "$apps/Paint"
for file in panelmon.exe appmgr.dll devlink.dll scx.dll capq.dll cnf.dll panelmonr.dll lsqx.exe panel.exe; do
    cp "$BIN/kvab$file" "$demo/$prefix$file"
done
cp "$BIN/PhotoDock.exe" "$BIN/photodesk.exe" "$BIN/QuickPrn.exe" "$demo/"
# The model names the device's printer: the CUPS queue ./run adds, which Wine presents as a
# printer; its driver would have stored the friendly name the duplex button's key is named by.
printer=KV-Scan-100 friendly="KV Scan 100"
printf 'device port=USB001 transport=USB1 model=%s hids=1\n' "$printer" > "$demo/${prefix}devlink.scenario"
cp "$BIN/kvablsqx.exe" "$apps/Photo Edit/pixedit.EXE"
cp "$BIN/kvablsqx.exe" "$apps/Paint/MSPAINT.EXE"
app_paths='HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths'
w reg add "$app_paths\\pixedit.EXE" /ve /d 'C:\Demo Apps\Photo Edit\pixedit.EXE' /f $view >/dev/null
w reg add "$app_paths\\MSPAINT.EXE" /ve /d 'C:\Demo Apps\Paint\MSPAINT.EXE' /f $view >/dev/null
logger='HKLM\Software\Kelvara\KV Model\Scan\logger'
for value in startLog:1 Clocktime_In_Header:1; do
    w reg add "$logger" /v "${value%%:*}" /t REG_DWORD /d "${value#*:}" /f >/dev/null
done
rm -f "$log"
duplex_key="HKLM\\Software\\Kelvara\\IjPrtSettings\\$friendly"
w reg delete "$duplex_key" /f $view >/dev/null
show "  $(cd "$demo" && ls | tr '\n' ' ')" "  logging on: $logger\\startLog = 1"
if w "$BIN/kvabprinterdata.exe" "$printer" OriginalFriendlyName "$friendly" >/dev/null; then
    show "  the printer $printer on Wine's spooler, its OriginalFriendlyName \"$friendly\""
else
    bad "the printer $printer is on Wine's spooler (is the CUPS server running?)"
fi

# 2. The installation run creates the list and ends: it runs with an administrator's rights, which
#    no monitor may keep. The monitor starts as the logon starts it, against the simulated device.
title "Installation run: ${prefix}panelmon.exe -a stores the list and ends; the logon starts the monitor"
w reg delete 'HKLM\Software\KelvaraLaser\App List Manager' /f $view >/dev/null
log_mark
expect "the installation run ends" timeout 60 "$WINE" "$demo/${prefix}panelmon.exe" -a </dev/null >/dev/null 2>&1
"$WINE" "$demo/${prefix}panelmon.exe" </dev/null >/dev/null 2>&1 &
expect "the monitor answers through the simulator" wait_for 30 bash -c "'$WINE' '$demo/${prefix}panel.exe' ping </dev/null >/dev/null 2>&1"
stored=$(w reg query 'HKLM\Software\KelvaraLaser\App List Manager' /v AppList $view)
names=$(printf '%s' "$stored" | grep -o '<FRIENDLY_NAME>[^<]*' | sed 's/<FRIENDLY_NAME>/    /')
show "  HKLM\\Software\\KelvaraLaser\\App List Manager\\AppList holds:" "$names"
expect "the list was stored with the sample applications" grep -q 'pixedit.EXE' <<<"$stored"
wait_for 10 grep -q 'registerForNotificationsHid successfully' "$log" || true
new_log | grep 'DCS\|Opening\|register' | indent

if [ "$keep" = 1 ]; then
    title "The monitor keeps running. Press buttons with the panel tool:"
    show "  WINEPREFIX=$WINEPREFIX $WINE \"$demo/${prefix}panel.exe\" scan --app 3 --color" \
         "  (list, copy --count 2, card, duplex on, cancel, ...; --help lists them)" \
         "  log:      $log" \
         "  programs: $demo/<program>.journal" \
         "  stop:     WINEPREFIX=$WINEPREFIX $WINE \"$demo/${prefix}panelmon.exe\" -u"
    exit 0
fi

# 4. The scripted panel session.
step() { # step TITLE PANEL-ARGS...
    local what=$1; shift
    title "$what"
    log_mark
    show "  panel: $(panel "$@" | head -n 1)"
}
lsqx="$demo/${prefix}lsqx.journal"

step "The panel asks for the scan-to list" list
show "  the panel received, in panel order (index from 1):"
grep '^addName\|^setDefault' "$demo/${prefix}scx.journal" 2>/dev/null | sed 's/ length=.*//; s/addName name=//; s/setDefault name=/default: /' |
    awk '/^default:/{print "    " $0; next} {printf "    %d  %s\n", ++n, $0}' | { [ "$check" = 1 ] && cat >/dev/null || cat; }
expect "the names went to the panel" grep -q 'sendList' "$demo/${prefix}scx.journal"
new_log | grep 'Send ScanToList' | indent

before=$(records "$lsqx")
step "Scan to the first application of the list (panel index 3), colour" scan --app 3 --color
expect "the light-scan program was started with a job file" wait_for 10 more_records "$lsqx" "$before"
last_record "$lsqx" | indent
new_log | grep 'Scan\.\|LaunchProgram =>"' | indent

before=$(records "$lsqx")
step "Scan to e-mail (panel index 1), grayscale" scan --app 1 --gray
expect "an e-mail job was written and started" wait_for 10 more_records "$lsqx" "$before"
last_record "$lsqx" | indent

before=$(records "$lsqx")
step "Colour copy of 2" copy --count 2
expect "a printer job for 2 copies was written and started" wait_for 10 bash -c "test \$(grep -c '^end' '$lsqx') -gt $before && grep -q '<NUMBER_OF_COPIES>2<' '$lsqx'"
last_record "$lsqx" | indent
expect "the copy job names the device's printer" grep -q "<PRINTER_NAME>$printer</PRINTER_NAME>" "$lsqx"

step "A memory card is inserted" card
expect "the photo/card program got the card report" wait_for 10 test -s "$demo/PhotoDock.journal"
last_record "$demo/PhotoDock.journal" | indent

step "Auto-print of 3 photos from the card" autoprint --files 3
expect "the auto-print program was started for the device's printer" wait_for 10 grep -qs "/printer=$printer" "$demo/QuickPrn.journal"
last_record "$demo/QuickPrn.journal" | indent

duplex_state() { w reg query "$duplex_key" /v DuplexerButtonStatus $view | sed -n 's/.*REG_DWORD *//p'; }
for state in on off; do
    step "The duplex button: $state" duplex "$state"
    show "  $duplex_key\\DuplexerButtonStatus = $(duplex_state)"
    expected=0x1; [ "$state" = off ] && expected=0x0
    expect "the duplex state $state was stored under the printer's friendly name" test "$(duplex_state)" = "$expected"
done

step "Cancel on the panel" cancel
expect "the port's session was ended" wait_for 5 grep -q 'Ending Session for Port: USB001' "$log"
new_log | grep 'Ending Session' | indent

# 5. Stop.
title "Stopping the monitor: ${prefix}panelmon.exe -u"
w "$demo/${prefix}panelmon.exe" -u >/dev/null
expect "the monitor has ended" wait_for 10 bash -c "! '$WINE' '$demo/${prefix}panel.exe' ping </dev/null >/dev/null 2>&1"
w reg delete "$app_paths\\pixedit.EXE" /f $view >/dev/null
w reg delete "$app_paths\\MSPAINT.EXE" /f $view >/dev/null

printf '\n'
if [ "$failures" -eq 0 ]; then
    echo "The whole road worked. Log: $log; the programs' journals: $demo"
else
    echo "$failures step(s) failed. Log: $log"
fi
[ "$failures" -eq 0 ]
