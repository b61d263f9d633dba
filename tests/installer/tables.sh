#!/usr/bin/env bash
# The built package read back with msiinfo, without Wine, so a broken package is caught here: its
# files and their versions, the Run value, the custom actions and where they run, the upgrade
# rules, the simulation kit's feature, the shortcut, and the binaries' own version resources.
# Run by ctest with PACKAGE_SETTINGS (the build's installer/package.env); FAIL marks a failure.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/tools/steps.sh"
: "${PACKAGE_SETTINGS:?PACKAGE_SETTINGS must name installer/package.env in a build folder}"
prefix='' version='' arch='' list_key='' bin='' languages='' fallback_language=''
source "$PACKAGE_SETTINGS"

work="$(dirname "$PACKAGE_SETTINGS")/tables"
rm -rf "$work"
package=$(bash "$here/installer/build-msi.sh" "$PACKAGE_SETTINGS" "$work") || exit 1
newer=$(bash "$here/installer/build-msi.sh" "$PACKAGE_SETTINGS" "$work" 99.0.0) || exit 1

table() { msiinfo export "${2:-$package}" "$1" | tr -d '\r' | tail -n +4; }  # table NAME [PACKAGE]
has() { table "$1" | awk -F'\t' "$2 { found = 1 } END { exit !found }"; }  # has TABLE AWK-CONDITION
field() { table "$1" | awk -F'\t' -v key="$2" -v n="$3" '$1 == key { print $n }'; }  # field TABLE KEY N
property() { table Property "${2:-$package}" | awk -F'\t' -v key="$1" '$1 == key { print $2 }'; }
sequence() { field InstallExecuteSequence "$1" 3; }
runs_before() { [ "$(sequence "$1")" -lt "$(sequence "$2")" ]; }  # runs_before ACTION ACTION
template() { msiinfo suminfo "$package" | sed -n 's/^Template: //p'; }
all_64_bit() { ! has Component 'int($4 / 256) % 2 == 0'; }
feature_of() { # the feature that installs a file
    local component
    component=$(table File | awk -F'\t' -v name="$1" '$3 == name { print $2 }')
    table FeatureComponents | awk -F'\t' -v c="$component" '$2 == c { print $1 }'
}
stamped() { # the binary's version resource carries the build's version
    local text
    text=$(tr -d '\0' <"$bin/$1")
    grep -qF "FileVersion$version" <<<"$text" && grep -qF "ProductVersion$version" <<<"$text"
}

echo "files"
expect "${prefix}panelmon.exe is versioned with the build's version" has File "\$3 == \"${prefix}panelmon.exe\" && \$5 == \"$version.0\""
expect "the product's version is the build's" test "$(property ProductVersion)" = "$version"
expect "the monitor's version resource says the same" stamped "${prefix}panelmon.exe"
expect "the list library's version resource says the same" stamped "${prefix}appmgr.dll"
expect "the monitor belongs to the product's feature" test "$(feature_of "${prefix}panelmon.exe")" = Monitor
for file in "${prefix}devlink.dll" "${prefix}devlink.scenario" "${prefix}panelmonr.dll" "${prefix}lsqx.exe" "${prefix}panel.exe"; do
    expect "$file belongs to the simulation kit" test "$(feature_of "$file")" = SimulationKit
done
expect "the kit is off by default and lies under the product" has Feature '$1 == "SimulationKit" && $2 == "Monitor" && $6 > 1'
expect "the kit's journals go with it" has RemoveFile "\$3 == \"${prefix}lsqx.journal\" && \$4 == \"INSTALLDIR\" && \$5 == 2"

