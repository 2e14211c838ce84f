#!/usr/bin/env bash
# Builds the Windows packages from the "windows" preset (build/windows):
#   build/package/qrt4250-<version>-win64.zip   the installed folder, unzip and run
#   build/package/qrt4250-<version>-win64.msi   Windows Installer (wixl, msitools)
# Both hold the two programs, Qt's DLLs and plugins, the MinGW runtime, the
# licences and README.txt. The MSI installs per machine into
# "Program Files\QRT4250", adds a Start-menu shortcut to the window and the
# folder to the system PATH (for qrt4250-cli); uninstalling removes all of it.
#   scripts/package-windows.sh          (scripts/check-package-windows.sh checks the MSI)
# Needs Qt 6 for MinGW as scripts/test-windows.sh does (QRT_QT_MINGW_ARCHIVE).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

need=()
command -v wixl >/dev/null || need+=(wixl)
command -v msibuild >/dev/null || need+=(msitools)
command -v zip >/dev/null || need+=(zip)
if [ ${#need[@]} -gt 0 ]; then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${need[@]}"
fi

version=$(sed -n 's/^project(qrt4250 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# Windows Installer versions have three fields.
msi_version=$(echo "$version" | cut -d. -f1-3)
name=qrt4250-$version-win64
out=$root/build/package
stage=$root/build/windows-package/$name

extra=()
if [ "${QRT_WERROR:-0}" = "1" ]; then extra+=(-DQRT_WERROR=ON); fi
archive=${QRT_QT_MINGW_ARCHIVE:-$root/../shared/qt6-mingw-6.4.2.tar.xz}
[ -f "$archive" ] || {
  echo "package-windows: Qt 6 for MinGW is missing ($archive); make it with tools/build-qt-mingw.sh OUT_DIR and set QRT_QT_MINGW_ARCHIVE" >&2
  exit 1
}
cmake --preset windows -DQRT_BUILD_GUI=ON "-DQRT_QT_MINGW_ARCHIVE=$(realpath "$archive")" \
  "${extra[@]}" >/dev/null
cmake --build --preset windows --target qrt4250-config qrt4250-cli

rm -rf "$root/build/windows-package" "$out/$name.zip" "$out/$name.msi"
mkdir -p "$out"
cmake --install build/windows --prefix "$stage" --strip >/dev/null
[ -f "$stage/qrt4250-config.exe" ] && [ -f "$stage/qrt4250-cli.exe" ] ||
  { echo "package-windows: the programs were not installed into $stage" >&2; exit 1; }

(cd "$(dirname "$stage")" && zip -q -r -X "$out/$name.zip" "$name")

# The MSI: one component per file (wixl-heat), the shortcut and PATH.
wxs=$root/build/windows-package/wxs
mkdir -p "$wxs"
(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) |
  wixl-heat --win64 --prefix "" --directory-ref INSTALLDIR --component-group Files \
    --var var.SourceDir >"$wxs/files.wxs"
sed -e "s/@VERSION@/$msi_version/g" packaging/windows/qrt4250.wxs.in >"$wxs/qrt4250.wxs"
# (wixl finds the files by paths relative to the folder it runs in.)
(cd "$stage" && wixl --arch x64 -D SourceDir=. -D Win64=yes -o "$out/$name.msi" \
  "$wxs/qrt4250.wxs" "$wxs/files.wxs")
# wixl knows no <Environment>: the PATH entry is added to the package's
# tables as WiX would write it ("=-*PATH": the system variable, set at
# install, its part removed at uninstall; "[~];" appends), with the two
# standard actions that apply it.
msibuild "$out/$name.msi" -q "CREATE TABLE \`Environment\` (\`Environment\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL LOCALIZABLE, \`Value\` CHAR(255) LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`Environment\`)"
msibuild "$out/$name.msi" -q "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('PathEntry', '=-*PATH', '[~];[INSTALLDIR]', 'SystemPath')"
msibuild "$out/$name.msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)"
msibuild "$out/$name.msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)"
ls -l "$out/$name.zip" "$out/$name.msi"
