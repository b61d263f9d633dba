# Shell helpers shared by ./run and the tools, sourced: which architecture to build and run,
# Wine's loader and server for it, and the toolchain's installation on Debian.

say() { printf '==> %s\n' "$*"; }
warn() { printf '==> warning: %s\n' "$*" >&2; }

# A 96-byte static i386 ELF program that exits with 42. The kernel starts it only where 32-bit
# x86 code can execute (the compatibility mode 32-bit Wine needs too); elsewhere the exec fails
# with "Exec format error" or the program faults.
x86_probe_elf='\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000'\
'\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000'\
'\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000'\
'\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'\
'\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000'\
'\273\052\000\000\000\270\001\000\000\000\315\200'

# can_run_x86 DIR: whether this machine executes 32-bit x86 code (the probe is written to DIR,
# which must allow execution).
can_run_x86() {
    local dir=$1 probe status
    mkdir -p "$dir" 2>/dev/null || return 1
    probe="$dir/.x86-probe.$$"
    printf "$x86_probe_elf" >"$probe" 2>/dev/null && chmod +x "$probe" || { rm -f "$probe"; return 1; }
    ("$probe") >/dev/null 2>&1
    status=$?
    rm -f "$probe"
    [ "$status" -eq 42 ]
}

# resolve_arch REQUEST DIR: sets ARCH (x86 or x64) and ARCH_WHY from REQUEST (x86, x64, auto).
resolve_arch() {
    case "$1" in
        x86 | x64)
            ARCH=$1
            ARCH_WHY="asked for"
            ;;
        auto | '')
            if can_run_x86 "$2"; then
                ARCH=x86 ARCH_WHY="this machine can execute 32-bit x86 code"
            else
                ARCH=x64 ARCH_WHY="this machine cannot execute 32-bit x86 code"
            fi
            ;;
        *)
            echo "unknown architecture '$1': x86, x64 or auto" >&2
            return 2
            ;;
    esac
}

# The 64-bit loader by name: Debian's wine command takes the 32-bit loader whenever wine32 is
# installed, even on a machine that cannot execute it.
wine64_loader() {
    if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64
    else command -v wine64; fi
}
wine64_server() {
    if [ -x /usr/lib/wine/wineserver64 ]; then echo /usr/lib/wine/wineserver64
    else command -v wineserver; fi
}

# use_arch ARCH ROOT: the build folder ROOT/ARCH, its Wine prefix, the cross compiler's triple
# and toolchain file, and the Wine loader (WINE) and server (WINESERVER) that run its programs.
use_arch() {
    arch=$1
    build=$2/$1
    export WINEPREFIX=$build/wineprefix
    case "$arch" in
        x86)
            triple=i686-w64-mingw32 toolchain=mingw-i686.cmake
            WINE=wine WINESERVER=wineserver
            unset WINELOADER
            ;;
        x64)
            triple=x86_64-w64-mingw32 toolchain=mingw-x86_64.cmake
            WINE=$(wine64_loader || echo wine64) WINESERVER=$(wine64_server || echo wineserver)
            # Programs the 64-bit loader starts are started by the same loader.
            export WINELOADER=$WINE
            ;;
    esac
    export WINE WINESERVER
}

# wine_prefix_up: prepares $WINEPREFIX on first use and starts its server and background
# processes for $WINE and $WINESERVER. Wine's background processes inherit the first program's
# streams: they are started detached so a piped run never hangs, and the server stays up between
# test processes until "$WINESERVER" -k.
wine_prefix_up() {
    mkdir -p "$WINEPREFIX"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        say "preparing the Wine prefix $WINEPREFIX"
        "$WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
        # Windows without a display: the null graphics driver keeps hidden windows, messages and
        # timers. It is read when the server starts, so it is set before the server restarts.
        "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
        "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '新細明體' /d 'WenQuanYi Micro Hei' /f \
            </dev/null >/dev/null 2>&1
        "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
    fi
    "$WINESERVER" -p </dev/null >/dev/null 2>&1 &
    # Starts the prefix's background services with every stream detached.
    "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
    # The desktop process starts with the first window and lives while windows exist; started
    # from a test it would hold that test's output open for as long as other tests keep windows.
    # A windowed program started here, detached, starts it first and keeps it.
    "$WINE" notepad </dev/null >/dev/null 2>&1 &
    sleep 2
}

