#!/usr/bin/env bash
# Installs the MSI of scripts/package-windows.sh under wine in a fresh wine
# prefix, as a Windows user would (msiexec /i ... /qn), runs the installed
# qrt4250-cli.exe (--version, show --builtin; also by name through the
# system PATH), checks the Start-menu shortcut, uninstalls (msiexec /x) and
# checks that nothing of it is left: no file or folder, no registry key, no
# PATH entry.
#   scripts/check-package-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

fail() { echo "check-package-windows: $*" >&2; exit 1; }
version=$(sed -n 's/^project(qrt4250 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
msi=$root/build/package/qrt4250-$version-win64.msi
[ -f "$msi" ] || fail "$msi is missing: run scripts/package-windows.sh first"

export WINEPREFIX=$root/build/windows-package/wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
trap 'wineserver -k 2>/dev/null || true' EXIT
wineboot -i >/dev/null 2>&1
wineserver -w

snapshot() {
  (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -print | LC_ALL=C sort)
}
environment_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
# (Wine's msi leaves the separator of a removed part: a trailing ";" does not count.)
system_path() { wine reg query "$environment_key" /v PATH 2>/dev/null | tr -d '\r' | grep -i 'PATH' | sed 's/;*$//' || true; }
snapshot >"$WINEPREFIX/before.txt"
path_before=$(system_path)

wine msiexec /i "Z:${msi//\//\\}" /qn || fail "msiexec /i failed"
wineserver -w
folder="$WINEPREFIX/drive_c/Program Files/QRT4250"
for file in qrt4250-config.exe qrt4250-cli.exe Qt6Core.dll platforms/qwindows.dll LICENSE.txt README.txt; do
  [ -f "$folder/$file" ] || fail "the MSI did not install $file"
done
shortcut=$(cd "$WINEPREFIX/drive_c" && find . -iname 'QRT4250 EEPROM Configuration Tool.lnk' | head -n 1)
[ -n "$shortcut" ] || fail "no Start-menu shortcut"
case "$shortcut" in *"Start Menu/Programs/QRT4250/"*) ;; *) fail "the shortcut is at $shortcut" ;; esac
system_path | grep -qi 'QRT4250' || fail "the folder is not on the system PATH: $(system_path)"

cli='C:\Program Files\QRT4250\qrt4250-cli.exe'
out=$(wine "$cli" --version 2>&1 | tr -d '\r') || fail "qrt4250-cli --version failed: $out"
case "$out" in *"$version"*) ;; *) fail "qrt4250-cli --version printed \"$out\"" ;; esac
wine "$cli" show --builtin >"$WINEPREFIX/show.txt" 2>&1 || fail "show --builtin failed: $(cat "$WINEPREFIX/show.txt")"
grep -q '3A7C' "$WINEPREFIX/show.txt" || fail "show --builtin printed no VID: $(cat "$WINEPREFIX/show.txt")"
# By name, as in a new console: cmd takes PATH from the registry.
out=$(wine cmd /c 'qrt4250-cli --version' 2>&1 | tr -d '\r') || fail "qrt4250-cli is not found by name: $out"
case "$out" in *"$version"*) ;; *) fail "qrt4250-cli by name printed \"$out\"" ;; esac

wine msiexec /x "Z:${msi//\//\\}" /qn || fail "msiexec /x failed"
wineserver -w
snapshot >"$WINEPREFIX/after.txt"
left=$(diff "$WINEPREFIX/before.txt" "$WINEPREFIX/after.txt" | grep '^>' | grep -iv -e 'Installer' -e 'temp' || true)
[ -z "$left" ] || fail "left after uninstalling: $left"
[ "$(system_path)" = "$path_before" ] || fail "PATH after uninstalling: $(system_path) (before: $path_before)"
if wine reg query 'HKLM\Software\QRT4250 EEPROM Configuration Tool' >/dev/null 2>&1; then
  fail "the registry key is left after uninstalling"
fi
echo "check-package-windows: $(basename "$msi") installs, runs (--version, show --builtin, PATH) and uninstalls without a trace"
