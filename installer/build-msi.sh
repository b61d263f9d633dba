#!/usr/bin/env bash
# Builds one architecture's Windows Installer package from a build folder with wixl:
#   installer/build-msi.sh SETTINGS OUT-DIR [VERSION]
# SETTINGS is the build's installer/package.env, written by CMake (prefix, version, architecture,
# brand, model, the stored list's key, the binaries' folder, the list library's languages, whose
# libraries lie in its lang/<Language>/); VERSION replaces the build's
# version (the tests make a newer package of the same binaries); PACKAGE_BINARIES names another
# folder of the same binaries (./run dist's signed copies). Prints the package's path,
# OUT-DIR/<prefix>panelmon-<version>-<arch>.msi.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
settings=${1:?usage: build-msi.sh SETTINGS OUT-DIR [VERSION]}
out=${2:?usage: build-msi.sh SETTINGS OUT-DIR [VERSION]}
prefix='' version='' arch='' brand='' model='' product='' list_key='' bin='' languages='' fallback_language=''
# shellcheck source=/dev/null
source "$settings"
bin=${PACKAGE_BINARIES:-$bin}
file_version=$version.0   # the binaries' own version resources carry the build's version
version=${3:-$version}
if ! [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
    echo "build-msi.sh: the version must be major.minor.build, not '$version'" >&2
    exit 2
fi

# A name-based GUID (SHA-1, version 5 layout): the same name always gives the same GUID. The
# upgrade code names the product line (prefix and architecture); the product code adds the
# version, so a rebuilt package of one version is the same product, never a second one beside it.
guid_for() {
    local h
    h=$(printf 'panelmon installer/%s' "$1" | sha1sum)
    h="${h:0:12}5${h:13:3}$(printf '%x' $(((0x${h:16:1} & 3) | 8)))${h:17:15}"
    printf '%s-%s-%s-%s-%s\n' "${h:0:8}" "${h:8:4}" "${h:12:4}" "${h:16:4}" "${h:20:12}" | tr a-f A-F
}

case "$arch" in
    x86) wixl_arch=x86 program_files=ProgramFilesFolder win64=no name=$product ;;
    x64) wixl_arch=x64 program_files=ProgramFiles64Folder win64=yes name="$product (64-bit)" ;;
    *) echo "build-msi.sh: unknown architecture '$arch'" >&2; exit 2 ;;
esac

