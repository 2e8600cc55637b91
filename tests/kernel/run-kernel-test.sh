#!/usr/bin/env bash
# Boots a Debian kernel that has uhid under QEMU (TCG) and runs a test program
# inside it, against the real HID stack (uhid -> HID core -> hidraw).
#
#   run-kernel-test.sh CACHE_DIR GUEST_PROGRAM [PROGRAM...]
#
# CACHE_DIR keeps the downloaded kernel package between runs. GUEST_PROGRAM and
# every further PROGRAM go into the initramfs under /bin with the shared
# libraries they need; init runs GUEST_PROGRAM with the other programs' guest
# paths as arguments. The guest program prints
#   DVK-KERNEL-RESULT: <passed> passed, <failed> failed
# as its last line; this script fails unless that line appears with 0 failed.
# It never skips: anything missing is a failure with the reason.
set -uo pipefail

start_ns=$(date +%s%N)
ms() { awk -v ms="$1" 'BEGIN { printf "%.1f", ms / 1000 }'; }
elapsed() { ms $(( ($(date +%s%N) - start_ns) / 1000000 )); }
fail() { echo "usb_kernel_hid: FAIL: $*" >&2; echo "usb_kernel_hid: total time $(elapsed) s" >&2; exit 1; }

[[ $# -ge 2 ]] || fail "usage: $0 CACHE_DIR GUEST_PROGRAM [PROGRAM...]"
cache=$1; shift
guest_program=$1; shift
extra_programs=("$@")

# --- What the host needs -----------------------------------------------------
for tool in qemu-system-x86_64 cpio dpkg-deb ldd gzip; do
  command -v "$tool" >/dev/null || fail "$tool is missing (bash tools/setup.sh lab installs it)"
done
busybox=/bin/busybox
[[ -x $busybox ]] || fail "$busybox is missing (install busybox-static)"
grep -q 'not a dynamic executable' <<<"$(ldd "$busybox" 2>&1)" || fail "$busybox is not statically linked (install busybox-static)"
for p in "$guest_program" "${extra_programs[@]}"; do
  [[ -x $p ]] || fail "program $p is missing (build it first)"
done

# --- The kernel: the image package that linux-image-amd64 depends on --------
mkdir -p "$cache" || fail "cannot create $cache"
deb=$(ls -1 "$cache"/linux-image-*.deb 2>/dev/null | head -n1)
if [[ -z $deb ]]; then
  package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}')
  if [[ -z $package ]]; then
    apt-get update -qq >/dev/null 2>&1
    package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}')
  fi
  [[ -n $package ]] || fail "cannot find the kernel package that linux-image-amd64 depends on (apt-cache depends linux-image-amd64)"
  echo "usb_kernel_hid: downloading $package"
  download_start_ns=$(date +%s%N)
  # Into a directory of its own first, so an interrupted download leaves no
  # broken package behind in the cache.
  rm -rf "$cache/download"; mkdir -p "$cache/download"
  (cd "$cache/download" && apt-get download "$package" >/dev/null 2>"$cache/download.log") ||
    fail "apt-get download $package failed: $(tail -n3 "$cache/download.log")"
  mv "$cache"/download/linux-image-*.deb "$cache/" 2>/dev/null || fail "apt-get download $package left no package"
  rm -rf "$cache/download"
  deb=$(ls -1 "$cache"/linux-image-*.deb 2>/dev/null | head -n1)
  echo "usb_kernel_hid: downloaded $(basename "$deb") in $(ms $(( ($(date +%s%N) - download_start_ns) / 1000000 ))) s"
fi
kroot="$cache/root-$(basename "$deb" .deb)"
if [[ ! -e $kroot/.complete ]]; then
  rm -rf "$kroot"; mkdir -p "$kroot"
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$kroot" --wildcards \
    './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/hid/hid.ko*' \
    './lib/modules/*/kernel/drivers/hid/hid-generic.ko*' './lib/modules/*/kernel/drivers/hid/uhid.ko*' ||
    fail "cannot unpack $deb"
  touch "$kroot/.complete"
fi
kernel=$(ls -1 "$kroot"/boot/vmlinuz-* 2>/dev/null | head -n1)
[[ -n $kernel ]] || fail "no kernel image in $deb"

# --- The initramfs ------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/dvk-kernel.XXXXXX") || fail "cannot create a work directory"
trap 'rm -rf "$work"' EXIT
root="$work/root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,modules}
cp "$busybox" "$root/bin/busybox"

