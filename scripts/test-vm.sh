#!/usr/bin/env bash
# The virtual board: Debian's own kernel in a QEMU guest, with the simulated
# QRT4250 presented as a real USB HID device by dummy_hcd + FunctionFS, and
# the host's build (programs and test binaries) run against it through the
# real usbhid/hidraw stack. Prints one closing line "vm: N passed, M failed"
# and exits 0 only when every scenario passed.
#
#   scripts/test-vm.sh [BUILD_DIR]        default build/default (built already)
#
# Environment: QRT_VM_ACCEL=kvm tries KVM first and falls back to TCG (with a
# note) when /dev/kvm is missing or the guest does not boot under it within
# QRT_VM_BOOT_TIMEOUT seconds (default 120; some hosts' KVM cannot boot
# Debian's kernel and hangs); QRT_VM_TIMEOUT (s) bounds the whole guest run
# (default 900); QRT_VM_SMP guest CPUs (default 2); QRT_VM_FULL=1 runs every
# command on every report layout and EEPROM size (give it QRT_VM_TIMEOUT=6000);
# QRT_VM_ENUM=N runs only N plug cycles of the gadget (an enumeration stress).
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$(pwd)
BUILD=$(realpath -m "${1:-$SRC/build/default}")
VMDIR=$BUILD/vm
ACCEL=${QRT_VM_ACCEL:-tcg}
TIMEOUT=${QRT_VM_TIMEOUT:-900}
BOOT_TIMEOUT=${QRT_VM_BOOT_TIMEOUT:-120}
SMP=${QRT_VM_SMP:-2}
ENUM=${QRT_VM_ENUM:-0}

die() {
  echo "test-vm: $*" >&2
  echo "vm: 0 passed, 1 failed"
  exit 1
}

case $ACCEL in tcg | kvm) ;; *) die "QRT_VM_ACCEL must be tcg or kvm, not $ACCEL" ;; esac
for number in "$TIMEOUT" "$BOOT_TIMEOUT" "$SMP" "$ENUM"; do
  case $number in '' | *[!0-9]*) die "QRT_VM_TIMEOUT, QRT_VM_BOOT_TIMEOUT, QRT_VM_SMP and QRT_VM_ENUM take numbers" ;; esac
done
for tool in qemu-system-x86_64 busybox cpio dpkg-deb apt-get apt-cache timeout; do
  command -v "$tool" >/dev/null || die "$tool not found (scripts/install-deps.sh installs it)"
done
case "$SRC$BUILD" in *[[:space:]]*) die "the source and build paths must not contain blanks" ;; esac
for program in src/cli/qrt4250-cli tests/vm/qrt-vboard; do
  [ -x "$BUILD/$program" ] || die "$BUILD/$program missing: build first (cmake --build --preset default)"
done
BUSYBOX=$(command -v busybox)
{ ldd "$BUSYBOX" 2>&1 || true; } | grep -q 'not a dynamic executable' ||
  die "$BUSYBOX is not statically linked (install busybox-static)"

# The kernel: whatever linux-image-amd64 depends on today (the ABI name moves
# with Debian point releases), cached under the build folder.
MODULES=(
  "usb-common" "usbcore" "udc-core" "configfs" "libcomposite" "usb_f_fs" "dummy_hcd num=2"
  "hid" "hid-generic" "usbhid"
  "netfs" "fscache" "9pnet" "virtio_ring" "virtio" "virtio_pci_modern_dev"
  "virtio_pci_legacy_dev" "virtio_pci" "9pnet_virtio" "9p"
)
PACKAGE=$(apt-cache depends linux-image-amd64 2>/dev/null |
  awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }') || true
