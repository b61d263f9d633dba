#!/usr/bin/env bash
# Screenshots of the manager's dialogs 101-104 in every language into
# docs/manager-<Language>-101.png ... docs/manager-<Language>-104.png.
#   tools/screenshots/screenshots.sh [--arch x86|x64|auto] [Language...]   (BUILD_DIR picks the build root)
# Builds what is missing, then runs the dialogs in a Wine virtual desktop on a private X server
# with its own Wine prefix (drawn windows need a real graphics driver, not the tests' null one).
# Needs Xvfb and ImageMagick's convert; as root on Debian it installs them when missing.
set -euo pipefail

here=$(cd "$(dirname "$0")/../.." && pwd)
build_root=${BUILD_DIR:-$here/build}
source "$here/tools/platform.sh"
request=${PANELMON_ARCH:-auto}
if [ "${1:-}" = --arch ]; then request=${2:?--arch takes x86, x64 or auto}; shift 2; fi
mkdir -p "$build_root"
resolve_arch "$request" "$build_root"
say "$ARCH: $ARCH_WHY"
use_arch "$ARCH" "$build_root"
shots=$build/screenshots
display=${SHOTS_DISPLAY:-:93}
export WINEPREFIX=$shots/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

missing=()
command -v Xvfb >/dev/null || missing+=(xvfb)
{ command -v convert && command -v identify; } >/dev/null || missing+=(imagemagick)
[ -d /usr/share/fonts/truetype/wqy ] || missing+=(fonts-wqy-microhei)
[ -f /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ] || missing+=(fonts-dejavu-core)  # Hebrew
[ -f /usr/share/wine/fonts/marlett.ttf ] || missing+=(fonts-wine)  # Marlett, for the caption buttons
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then echo "install: ${missing[*]}" >&2; exit 1; fi
    apt-get update -q || warn "some package indexes could not be refreshed; going on with the indexes at hand"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

[ -d "$build/bin/lang" ] || BUILD_DIR=$build_root "$here/run" build --arch "$ARCH"
languages=("$@")
[ ${#languages[@]} -gt 0 ] || mapfile -t languages < <(cd "$build/bin/lang" && ls)

say "building the dialog driver"
mkdir -p "$shots"
"$triple-g++-posix" -std=c++17 -O1 -Wall -Wextra -municode -DUNICODE -D_UNICODE -static \
    -I"$here/applist/library" "$here/tools/screenshots/ManagerShots.cpp" "$here/applist/library/AppEntry.cpp" \
    -o "$shots/kvabshots.exe" -lcomctl32 -lgdi32

say "starting the X server $display"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
cleanup() {
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
sleep 1

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "preparing the Wine prefix $WINEPREFIX"
    "$WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
    # Wine has no 新細明體: the dialogs' font maps to an installed CJK face.
    "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '新細明體' /d 'WenQuanYi Micro Hei' /f \
        </dev/null >/dev/null 2>&1
    # Marlett draws the caption buttons; this Wine reads it from the prefix's font folder only.
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    # Captions and message boxes use Tahoma, which has no Chinese: it falls back to the same face.
    for face in Tahoma 'Microsoft Sans Serif' 'MS Shell Dlg'; do
        "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
            /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1
    done
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
fi

mkdir -p "$here/docs"
status=0
for language in "${languages[@]}"; do
    work="$WINEPREFIX/drive_c/shots"
    rm -rf "$work" && mkdir -p "$work"
    cp "$build/bin/lang/$language/kvabappmgr.dll" "$shots/kvabshots.exe" "$work/"

    # Nor has Tahoma Hebrew, which a Hebrew Windows draws in a face of its own: here one that has it.
    for face in Tahoma 'Microsoft Sans Serif' 'MS Shell Dlg'; do
        if [ "$language" = Hebrew ]; then
            "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d 'DejaVu Sans' /f </dev/null >/dev/null 2>&1
        else
            "$WINE" reg delete 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /f </dev/null >/dev/null 2>&1 || true
        fi
    done
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true

    say "opening the dialogs ($language)"
    "$WINE" explorer /desktop=shots,800x560 'C:\shots\kvabshots.exe' </dev/null >"$shots/driver-$language.log" 2>&1 &
    driver=$!
    for id in 101 102 103 104; do
        shot="$work/shot-$id.bmp"
        for _ in $(seq 1 600); do [ -f "$shot" ] && break; sleep 0.1; done
        if [ ! -f "$shot" ]; then
            echo "dialog $id ($language) did not come up; see $shots/driver-$language.log" >&2
            status=1
            break
        fi
        png="docs/manager-$language-$id.png"
        convert "bmp:$shot" "$here/$png"
        say "$png ($(identify -format '%wx%h' "$here/$png"))"
    done
    for _ in $(seq 1 100); do kill -0 "$driver" 2>/dev/null || break; sleep 0.1; done
    kill "$driver" 2>/dev/null || true
    tr -d '\r' < "$shots/driver-$language.log" | grep '^shots:' || true
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
done
exit $status
