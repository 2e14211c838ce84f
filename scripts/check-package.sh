#!/usr/bin/env bash
# Checks build/package/qrt4250_*.deb as Debian's tools and a user see it:
# lintian (no error, no warning), the desktop entry, the AppStream metadata;
# then, in a clean Debian 12 (debootstrap --variant=minbase, from this
# machine's Debian mirror), installs it with apt-get the way a user does
# (dependencies and recommends from the archive), runs the programs as a
# plain user, takes a screenshot of the window in Chinese and fails when its
# Chinese captions are drawn as boxes, purges the package and checks that
# none of its files is left. Root only (debootstrap, chroot, mounts), for CI
# or a test machine; the machine's own packages are not touched.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
started=$SECONDS

debs=(build/package/qrt4250_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || {
  echo "check-package: expected one build/package/qrt4250_*.deb (scripts/package.sh makes it)"
  exit 1
}
deb=${debs[0]}
shots=$PWD/build/package

echo "== lintian $deb"
lintian --fail-on error,warning --tag-display-limit 0 "$deb"

work=$(mktemp -d /var/tmp/qrt4250-check.XXXXXX)
root=$work/root
xpid=""
cleanup() {
  if [ -n "$xpid" ]; then kill "$xpid" 2>/dev/null || true; fi
  for mount in "$root/tmp/.X11-unix" "$root/proc" "$root/dev/pts" "$root/dev"; do
    if mountpoint -q "$mount" 2>/dev/null; then umount -l "$mount"; fi
  done
  # Never into a mount that is still there.
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT

dpkg-deb -x "$deb" "$work/contents"
echo "== desktop-file-validate"
desktop-file-validate "$work"/contents/usr/share/applications/*.desktop
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$work"/contents/usr/share/metainfo/*.metainfo.xml

echo "== licence, programs' sections"
apache="Apache License, Version 2.0"
grep -qx 'License: Apache-2.0' "$work/contents/usr/share/doc/qrt4250/copyright"
grep -q '<project_license>Apache-2.0</project_license>' \
  "$work"/contents/usr/share/metainfo/*.metainfo.xml
for page in "$work"/contents/usr/share/man/man1/*.1.gz; do
  gzip -dc "$page" | grep -q "$apache" || {
    echo "$(basename "$page"): no licence"
    exit 1
  }
done
for program in "$work"/contents/usr/bin/*; do
  if readelf -S --wide "$program" | grep -q ' \.comment '; then
    echo "$(basename "$program") keeps its .comment section"
    exit 1
  fi
done
# What the desktop entry says the window's X11 class is.
wm_class=$(sed -n 's/^StartupWMClass=//p' "$work"/contents/usr/share/applications/*.desktop)
[ -n "$wm_class" ] || { echo "the desktop entry has no StartupWMClass"; exit 1; }

# The Debian mirror this machine installs from (deb822 or one-line sources).
host_mirror() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk 'BEGIN { RS = "" }
         /(^|\n)Types:[^\n]*deb/ && /(^|\n)Suites:[^\n]*bookworm([ \n]|$)/ &&
         match($0, /URIs:[ \t]*[^ \t\n]+/) {
           uri = substr($0, RSTART, RLENGTH); sub(/URIs:[ \t]*/, "", uri); print uri; exit
         }' "$file"
  done
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i !~ /^\[/ && $i !~ /\]$/) break;
                       if ($(i + 1) == "bookworm") print $i }' || true
}
mirror=$(host_mirror | head -n 1 || true)
mirror=${mirror:-http://deb.debian.org/debian}

echo "== debootstrap --variant=minbase bookworm ($mirror)"
step=$SECONDS
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 || {
  tail -n 30 "$work/debootstrap.log"
  exit 1
}
echo "   $((SECONDS - step)) s"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount -t proc proc "$root/proc"
in_root() { chroot "$root" "$@"; }
# A plain user, as who runs the tool.
in_root useradd --create-home --uid 4250 engineer
as_user() {
  chroot --userspec=engineer:engineer "$root" env -i HOME=/home/engineer LANG=C.UTF-8 \
    PATH=/usr/bin:/bin "$@"
}

echo "== apt-get install ./$(basename "$deb") (recommends included)"
step=$SECONDS
cp "$deb" "$root/tmp/"
in_root apt-get update -q >/dev/null
in_root apt-get install -y -q "/tmp/$(basename "$deb")" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"
  exit 1
}
grep -E '^(The following NEW packages|  )' "$work/install.log" | head -n 40 || true
echo "   $((SECONDS - step)) s"