[ -n "$PACKAGE" ] || die "cannot resolve linux-image-amd64 to a kernel package (apt-get update?)"
KDIR=$VMDIR/kernel/$PACKAGE
if [ ! -f "$KDIR/complete" ]; then
  echo "test-vm: fetching $PACKAGE"
  rm -rf "$KDIR" && mkdir -p "$KDIR/modules"
  WORK=$(mktemp -d "$VMDIR/fetch.XXXXXX")
  trap 'rm -rf "$WORK"' EXIT
  (cd "$WORK" && timeout 300 apt-get download "$PACKAGE" >/dev/null 2>"$WORK/apt.log") ||
    die "downloading $PACKAGE failed: $(tail -1 "$WORK/apt.log")"
  mkdir "$WORK/x"
  dpkg-deb --fsys-tarfile "$WORK"/*.deb | tar -x -C "$WORK/x" --wildcards './boot/vmlinuz-*' \
    './lib/modules/*.ko' || die "unpacking $PACKAGE failed"
  cp "$WORK"/x/boot/vmlinuz-* "$KDIR/vmlinuz"
  for entry in "${MODULES[@]}"; do
    name=${entry%% *}
    found=$(find "$WORK/x/lib/modules" -name "$name.ko" | head -1)
    [ -n "$found" ] || die "$PACKAGE has no $name.ko"
    cp "$found" "$KDIR/modules/"
  done
  rm -rf "$WORK"
  trap - EXIT
  touch "$KDIR/complete"
fi

# The initramfs: static busybox, the modules and /init.
ROOT=$VMDIR/initramfs
rm -rf "$ROOT" && mkdir -p "$ROOT"/{bin,dev,proc,sys,lib/modules}
cp "$BUSYBOX" "$ROOT/bin/busybox"
cp "$KDIR"/modules/*.ko "$ROOT/lib/modules/"
printf '%s\n' "${MODULES[@]}" >"$ROOT/modules.order"
cp tests/vm/init.sh "$ROOT/init"
(cd "$ROOT" && find . | cpio -o -H newc --quiet | gzip -1) >"$VMDIR/initramfs.cpio.gz"

# The guest. The host's root is shared read-only; the guest's own time-out
# (qrt.limit) is shorter than the host's, so a hung scenario still reports.
# run_guest ACCEL: sets STATUS (QEMU's, 124 when killed on time-out) and
# BOOTED (1 once the guest's init reported; QEMU is killed when that does
# not happen within BOOT_TIMEOUT seconds).
LOG=$VMDIR/console.log
run_guest() {
  local accel_args=(-accel tcg)
  [ "$1" = kvm ] && accel_args=(-accel kvm -cpu host)
  echo "test-vm: booting $PACKAGE ($1, $SMP CPUs); console in $LOG"
  timeout -k 10 "$TIMEOUT" qemu-system-x86_64 "${accel_args[@]}" -smp "$SMP" -m 512 \
    -nographic -no-reboot -nodefaults -serial stdio -monitor none \
    -kernel "$KDIR/vmlinuz" -initrd "$VMDIR/initramfs.cpio.gz" \
    -append "console=ttyS0 loglevel=4 panic=-1 qrt.src=$SRC qrt.build=$BUILD qrt.limit=$((TIMEOUT - 40)) qrt.full=${QRT_VM_FULL:-0} qrt.enum=$ENUM" \
    -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
    -device isa-debug-exit,iobase=0xf4,iosize=0x04 </dev/null >"$LOG" 2>&1 &
  local pid=$! waited=0
  BOOTED=0
  while kill -0 "$pid" 2>/dev/null; do
    if grep -q 'vm-booted ' "$LOG"; then
      BOOTED=1
      break
    fi
    if [ "$waited" -ge "$BOOT_TIMEOUT" ]; then
      kill -TERM "$pid" 2>/dev/null
      break
    fi
    sleep 1
    waited=$((waited + 1))
  done
  set +e
  wait "$pid"
  STATUS=$?
  set -e
  grep -q 'vm-booted ' "$LOG" && BOOTED=1
  return 0
}

if [ "$ACCEL" = kvm ] && { [ ! -r /dev/kvm ] || [ ! -w /dev/kvm ]; }; then
  echo "test-vm: QRT_VM_ACCEL=kvm, but /dev/kvm is missing or not usable: using tcg"
  ACCEL=tcg
fi
START=$(date +%s)
run_guest "$ACCEL"
if [ "$BOOTED" = 0 ] && [ "$ACCEL" = kvm ]; then
  mv "$LOG" "$LOG.kvm"
  echo "test-vm: the guest did not boot under KVM within ${BOOT_TIMEOUT}s (QEMU status $STATUS, console in $LOG.kvm): using tcg"
  ACCEL=tcg
  START=$(date +%s)
  run_guest tcg
fi
ELAPSED=$(($(date +%s) - START))
if [ "$BOOTED" = 0 ]; then
  tr -d '\r' <"$LOG" | grep '^vm-fail ' || true
  die "the guest did not boot within ${BOOT_TIMEOUT}s (QEMU status $STATUS); see $LOG"
fi

tr -d '\r' <"$LOG" | grep -E '^(vm-|  )' || true
PASSED=$(tr -d '\r' <"$LOG" | grep -c '^vm-pass ' || true)
FAILED=$(tr -d '\r' <"$LOG" | grep -c '^vm-fail ' || true)
case $STATUS in
  33) ;;
  35) [ "$FAILED" -gt 0 ] || FAILED=1 ;;
  124 | 137) echo "test-vm: the guest did not finish within ${TIMEOUT}s and was killed"; FAILED=$((FAILED + 1)) ;;
  *) echo "test-vm: the guest ended without a result (QEMU status $STATUS); see $LOG"; FAILED=$((FAILED + 1)) ;;
esac
[ "$PASSED" -gt 0 ] || { [ "$FAILED" -gt 0 ] || FAILED=1; }
echo "test-vm: ${ELAPSED}s"
echo "vm: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