echo "the list library's languages"
summary() { msiinfo suminfo "$package" | sed -n "s/^$1: //p"; }
choice_order() { # the kinds of choice actions in the order they run
    table InstallExecuteSequence | awk -F'\t' '$1 ~ /^(LanguageOfUser|RememberedLanguage|AskedLanguage)_/ { sub(/_.*/, "", $1); print $3, $1 }' |
        sort -n | awk '{ print $2 }' | uniq | paste -sd' '
}
for entry in $languages; do
    language=${entry%%:*} ids=${entry#*:}
    expect "$language: a library of the build's version and of language ${ids%%,*}, in the product's feature" eval '
        has File "\$1 == \"appmgr_$language\" && \$3 == \"${prefix}appmgr.dll\" && \$5 == \"$version.0\" && \$6 == \"${ids%%,*}\"" &&
        has FeatureComponents "\$1 == \"Monitor\" && \$2 == \"ListLibrary_$language\""'
    expect "  installed only when chosen; a removal takes it whichever was chosen" \
        test "$(field Component "ListLibrary_$language" 5)" = "ManagerSet = \"$language\" OR REMOVE~=\"ALL\""
    expect "  remembered as the installation's language" \
        has Registry "\$4 == \"ManagerLanguage\" && \$5 == \"$language\" && \$6 == \"ListLibrary_$language\""
    for id in ${ids//,/ }; do
        expect "  chosen for a user of language $id" \
            eval 'field InstallExecuteSequence "LanguageOfUser_$language" 2 | grep -qE "(^| )UserLanguageID = $id( |\$)"'
    done
    expect "  chosen by MANAGERLANGUAGE in any case, and each choice sets this language's name only" eval '
        [ "$(field InstallExecuteSequence "AskedLanguage_$language" 2)" = "MANAGERLANGUAGE ~= \"$language\"" ] &&
        [ "$(table CustomAction | awk -F"\t" -v l="$language" "\$1 ~ (\"_\" l \"\$\") && \$2 == 51 && \$3 == \"ManagerSet\" && \$4 == l" | wc -l)" -eq 3 ]'
    expect "  after the search, before the costing evaluates the conditions" \
        eval 'runs_before AppSearch "LanguageOfUser_$language" && runs_before "AskedLanguage_$language" CostFinalize'
done
expect "the asked language over the remembered over the user's" \
    test "$(choice_order)" = "LanguageOfUser RememberedLanguage AskedLanguage"
expect "one library a language, all of one name, no other" \
    test "$(table File | awk -F'\t' -v n="${prefix}appmgr.dll" '$3 == n' | wc -l)" -eq "$(wc -w <<<"$languages")"
expect "no user language is served by two" test -z "$(tr ' ' '\n' <<<"$languages" | sed 's/^[^:]*://' | tr ',' '\n' | sort | uniq -d)"
expect "without a choice, $fallback_language" test "$(property ManagerSet)" = "$fallback_language"
names=$(for entry in $languages; do printf '%s;' "${entry%%:*}"; done)
expect "the summary and ManagerLanguages name the languages" \
    eval '[ "$(property ManagerLanguages)" = "${names%;}" ] && [ "$(summary Keywords)" = "Installer;${names%;}" ] &&
          summary Comments | grep -qF "MANAGERLANGUAGE="'
expect "MANAGERLANGUAGE reaches the installation's own process" eval 'property SecureCustomProperties | tr ";" "\n" | grep -qx MANAGERLANGUAGE'

echo "registry and shortcut"
expect "the Run value holds the monitor's quoted path" \
    has Registry "\$2 == 2 && \$3 == \"Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run\" && \$4 == \"${prefix}panelmon\" && \$5 == \"\\\"[#panelmon]\\\"\""
expect "the shortcut starts the monitor with -s and the manager's icon" \
    has Shortcut '$2 == "ProgramMenuFolder" && $5 == "[#panelmon]" && $6 == "-s" && $9 == "manager.ico"'
expect "an existing list is looked for where the list library keeps it" \
    has RegLocator "\$1 == \"StoredList\" && \$3 == \"$list_key\" && \$4 == \"AppList\""

echo "custom actions"
# 18: a program installed by the package; +64 its result is ignored, +128 not waited for;
# +1024 deferred into the script, +2048 with the package's rights instead of as the user.
ui_sequence() { table InstallUISequence | awk -F'\t' -v key="$1" '$1 == key { print $3 }'; }
expect "-a with the package's rights, deferred, waited for, a failure ignored" \
    has CustomAction '$1 == "StoreList" && $2 == 3154 && $3 == "panelmon" && $4 == "-a"'
expect "  only when no list is stored yet" has InstallExecuteSequence '$1 == "StoreList" && $2 == "NOT REMOVE AND NOT LISTSTORED"'
expect "  once the files are in place, before the installation ends" \
    eval 'runs_before InstallFiles StoreList && runs_before StoreList InstallFinalize'
expect "nothing the installation itself runs is left running: every action it starts is waited for" \
    eval '! table InstallExecuteSequence | awk -F"\t" "{ print \$1 }" | grep -qxFf <(table CustomAction | awk -F"\t" "int(\$2 / 128) % 2 == 1 { print \$1 }")'
expect "the monitor started plainly, as the user, not waited for" \
    has CustomAction '$1 == "StartMonitor" && $2 == 210 && $4 == ""'
expect "  only from an interactive installation's own process that is not elevated, after it ran" \
    eval '[ "$(ui_sequence StartMonitor)" -gt "$(ui_sequence ExecuteAction)" ] &&
          has InstallUISequence "\$1 == \"StartMonitor\" && \$2 ~ /NOT MsiRunningElevated/ && \$2 ~ /NOT REMOVE/"'
expect "-u deferred, as the user, waited for" has CustomAction '$1 == "StopMonitor" && $2 == 1106 && $4 == "-u"'
expect "  at removal, before the files go" runs_before StopMonitor RemoveFiles
expect "  and only at removal" has InstallExecuteSequence '$1 == "StopMonitor" && $2 == "REMOVE~=\"ALL\""'

echo "access lists"
expect "the folder outside Program Files: users read and run, only SYSTEM and administrators write" \
    has MsiLockPermissionsEx '$2 == "INSTALLDIR" && $3 == "CreateFolder" && $4 == "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)" && $5 ~ /^NOT \(.*ProgramFilesFolder.*ProgramFiles64Folder/'
expect "  over a folder the package creates" has CreateFolder '$1 == "INSTALLDIR" && $2 == "Monitor"'
expect "the list's key: Everyone reads, sets values, creates sub-keys; SYSTEM and administrators all" \
    has MsiLockPermissionsEx '$2 == "ListKey" && $3 == "Registry" && $4 == "D:(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;0x2001f;;;WD)"'
expect "  made when absent, never removed" has Registry "\$1 == \"ListKey\" && \$3 == \"$list_key\" && \$4 == \"+\""

echo "upgrades"
upgrade_code=$(property UpgradeCode)
expect "the upgrade code stays from version to version" test "$upgrade_code" = "$(property UpgradeCode "$newer")"
expect "the product code changes with the version" test "$(property ProductCode)" != "$(property ProductCode "$newer")"
expect "older versions of the product are found and replaced" has Upgrade "\$1 == \"$upgrade_code\" && \$3 == \"$version\" && \$7 == \"WIX_UPGRADE_DETECTED\""
expect "  the older one is removed before anything is installed" runs_before RemoveExistingProducts InstallInitialize
expect "a newer installed version refuses this one with a message" \
    has LaunchCondition '$1 == "NOT WIX_DOWNGRADE_DETECTED" && $2 ~ /newer version/'

echo "architecture"
if [ "$arch" = x64 ]; then
    expect "a 64-bit package" test "$(template)" = "x64;1033"
    expect "every component in the 64-bit view" all_64_bit
    expect "the list looked for in the 64-bit view" has RegLocator '$1 == "StoredList" && $5 == 18'
else
    expect "a 32-bit package" test "$(template)" = "Intel;1033"
    expect "the list looked for in the 32-bit view" has RegLocator '$1 == "StoredList" && $5 == 2'
fi

printf '[ figures  ] %s package %s bytes\n' "$arch" "$(stat -c %s "$package")"
rm -rf "$work"
[ "$failures" -eq 0 ]