echo "== the programs, as a plain user"
version=$(in_root dpkg-query -W -f='${Version}' qrt4250)
[ "$(as_user sh -c 'command -v qrt4250-cli')" = /usr/bin/qrt4250-cli ]
[ "$(as_user qrt4250-cli --version)" = "qrt4250-cli $version" ] || {
  echo "qrt4250-cli --version is not the package version $version"
  exit 1
}
[ "$(as_user qrt4250-config --version)" = "qrt4250-config $version" ] || {
  echo "qrt4250-config --version is not the package version $version"
  exit 1
}
as_user qrt4250-cli show --builtin >/dev/null
as_user qrt4250-config --help >/dev/null
for page in qrt4250-cli qrt4250-config; do
  [ -f "$root/usr/share/man/man1/$page.1.gz" ] || { echo "no man page $page(1)"; exit 1; }
done
# The install makes the shared lock folder, root's, so every user's runs
# meet in it (made again here by the package's own script: the systemd that
# came with the dependencies may have made it too).
rm -rf "$root/run/lock/qrt4250"
in_root sh /var/lib/dpkg/info/qrt4250.postinst configure
[ "$(stat -c '%U %a' "$root/run/lock/qrt4250")" = "root 1777" ] || {
  echo "the install did not make /run/lock/qrt4250 (root, 1777)"
  exit 1
}
err=$(as_user qrt4250-cli read --simulate --eeprom 24C02 -o /tmp/user.bin 2>&1 >/dev/null)
if grep -q warning <<<"$err"; then
  echo "a plain user's run fell back from the shared lock folder: $err"
  exit 1
fi
err=$(as_user qrt4250-config --simulate 2>&1) && {
  echo "qrt4250-config without a display did not fail"
  exit 1
}
[ "$err" = "qrt4250-config: no display (DISPLAY / WAYLAND_DISPLAY not set)" ] || {
  echo "qrt4250-config without a display: $err"
  exit 1
}

echo "== the window in Chinese (Xvfb of this machine, fonts of the clean system)"
# Xvfb picks a free display itself (other X servers may come and go on this
# machine meanwhile) and says which once it accepts clients. Local socket
# only, no access control: it lives for a few seconds of this check.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac 3>"$work/displayfd" \
  >"$work/xvfb.log" 2>&1 &
xpid=$!
read -r -t 30 n <"$work/displayfd" || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=:$n
display=$DISPLAY
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
# Fontconfig without the fonts that cover Chinese: every Chinese caption is
# then drawn as boxes, which is what the real run must not look like.
cat >"$root/tmp/no-chinese-fonts.conf" <<'EOF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <selectfont><rejectfont><pattern>
    <patelt name="lang"><string>zh-cn</string></patelt>
  </pattern></rejectfont></selectfont>
</fontconfig>
EOF
screenshot() {  # screenshot FILE [VAR=VALUE...]: the window at start, in Chinese
  local file=$1 app
  shift
  chroot --userspec=engineer:engineer "$root" env -i HOME=/home/engineer LANG=C.UTF-8 \
    PATH=/usr/bin:/bin DISPLAY="$display" QT_QPA_PLATFORM=xcb "$@" \
    qrt4250-config --simulate >"$work/window.log" 2>&1 &
  app=$!
  for _ in $(seq 100); do
    # Found by the class the desktop entry names, so a dock groups it there.
    xdotool search --class "^$wm_class\$" >/dev/null 2>&1 && break
    kill -0 "$app" 2>/dev/null || { cat "$work/window.log"; return 1; }
    sleep 0.2
  done
  xdotool search --class "^$wm_class\$" >/dev/null 2>&1 || {
    echo "no window of class $wm_class (StartupWMClass)"
    cat "$work/xvfb.log"
    cat "$work/window.log"
    return 1
  }
  sleep 2  # first paint
  import -window root "$file"
  kill "$app"
  wait "$app" 2>/dev/null || true
}
screenshot "$shots/chroot-window-zh.png"
screenshot "$work/boxes.png" FONTCONFIG_FILE=/tmp/no-chinese-fonts.conf
# Pixels that differ from the rendering with boxes; a text cursor's blink
# alone is a few dozen.
differ=$(compare -metric AE "$shots/chroot-window-zh.png" "$work/boxes.png" null: 2>&1 || true)
differ=${differ%% *}
echo "   pixels unlike the boxes: $differ (screenshot: $shots/chroot-window-zh.png)"
awk -v n="$differ" 'BEGIN { exit !(n + 0 > 2000) }' || {
  echo "the Chinese captions are drawn as boxes: no font for Chinese came with the package"
  exit 1
}
kill "$xpid" 2>/dev/null || true
xpid=""

echo "== apt-get purge qrt4250"
in_root dpkg-query -L qrt4250 >"$work/files"
in_root apt-get purge -y -q qrt4250 >/dev/null
left=0
while IFS= read -r path; do
  # Shared folders (/usr/bin, the icon theme, ...) may stay; our files and
  # our own folders may not.
  if { [ -e "$root$path" ] || [ -L "$root$path" ]; } &&
    { [ ! -d "$root$path" ] || [[ $path == *qrt4250* ]]; }; then
    echo "left after purge: $path"
    left=1
  fi
done <"$work/files"
[ "$left" -eq 0 ]
echo "package checks passed ($((SECONDS - started)) s)"
