#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, test, fuzz and
# look at the GUI. Nothing is downloaded from anywhere but the Debian archive.
set -euo pipefail

packages=(
  # toolchain and build
  g++ cmake ninja-build pkg-config git
  # fuzzing and sanitizers
  clang-14 libclang-rt-14-dev
  # core libraries
  nettle-dev libinih-dev libudev-dev
  # command line
  libcli11-dev nlohmann-json3-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev umockdev libumockdev-dev
  # GUI
  qt6-base-dev qt6-base-dev-tools libxcb1-dev libxcb-keysyms1-dev libgl-dev
  # Qt's own texts (OK, Cancel, file dialogs) in Chinese
  qt6-translations-l10n
  # GUI tests and screenshots
  xvfb xauth imagemagick fonts-noto-cjk fonts-dejavu-core icewm xdotool
  # the virtual board (scripts/test-vm.sh): QEMU guest, its initramfs, the
  # kernel package unpacked with dpkg-deb
  qemu-system-x86 busybox-static cpio
  # man pages, icons and the Debian package, and the tools that check them
  help2man librsvg2-bin dpkg-dev file gzip lintian desktop-file-utils appstream man-db
  # the clean Debian 12 in which scripts/check-package.sh installs the package
  debootstrap
  # the Windows zip and MSI (scripts/package-windows.sh); the CJK font that
  # the window's wine prefix gets (scripts/test-windows.sh)
  zip wixl msitools fonts-wqy-microhei
)

if [ "$(id -u)" -ne 0 ]; then
  exec sudo "$0" "$@"
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${packages[@]}"
