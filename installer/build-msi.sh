#!/usr/bin/env bash
# Builds one architecture's Windows Installer package from a build folder with wixl:
#   installer/build-msi.sh SETTINGS OUT-DIR [VERSION]
# SETTINGS is the build's installer/package.env, written by CMake (prefix, version, architecture,
# brand, model, the stored list's key, the binaries' folder); VERSION replaces the build's
# version (the tests make a newer package of the same binaries); PACKAGE_BINARIES names another
# folder of the same binaries (./run dist's signed copies). Prints the package's path,
# OUT-DIR/<prefix>panelmon-<version>-<arch>.msi.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
settings=${1:?usage: build-msi.sh SETTINGS OUT-DIR [VERSION]}
out=${2:?usage: build-msi.sh SETTINGS OUT-DIR [VERSION]}
prefix='' version='' arch='' brand='' model='' product='' list_key='' bin=''
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
# wixl takes sources relative to the folder it runs in.
ln -s "$bin" "$work/bin"
ln -s "$here/../applist/library/res/app.ico" "$work/manager.ico"
ln -s "$here/../tools/sample.scenario" "$work/sample.scenario"
(cd "$work" && wixl -a "$wixl_arch" -o "$work/package.msi" \
    -D "ProductCode=$(guid_for "$prefix/$arch/$version/product")" \
    -D "UpgradeCode=$(guid_for "$prefix/$arch/upgrade")" \
    -D "ProductName=$name" -D "Brand=$brand" -D "Model=$model" -D "Version=$version" \
    -D "Prefix=$prefix" -D "Win64=$win64" -D "ProgramFilesFolder=$program_files" \
    -D "SettingsKey=Software\\$brand\\$model\\Panel Monitor" -D "ListKey=$list_key" \
    "$here/panelmon.wxs") >"$work/wixl.log" 2>&1 || { cat "$work/wixl.log" >&2; exit 1; }
# What wixl cannot write: the deliverables' file versions, so that Windows Installer's file
# rules compare versions, and the removal of the journals that the simulation kit's stand-ins
# write beside themselves (by name: Wine's removal takes no wildcards).
queries=(-q "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '1033' WHERE \`File\` = 'panelmon' OR \`File\` = 'appmgr'")
for journal in SimDevlink:${prefix}devlink SimScx:${prefix}scx SimCapq:${prefix}capq SimLightScan:${prefix}lsqx \
    SimPhotoDock:PhotoDock SimPhotoDesk:photodesk SimQuickPrn:QuickPrn; do
    component=${journal%%:*} name=${journal#*:}.journal
    queries+=(-q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`) VALUES ('Journal$component', '$component', '$name', 'INSTALLDIR', 2)")
done
# The folder outside Program Files gets Program Files' protection: SYSTEM and administrators
# write, users read and run. The list's key: what the program gives a key it shares, Everyone
# reading, setting values and creating sub-keys, SYSTEM and administrators in full; the key is
# made when absent and left at removal, and an earlier version's key gets the same list.
in_program_files='(ProgramFilesFolder AND INSTALLDIR ~<< ProgramFilesFolder) OR (ProgramFiles64Folder AND INSTALLDIR ~<< ProgramFiles64Folder)'
queries+=(-q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('ListKey', 2, '$list_key', '+', 'Monitor')"
    -q "CREATE TABLE \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\` CHAR(72) NOT NULL, \`LockObject\` CHAR(72) NOT NULL, \`Table\` CHAR(32) NOT NULL, \`SDDL\` LONGCHAR NOT NULL, \`Condition\` CHAR(255) PRIMARY KEY \`MsiLockPermissionsEx\`)"
    -q "INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`, \`SDDL\`, \`Condition\`) VALUES ('FolderOutsideProgramFiles', 'INSTALLDIR', 'CreateFolder', 'D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)', 'NOT ($in_program_files)')"
    -q "INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`, \`SDDL\`) VALUES ('SharedListKey', 'ListKey', 'Registry', 'D:(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;0x2001f;;;WD)')")
msibuild "$work/package.msi" "${queries[@]}"
mv "$work/package.msi" "$package"
echo "$package"
