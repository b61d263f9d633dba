#!/usr/bin/env bash
# The package installs the list library of the installing user's language, on Wine with Wine's
# own msiexec in a prefix of its own: users are told apart by their Unix locale, from which Wine
# takes the user's language (UserLanguageID). The installed library's language is read from its
# version resource. Hebrew and Traditional-Chinese users get their sets, a user of a language
# no set serves gets English; an upgrade or a removal by a user of another language keeps or
# finds the installed set; MANAGERLANGUAGE, in any case, chooses over the user's language and
# an unknown value is ignored.
# Run by ctest with PACKAGE_SETTINGS (the build's installer/package.env); FAIL marks a failure.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/tools/platform.sh"
source "$here/tools/steps.sh"
: "${PACKAGE_SETTINGS:?PACKAGE_SETTINGS must name installer/package.env in a build folder}"
prefix='' version='' arch='' brand='' model=''
source "$PACKAGE_SETTINGS"

source "$here/tests/installer/prefix.sh"
wine_test_prefix "$(dirname "$PACKAGE_SETTINGS")/languages"

# The users' locales, compiled once a build into a private folder (LOCPATH): Wine's user language
# follows the locale only where glibc has it.
locales="$(dirname "$PACKAGE_SETTINGS")/locales"
mkdir -p "$locales"
for locale in he_IL zh_TW de_DE en_US; do
    [ -d "$locales/$locale.UTF-8" ] || localedef -i "$locale" -f UTF-8 "$locales/$locale.UTF-8" >/dev/null 2>&1 ||
        { echo "FAIL the locale $locale.UTF-8 can't be made (Debian's locales package)"; exit 1; }
done
export LOCPATH=$locales

IFS=. read -r major minor build_number <<<"$version"
first=$(bash "$here/installer/build-msi.sh" "$PACKAGE_SETTINGS" "$work") || exit 1
second=$(bash "$here/installer/build-msi.sh" "$PACKAGE_SETTINGS" "$work" "$major.$minor.$((build_number + 1))") || exit 1
LC_ALL=en_US.UTF-8 wine_prefix_up >/dev/null

dir="$WINEPREFIX/drive_c/KV Languages"
settings_key="HKLM\\Software\\$brand\\$model\\Panel Monitor"
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
as() { # as LOCALE msiexec ARGS...: Windows Installer's result, run by a user of that locale
    local locale=$1; shift
    LC_ALL=$locale.UTF-8 "$WINE" "$@" </dev/null >/dev/null 2>&1
}
install() { as "$1" msiexec /i "$(windows_path "$2")" /qn 'INSTALLDIR=C:\KV Languages' "${@:3}"; }
remove() { as "$1" msiexec /x "$(windows_path "$2")" /qn; }
language_of() { # the language id of a library's version resource (0x0409), read by pefile
    /usr/bin/python3 - "$1" <<'EOF'
import sys, pefile
pe = pefile.PE(sys.argv[1], fast_load=True)
pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
for info in getattr(pe, "FileInfo", []):
    for entry in info:
        for var in getattr(entry, "Var", []):
            if b"Translation" in var.entry:
                print(var.entry[b"Translation"].split()[0])
EOF
}
holds() { # holds LANGUAGE-ID: the one list library in the folder is of that language
    local libraries
    libraries=$(find "$dir" -iname "${prefix}appmgr.dll")
    [ "$(wc -l <<<"$libraries")" -eq 1 ] && [ "$(language_of "$libraries")" = "$1" ]
}
remembered() { w reg query "$settings_key" /v ManagerLanguage $view | sed -n 's/^ *ManagerLanguage *REG_SZ *//p'; }
gone() { [ ! -e "$dir" ] && [ -z "$(remembered)" ]; }

echo "a Hebrew user installs"
install he_IL "$first"
expect "msiexec succeeded" test $? -eq 0
expect "the Hebrew library (0x040d) is the one installed" holds 0x040d
expect "the choice is remembered" test "$(remembered)" = Hebrew
echo "an English user upgrades, a Traditional-Chinese user removes"
install en_US "$second"
expect "msiexec succeeded" test $? -eq 0
expect "the upgrade keeps the Hebrew library" holds 0x040d
remove zh_TW "$second"
expect "msiexec succeeded" test $? -eq 0
expect "the library and the remembered choice are gone with the folder" gone

echo "a Traditional-Chinese user installs, and removes"
install zh_TW "$first"
expect "msiexec succeeded" test $? -eq 0
expect "the Traditional-Chinese library (0x0404)" holds 0x0404
remove zh_TW "$first"
expect "the removal leaves nothing" gone

echo "an English user asks for MANAGERLANGUAGE=hebrew, then upgrades asking for Chi_Trad"
install en_US "$first" MANAGERLANGUAGE=hebrew
expect "msiexec succeeded" test $? -eq 0
expect "the Hebrew library, whatever the name's case" holds 0x040d
install en_US "$second" MANAGERLANGUAGE=Chi_Trad
expect "msiexec succeeded" test $? -eq 0
expect "the asked language wins over the remembered one" holds 0x0404
remove en_US "$second"
expect "the removal leaves nothing" gone

echo "a German user asks for a language the package lacks"
install de_DE "$first" MANAGERLANGUAGE=Klingon
expect "msiexec succeeded" test $? -eq 0
expect "the unknown name is ignored: English (0x0409), for a language no set serves" holds 0x0409
remove de_DE "$first"
expect "the removal leaves nothing" gone
install he_IL "$first" MANAGERLANGUAGE=Klingon
expect "a Hebrew user asking for it gets the Hebrew library" holds 0x040d
remove he_IL "$first"
expect "the removal leaves nothing" gone

[ "$failures" -eq 0 ]