# check_toolchain "BUILD-ARCHS" "RUN-ARCHS": sets missing_tools and missing_pkgs (Debian
# packages) for building the given architectures and running the given ones on Wine.
check_toolchain() {
    missing_tools=() missing_pkgs=()
    local a
    lack() { missing_tools+=("$1"); shift; missing_pkgs+=("$@"); }
    for a in $1; do
        case "$a" in
            x86) command -v i686-w64-mingw32-g++-posix >/dev/null || lack i686-w64-mingw32-g++-posix g++-mingw-w64-i686 mingw-w64-i686-dev ;;
            x64) command -v x86_64-w64-mingw32-g++-posix >/dev/null || lack x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64 mingw-w64-x86-64-dev ;;
        esac
    done
    for a in $2; do
        case "$a" in
            x86) [ -x /usr/lib/wine/wine ] || lack "32-bit Wine (/usr/lib/wine/wine)" wine wine32:i386 wine64 ;;
            x64) wine64_loader >/dev/null || lack "64-bit Wine (/usr/lib/wine/wine64)" wine wine64 ;;
        esac
    done
    # Wine's printers are the CUPS server's queues: a server and a PDF driver where programs run,
    # and 32-bit Wine's own client library.
    if [ -n "$2" ]; then
        command -v cupsd >/dev/null || lack "a CUPS server" cups
        [ -f /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd ] || lack "a PDF printer driver" printer-driver-cups-pdf
        # The installer's users of other languages: their glibc locales, compiled by the test.
        [ -f /usr/share/i18n/locales/he_IL ] && [ -f /usr/share/i18n/locales/zh_TW ] || lack "glibc locale sources" locales
    fi
    case " $2 " in *" x86 "*) [ -e /usr/lib/i386-linux-gnu/libcups.so.2 ] || lack "32-bit CUPS client library" libcups2:i386 ;; esac
    command -v cmake >/dev/null || lack cmake cmake
    command -v ninja >/dev/null || lack ninja ninja-build
    # The installer package: built by dist and by the installer tests, read back by the tests.
    command -v wixl >/dev/null || lack wixl wixl
    { command -v msiinfo && command -v msibuild; } >/dev/null || lack "msiinfo and msibuild" msitools
    [ -f /usr/src/googletest/CMakeLists.txt ] || lack "GoogleTest sources" googletest
    command -v Xvfb >/dev/null || lack Xvfb xvfb xauth
    # The shipped binaries' checks and signatures: pefile for Debian's own interpreter, gdb to
    # find each binary's debug file, osslsigncode and openssl to sign and verify.
    /usr/bin/python3 -c 'import pefile' >/dev/null 2>&1 || lack "pefile for /usr/bin/python3" python3-pefile
    command -v gdb >/dev/null || lack gdb gdb
    command -v osslsigncode >/dev/null || lack osslsigncode osslsigncode
    command -v openssl >/dev/null || lack openssl openssl
    command -v clang++ >/dev/null || lack clang++ clang
    ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || lack "libFuzzer runtime" libclang-rt-dev
    [ -d /usr/share/fonts/truetype/wqy ] || lack "a CJK font" fonts-wqy-microhei
    return 0
}

# install_toolchain "BUILD-ARCHS" "RUN-ARCHS": installs what check_toolchain finds missing.
# A mirror caught mid-sync can fail one index of the refresh and leave the machine's libraries
# at versions the other indexes lack: the refresh's failure is a warning, and a failed install
# is tried once more with the base release pinned. Fails naming the tools still missing.
install_toolchain() {
    check_toolchain "$@"
    [ ${#missing_pkgs[@]} -eq 0 ] && return 0
    local pkgs codename
    mapfile -t pkgs < <(printf '%s\n' "${missing_pkgs[@]}" | awk '!seen[$0]++')
    say "installing ${pkgs[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "run as root, or install: ${pkgs[*]}" >&2
        return 1
    fi
    if printf '%s\n' "${pkgs[@]}" | grep -q ':i386$'; then
        dpkg --add-architecture i386
    fi
    if ! apt-get update -q; then
        warn "some package indexes could not be refreshed (a mirror mid-sync?); going on with the indexes at hand"
    fi
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${pkgs[@]}"; then
        codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
        if [ -n "$codename" ]; then
            warn "the installation failed; trying once more with the base release pinned (-t $codename)"
            DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -t "$codename" "${pkgs[@]}" || true
        fi
    fi
    check_toolchain "$@"
    if [ ${#missing_tools[@]} -gt 0 ]; then
        echo "the installation failed; still missing: ${missing_tools[*]}" >&2
        return 1
    fi
}

# The architecture a command runs on Wine ($primary, asked for as $request): x86 only where this
# machine can execute it.
check_run_arch() {
    if [ "$primary" = x86 ] && [ "$request" = x86 ] && ! can_run_x86 "$build_root"; then
        echo "x86 was asked for, but this machine cannot execute 32-bit x86 code: use --arch x64" >&2
        exit 1
    fi
}

# install_for_run "BUILD-ARCHS" "MORE-RUN-ARCHS": what building and running the primary
# architecture need. Where x86 was chosen on its own but 32-bit Wine can't be installed (the
# mirror's i386 side out of step with the machine's libraries), the run goes to x64, which
# needs no i386 package.
install_for_run() {
    check_run_arch
    if ! install_toolchain "$1" "$primary $2"; then
        [ "$request" = auto ] && [ "$primary" = x86 ] || exit 1
        warn "32-bit Wine could not be installed: running x64 instead"
        primary=x64 ARCH_WHY="32-bit Wine could not be installed here"
        install_toolchain "$1 x64" "x64" || exit 1
    fi
    say "$primary: $ARCH_WHY"
}

# A CUPS server for the tests and the demo, and one PDF queue per printer they name: Wine
# presents each queue as a printer of that name, so the simulated devices' models are queue
# names (no spaces). The server is started only when none answers and stopped only when it was
# started here; a server that can't be started fails the printer tests, which say why.
printer_queues="KV-Scan-100 KV-Duplex"
cups_pid=
cups_answers() { lpstat -r 2>/dev/null | grep -q 'is running'; }
printers_up() {
    if ! cups_answers; then
        cupsd -f </dev/null >/dev/null 2>&1 &
        cups_pid=$!
        for _ in $(seq 1 50); do cups_answers && break; sleep 0.1; done
        if ! cups_answers; then
            warn "the CUPS server could not be started: the tests that need a printer will fail"
            return 0
        fi
        say "started the CUPS server"
    fi
    local queue
    for queue in $printer_queues; do
        lpstat -p "$queue" >/dev/null 2>&1 ||
            lpadmin -p "$queue" -E -v cups-pdf:/ -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd >/dev/null 2>&1 ||
            warn "the printer queue $queue could not be added"
    done
}
printers_down() {
    [ -n "$cups_pid" ] || return 0
    kill "$cups_pid" 2>/dev/null
    wait "$cups_pid" 2>/dev/null
    cups_pid=
}