for m in hid hid-generic uhid; do
  src=$(ls -1 "$kroot"/lib/modules/*/kernel/drivers/hid/"$m".ko* 2>/dev/null | head -n1)
  [[ -n $src ]] || fail "module $m is not in $deb"
  case $src in
    *.xz) xz -dc "$src" >"$root/modules/$m.ko" || fail "cannot decompress $src" ;;
    *) cp "$src" "$root/modules/$m.ko" ;;
  esac
done

# Programs with their shared libraries and the loader, at the same paths.
copy_with_libraries() {
  local program=$1
  cp "$program" "$root/bin/$(basename "$program")" || return 1
  # ldd fails for static programs and scripts: they need nothing more.
  { ldd "$program" 2>/dev/null || true; } | awk '/=> \// {print $3} /^\t\// {print $1}' | while read -r lib; do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib" || exit 1
  done
}
guest_args=()
copy_with_libraries "$guest_program" || fail "cannot copy $guest_program into the initramfs"
for p in "${extra_programs[@]}"; do
  copy_with_libraries "$p" || fail "cannot copy $p into the initramfs"
  guest_args+=("/bin/$(basename "$p")")
done

cat >"$root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
echo "DVK-KERNEL-BOOTED: \$(cut -d' ' -f1 /proc/uptime)"
for m in hid hid-generic uhid; do
  insmod /modules/\$m.ko || echo "FAIL: insmod \$m.ko"
done
[ -e /dev/uhid ] || echo "DVK-KERNEL-NOTE: /dev/uhid is missing"
/bin/$(basename "$guest_program") ${guest_args[*]} </dev/null
echo "DVK-KERNEL-EXIT: \$?"
sync
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 >"$work/initramfs.gz") || fail "cannot build the initramfs"

# --- Boot -------------------------------------------------------------------------
log="$cache/console.log"
echo "usb_kernel_hid: booting $(basename "$kernel") under QEMU (TCG), console log in $log"
boot_start_ns=$(date +%s%N)
booted=""
result=""
exit_line=""
qemu_status=""
while IFS= read -r line; do
  line=${line%$'\r'}
  printf '%s\n' "$line" >>"$log"
  # The firmware's terminal codes may stand in front of the first line.
  [[ $line == *DVK-KERNEL-* ]] && line="DVK-KERNEL-${line#*DVK-KERNEL-}"
  case $line in
    DVK-KERNEL-BOOTED:*) booted=$(( ($(date +%s%N) - boot_start_ns) / 1000000 )); echo "$line" ;;
    DVK-KERNEL-RESULT:*) result=${line#DVK-KERNEL-RESULT: }; echo "$line" ;;
    DVK-KERNEL-EXIT:*) exit_line=${line#DVK-KERNEL-EXIT: } ;;
    DVK-QEMU-STATUS:*) qemu_status=${line#DVK-QEMU-STATUS: } ;;
    PASS:*|FAIL:*|DVK-*|'  '*) echo "$line" ;;
  esac
done < <(: >"$log"; timeout 170 qemu-system-x86_64 -accel tcg -m 256 -smp 1 -kernel "$kernel" \
           -initrd "$work/initramfs.gz" -append "console=ttyS0 panic=-1 quiet" \
           -nographic -no-reboot -monitor none -nic none 2>&1; rc=$?; echo; echo "DVK-QEMU-STATUS: $rc")
qemu_ms=$(( ($(date +%s%N) - boot_start_ns) / 1000000 ))

[[ -n $booted ]] && echo "usb_kernel_hid: boot time $(ms "$booted") s (QEMU start to init)"
echo "usb_kernel_hid: QEMU ran $(ms "$qemu_ms") s; total time $(elapsed) s"

[[ $qemu_status == 124 ]] && fail "QEMU did not finish within 170 s (see $log)"
[[ -n $booted ]] || fail "the guest never reached init (QEMU status ${qemu_status:-unknown}, see $log)"
[[ -n $result ]] || fail "the guest printed no result line (guest program status ${exit_line:-unknown}, see $log)"
[[ $exit_line == 0 ]] || fail "the guest program exited with status ${exit_line:-unknown}: $result"
[[ $result =~ ^[0-9]+\ passed,\ 0\ failed ]] || fail "$result"
[[ $result =~ ^0\ passed ]] && fail "no check ran"
echo "usb_kernel_hid: PASS ($result)"
