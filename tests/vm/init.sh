#!/bin/busybox sh
# /init of the virtual board's guest: loads the USB gadget and HID stacks of
# Debian's kernel, shares the host's root read-only over 9p and runs the
# scenarios in a chroot of it, so the host's own build runs unchanged. The
# result leaves through the isa-debug-exit port (QEMU itself exits 0 on any
# power-off) and a console line the host script reads.
/bin/busybox --install -s /bin
export PATH=/bin

fail() {
  echo "vm-fail guest: $*"
  finish 1
}

finish() {
  echo "vm-guest-exit $1"
  # isa-debug-exit at 0xf4: QEMU exits with (value << 1) | 1, so 0x10 gives 33
  # for a pass and 0x11 gives 35 for a failure.
  if [ "$1" = 0 ]; then value='\020'; else value='\021'; fi
  printf "$value" | dd of=/dev/port bs=1 seek=244 count=1 2>/dev/null
  poweroff -f
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys
# CONFIG_DEVTMPFS_MOUNT is off in Debian's kernel.
mount -t devtmpfs devtmpfs /dev

arg() {
  for word in $(cat /proc/cmdline); do
    case "$word" in "$1="*) echo "${word#*=}"; return ;; esac
  done
}
SRC=$(arg qrt.src)
BUILD=$(arg qrt.build)
LIMIT=$(arg qrt.limit)
FULL=$(arg qrt.full)
ENUM=$(arg qrt.enum)
[ -n "$SRC" ] && [ -n "$BUILD" ] || fail "qrt.src and qrt.build missing on the kernel command line"

# No modules.dep in the initramfs: insmod in dependency order, one per line
# with its parameters.
while read -r module params; do
  [ -n "$module" ] || continue
  insmod "/lib/modules/$module.ko" $params || fail "insmod $module"
done < /modules.order

mkdir -p /host
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /host ||
  fail "9p mount of the host's root"
for d in dev proc sys run tmp; do
  [ -d "/host/$d" ] || fail "/$d missing on the host"
done
mount -t devtmpfs devtmpfs /host/dev
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
# The fresh /run and /tmp would hide a source or build tree that lives under
# them on the host (a clone in /tmp): keep such trees visible through binds.
binds=""
for tree in "$SRC" "$BUILD"; do
  case "$tree" in
    /run/* | /tmp/*)
      keep="/keep$(echo "$tree" | tr / _)"
      mkdir -p "$keep" && mount -o bind "/host$tree" "$keep" || fail "bind of $tree"
      binds="$binds $tree:$keep"
      ;;
  esac
done
mount -t tmpfs -o mode=0755 tmpfs /host/run
mount -t tmpfs -o mode=1777 tmpfs /host/tmp
# What the package's tmpfiles entry makes at boot: the shared folder of the
# device lock (without it every run warns that it falls back to /tmp).
mkdir -p /host/run/lock/qrt4250 && chmod 1777 /host/run/lock/qrt4250 || fail "lock folder"
for pair in $binds; do
  tree=${pair%%:*}
  mkdir -p "/host$tree" && mount -o bind "${pair#*:}" "/host$tree" || fail "bind of $tree"
done
mount -t configfs configfs /host/sys/kernel/config || fail "configfs mount"

echo "vm-booted $(cut -d' ' -f1 /proc/uptime)"
chroot /host /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp LANG=C.UTF-8 QRT_VM_FULL="${FULL:-0}" \
  QRT_VM_ENUM="${ENUM:-0}" \
  /usr/bin/timeout -k 5 "${LIMIT:-540}" /bin/bash "$SRC/tests/vm/scenarios.sh" "$SRC" "$BUILD"
finish $?
