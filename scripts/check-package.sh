#!/usr/bin/env bash
# Checks build/package/qrt4250_*.deb as Debian's tools and a user see it:
# lintian (no error, no warning), the desktop entry, the AppStream metadata,
# then installs it with apt-get (dependencies from the Debian archive), runs
# the installed programs, purges it and checks that none of its files is
# left. Installs and removes a package: root only, for CI or a test machine.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

debs=(build/package/qrt4250_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || {
  echo "check-package: expected one build/package/qrt4250_*.deb (scripts/package.sh makes it)"
  exit 1
}
deb=${debs[0]}

echo "== lintian $deb"
lintian --fail-on error,warning --tag-display-limit 0 "$deb"

contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"
echo "== desktop-file-validate"
desktop-file-validate "$contents"/usr/share/applications/*.desktop
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml

echo "== apt-get install ./$deb"
if dpkg-query -W qrt4250 >/dev/null 2>&1; then apt-get purge -y qrt4250; fi
trap 'rm -rf "$contents"; apt-get purge -y qrt4250 >/dev/null 2>&1 || true' EXIT
apt-get install -y --no-install-recommends "./$deb"

version=$(dpkg-query -W -f='${Version}' qrt4250)
cd /
[ "$(command -v qrt4250-cli)" = /usr/bin/qrt4250-cli ]
[ "$(qrt4250-cli --version)" = "qrt4250-cli $version" ] || {
  echo "qrt4250-cli --version is not the package version $version"
  exit 1
}
[ "$(qrt4250-config --version)" = "qrt4250-config $version" ] || {
  echo "qrt4250-config --version is not the package version $version"
  exit 1
}
qrt4250-cli show --builtin >/dev/null
qrt4250-config --help >/dev/null
man -w qrt4250-cli
man -w qrt4250-config

echo "== apt-get purge qrt4250"
dpkg-query -L qrt4250 >"$contents/files"
apt-get purge -y qrt4250
left=0
while IFS= read -r path; do
  # Shared folders (/usr/bin, the icon theme, ...) may stay; our files and
  # our own folders may not.
  if { [ -e "$path" ] || [ -L "$path" ]; } && { [ ! -d "$path" ] || [[ $path == *qrt4250* ]]; }; then
    echo "left after purge: $path"
    left=1
  fi
done <"$contents/files"
[ "$left" -eq 0 ]
echo "package checks passed"