mkdir -p "$out"
package="$out/${prefix}panelmon-$version-$arch.msi"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The list library of each language (languages: Language:id,id,... where the first id is the
# library's own and every id a user's language it serves), as components wixl includes.
names=() refs=''
library_components="<Include xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">"
for entry in $languages; do
    language=${entry%%:*}
    [ -f "$bin/lang/$language/${prefix}appmgr.dll" ] ||
        { echo "build-msi.sh: no $language library: $bin/lang/$language/${prefix}appmgr.dll" >&2; exit 1; }
    names+=("$language")
    library_components+="
  <Component Id=\"ListLibrary_$language\" Guid=\"*\" Win64=\"$win64\">
    <File Id=\"appmgr_$language\" Name=\"${prefix}appmgr.dll\" Source=\"bin/lang/$language/${prefix}appmgr.dll\" KeyPath=\"yes\"/>
    <RegistryValue Root=\"HKLM\" Key=\"\$(var.SettingsKey)\" Name=\"ManagerLanguage\" Type=\"string\" Value=\"$language\"/>
  </Component>"
    refs+="  <ComponentRef Id=\"ListLibrary_$language\"/>
"
done
[ ${#names[@]} -gt 0 ] || { echo "build-msi.sh: no manager language in $settings" >&2; exit 2; }
printf '%s\n</Include>\n' "$library_components" >"$work/languages.wxi"
printf '<Include xmlns="http://schemas.microsoft.com/wix/2006/wi">\n%s</Include>\n' "$refs" >"$work/language-refs.wxi"
listed=$(IFS=';'; echo "${names[*]}")

# wixl takes sources relative to the folder it runs in.
ln -s "$bin" "$work/bin"
ln -s "$here/../applist/library/res/app.ico" "$work/manager.ico"
ln -s "$here/../tools/sample.scenario" "$work/sample.scenario"
(cd "$work" && wixl -a "$wixl_arch" -I "$work" -o "$work/package.msi" \
    -D "ProductCode=$(guid_for "$prefix/$arch/$version/product")" \
    -D "UpgradeCode=$(guid_for "$prefix/$arch/upgrade")" \
    -D "ProductName=$name" -D "Brand=$brand" -D "Model=$model" -D "Version=$version" \
    -D "Prefix=$prefix" -D "Win64=$win64" -D "ProgramFilesFolder=$program_files" \
    -D "SettingsKey=Software\\$brand\\$model\\Panel Monitor" -D "ListKey=$list_key" \
    -D "Languages=$listed" -D "LanguageNames=${names[*]}" -D "LanguageChoices=${listed//;/|}" \
    -D "FallbackLanguage=$fallback_language" \
    "$here/panelmon.wxs") >"$work/wixl.log" 2>&1 || { cat "$work/wixl.log" >&2; exit 1; }
# What wixl cannot write: the deliverables' file versions, so that Windows Installer's file
# rules compare versions, and the removal of the journals that the simulation kit's stand-ins
# write beside themselves (by name: Wine's removal takes no wildcards).
queries=(-q "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '1033' WHERE \`File\` = 'panelmon'")
# The manager's language, chosen before the costing evaluates the libraries' conditions: the
# fallback (ManagerSet's own value), the user's language, the remembered one, the asked one, each
# over the one before; only names of the package's languages are ever set. Every library takes
# part in a complete removal, whichever was installed.
step=0
for entry in $languages; do
    language=${entry%%:*} ids=${entry#*:}
    users=$(sed 's/^/UserLanguageID = /; s/,/ OR UserLanguageID = /g' <<<"$ids")
    queries+=(-q "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '${ids%%,*}' WHERE \`File\` = 'appmgr_$language'"
        -q "UPDATE \`Component\` SET \`Condition\` = 'ManagerSet = \"$language\" OR REMOVE~=\"ALL\"' WHERE \`Component\` = 'ListLibrary_$language'")
    for choice in "LanguageOfUser:60:$users" "RememberedLanguage:70:REMEMBEREDLANGUAGE = \"$language\"" \
        "AskedLanguage:80:MANAGERLANGUAGE ~= \"$language\""; do
        IFS=: read -r action base condition <<<"$choice"
        queries+=(-q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('${action}_$language', 51, 'ManagerSet', '$language')"
            -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('${action}_$language', '$condition', $((base + step)))")
    done
    step=$((step + 1))
done
# An administrator's choice reaches the installation's own process from any client.
secure=$(msiinfo export "$work/package.msi" Property | tr -d '\r' | sed -n 's/^SecureCustomProperties\t//p')
if [ -n "$secure" ]; then
    queries+=(-q "UPDATE \`Property\` SET \`Value\` = '$secure;MANAGERLANGUAGE' WHERE \`Property\` = 'SecureCustomProperties'")
else
    queries+=(-q "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('SecureCustomProperties', 'MANAGERLANGUAGE')")
fi
for journal in SimDevlink:${prefix}devlink SimScx:${prefix}scx SimCapq:${prefix}capq SimLightScan:${prefix}lsqx \
    SimPhotoDock:PhotoDock SimPhotoDesk:photodesk SimQuickPrn:QuickPrn; do
    component=${journal%%:*} name=${journal#*:}.journal
    queries+=(-q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`) VALUES ('Journal$component', '$component', '$name', 'INSTALLDIR', 2)")
done
# The folder outside Program Files gets Program Files' protection: SYSTEM and administrators
# write, users read and run, and administrators own it (a user who made the folder first and
# stayed its owner could change its list again). The list's key: what the program gives a key it
# shares, Everyone reading, setting values and creating sub-keys, SYSTEM and administrators in
# full; the key is made when absent and left at removal, and an earlier version's key gets the
# same list.
in_program_files='(ProgramFilesFolder AND INSTALLDIR ~<< ProgramFilesFolder) OR (ProgramFiles64Folder AND INSTALLDIR ~<< ProgramFiles64Folder)'
queries+=(-q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('ListKey', 2, '$list_key', '+', 'Monitor')"
    -q "CREATE TABLE \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\` CHAR(72) NOT NULL, \`LockObject\` CHAR(72) NOT NULL, \`Table\` CHAR(32) NOT NULL, \`SDDL\` LONGCHAR NOT NULL, \`Condition\` CHAR(255) PRIMARY KEY \`MsiLockPermissionsEx\`)"
    -q "INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`, \`SDDL\`, \`Condition\`) VALUES ('FolderOutsideProgramFiles', 'INSTALLDIR', 'CreateFolder', 'O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)', 'NOT ($in_program_files)')"
    -q "INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`, \`SDDL\`) VALUES ('SharedListKey', 'ListKey', 'Registry', 'D:(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;0x2001f;;;WD)')")
msibuild "$work/package.msi" "${queries[@]}"
mv "$work/package.msi" "$package"
echo "$package"
