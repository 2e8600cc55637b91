#!/usr/bin/env bash
# Boots a Debian kernel that has uhid under QEMU (TCG) and runs a test program
# inside it, against the real HID stack (uhid -> HID core -> hidraw).
#
#   run-kernel-test.sh [OPTION...] CACHE_DIR GUEST_PROGRAM [PROGRAM...]
#
# CACHE_DIR keeps the downloaded kernel package between runs. GUEST_PROGRAM and
# every further PROGRAM go into the initramfs under /bin with the shared
# libraries they need; init runs GUEST_PROGRAM with the other programs' guest
# paths as arguments.
#
# --host-root   the guest sees this machine's root file system instead: shared
#               read-only over 9p (QEMU -virtfs), under an overlay whose
#               writes go to a tmpfs, so programs that cannot go into an
#               initramfs (wine) run there. init runs GUEST_PROGRAM there with
#               the further arguments as they are (host paths).
# --env VAR=VALUE  sets VAR for the guest program (--host-root; repeatable).
# --memory MB   the guest's memory (default 256).
# --time-limit S  how long QEMU may run (default 170).
# --name NAME   the test's name in messages (default usb_kernel_hid); the
#               console log is CACHE_DIR/console.log, or console-NAME.log.
#
# The guest program prints
#   DVK-KERNEL-RESULT: <passed> passed, <failed> failed
# as its last line; this script fails unless that line appears with 0 failed.
# It never skips: anything missing is a failure with the reason.
set -uo pipefail

start_ns=$(date +%s%N)
ms() { awk -v ms="$1" 'BEGIN { printf "%.1f", ms / 1000 }'; }
elapsed() { ms $(( ($(date +%s%N) - start_ns) / 1000000 )); }
name=usb_kernel_hid
fail() { echo "$name: FAIL: $*" >&2; echo "$name: total time $(elapsed) s" >&2; exit 1; }

host_root=""
guest_env=()
memory=256
time_limit=170
while [[ $# -gt 0 && $1 == --* ]]; do
  case $1 in
    --host-root) host_root=1; shift ;;
    --env) [[ $# -ge 2 && $2 == *=* ]] || fail "--env needs VAR=VALUE"; guest_env+=("$2"); shift 2 ;;
    --memory) [[ ${2:-} =~ ^[0-9]+$ ]] || fail "--memory needs megabytes"; memory=$2; shift 2 ;;
    --time-limit) [[ ${2:-} =~ ^[0-9]+$ ]] || fail "--time-limit needs seconds"; time_limit=$2; shift 2 ;;
    --name) [[ -n ${2:-} ]] || fail "--name needs a name"; name=$2; shift 2 ;;
    *) fail "unknown option $1" ;;
  esac
done
[[ $# -ge 2 ]] || fail "usage: $0 [--host-root] [--env VAR=VALUE]... [--memory MB] [--time-limit S] [--name NAME] CACHE_DIR GUEST_PROGRAM [PROGRAM...]"
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
if [[ -z $host_root ]]; then
  for p in "$guest_program" "${extra_programs[@]}"; do
    [[ -x $p ]] || fail "program $p is missing (build it first)"
  done
else
  [[ -x $guest_program ]] || fail "program $guest_program is missing (build it first)"
  command -v modinfo >/dev/null || fail "modinfo is missing (install kmod)"
fi

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
  echo "$name: downloading $package"
  download_start_ns=$(date +%s%N)
  # Into a directory of its own first, so an interrupted download leaves no
  # broken package behind in the cache.
  rm -rf "$cache/download"; mkdir -p "$cache/download"
  (cd "$cache/download" && apt-get download "$package" >/dev/null 2>"$cache/download.log") ||
    fail "apt-get download $package failed: $(tail -n3 "$cache/download.log")"
  mv "$cache"/download/linux-image-*.deb "$cache/" 2>/dev/null || fail "apt-get download $package left no package"
  rm -rf "$cache/download"
  deb=$(ls -1 "$cache"/linux-image-*.deb 2>/dev/null | head -n1)
  echo "$name: downloaded $(basename "$deb") in $(ms $(( ($(date +%s%N) - download_start_ns) / 1000000 ))) s"
fi
# The kernel image and the module folders the modules below (and what they
# depend on) come from.
kroot="$cache/root-$(basename "$deb" .deb)"
module_dirs=(drivers/hid drivers/virtio net/9p fs/9p fs/netfs fs/fscache fs/overlayfs)
marker="$kroot/.complete-$(printf '%s\n' "${module_dirs[@]}" | cksum | cut -d' ' -f1)"
if [[ ! -e $marker ]]; then
  rm -rf "$kroot"; mkdir -p "$kroot"
  # Debian 12 keeps the modules in /lib/modules, Debian 13 in /usr/lib/modules;
  # a folder a kernel does not have (fs/fscache, in netfs since 6.8) is left out.
  dpkg-deb --fsys-tarfile "$deb" | tar -t >"$kroot/contents" || fail "cannot list $deb"
  modules_in=$(grep -m1 -oE '^\./(usr/)?lib/modules/' "$kroot/contents") || fail "no modules folder in $deb"
  patterns=('./boot/vmlinuz-*' "${modules_in}*/modules.builtin")
  for d in "${module_dirs[@]}"; do
    ! grep -qE "^${modules_in}[^/]+/kernel/$d/" "$kroot/contents" || patterns+=("${modules_in}*/kernel/$d/*")
  done
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$kroot" --wildcards "${patterns[@]}" ||
    fail "cannot unpack $deb"
  [[ $modules_in == ./lib/modules/ ]] || { mkdir -p "$kroot/lib" && mv "$kroot/$modules_in" "$kroot/lib/modules"; } ||
    fail "cannot move $modules_in of $deb"
  touch "$marker"
fi
kernel=$(ls -1 "$kroot"/boot/vmlinuz-* 2>/dev/null | head -n1)
[[ -n $kernel ]] || fail "no kernel image in $deb"

# --- The initramfs ------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/dvk-kernel.XXXXXX") || fail "cannot create a work directory"
trap 'rm -rf "$work"' EXIT
root="$work/root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,modules}
cp "$busybox" "$root/bin/busybox"

# The modules in the order they are loaded. With --host-root, what they
# depend on (modinfo) comes first; a module built into the kernel is left out.
modules=()
module_file() {  # name: its file; the kernel takes - and _ as the same
  find "$kroot/lib/modules" \( -name "$1.ko*" -o -name "${1//-/_}.ko*" -o -name "${1//_/-}.ko*" \) | head -n1
}
add_module() {
  local m=$1 src dep
  [[ " ${modules[*]} " == *" $m "* ]] && return 0
  src=$(module_file "$m")
  if [[ -z $src ]]; then
    grep -Eq "/(${m//-/_}|${m//_/-})\.ko" "$kroot"/lib/modules/*/modules.builtin 2>/dev/null && return 0
    fail "module $m is not in $deb (looked in ${module_dirs[*]})"
  fi
  if [[ -n $host_root ]]; then
    for dep in $(modinfo -F depends "$src" | tr ',' ' '); do add_module "$dep"; done
  fi
  case $src in
    *.xz) xz -dc "$src" >"$root/modules/$m.ko" || fail "cannot decompress $src" ;;
    *) cp "$src" "$root/modules/$m.ko" ;;
  esac
  modules+=("$m")
}
for m in hid hid-generic uhid; do add_module "$m"; done
[[ -n $host_root ]] && for m in virtio_pci 9pnet_virtio 9p overlay; do add_module "$m"; done

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
# Words for init's shell, each in single quotes.
quote() { local w q=""; for w in "$@"; do q+=" '${w//\'/\'\\\'\'}'"; done; printf '%s' "$q"; }
if [[ -z $host_root ]]; then
  guest_args=()
  copy_with_libraries "$guest_program" || fail "cannot copy $guest_program into the initramfs"
  for p in "${extra_programs[@]}"; do
    copy_with_libraries "$p" || fail "cannot copy $p into the initramfs"
    guest_args+=("/bin/$(basename "$p")")
  done
  run_guest="/bin/$(basename "$guest_program")$(quote "${guest_args[@]}")"
else
  # This machine's root, read-only, under a tmpfs overlay; the guest's own
  # /proc, /sys, /dev and /run over it.
  run_guest="mkdir -p /host /rw /newroot
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /host || echo 'FAIL: mount of the host root (9p)'
mount -t tmpfs -o mode=0755 tmpfs /rw && mkdir -p /rw/upper /rw/work
mount -t overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work overlay /newroot || echo 'FAIL: overlay over the host root'
mount -t proc proc /newroot/proc
mount -t sysfs sysfs /newroot/sys
mount -t devtmpfs devtmpfs /newroot/dev
mkdir -p /newroot/dev/shm /newroot/dev/pts
mount -t tmpfs tmpfs /newroot/dev/shm
mount -t devpts devpts /newroot/dev/pts
mount -t tmpfs tmpfs /newroot/run
echo \"DVK-KERNEL-ROOT: \$(cut -d' ' -f1 /proc/uptime)\"
env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root LANG=C.UTF-8$(quote "${guest_env[@]}") chroot /newroot$(quote "$guest_program" "${extra_programs[@]}")"
fi

cat >"$root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
echo "DVK-KERNEL-BOOTED: \$(cut -d' ' -f1 /proc/uptime)"
for m in ${modules[*]}; do
  insmod /modules/\$m.ko || echo "FAIL: insmod \$m.ko"
done
[ -e /dev/uhid ] || echo "DVK-KERNEL-NOTE: /dev/uhid is missing"
$run_guest </dev/null
echo "DVK-KERNEL-EXIT: \$?"
sync
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 >"$work/initramfs.gz") || fail "cannot build the initramfs"

# --- Boot -------------------------------------------------------------------------
log="$cache/console.log"
[[ $name == usb_kernel_hid ]] || log="$cache/console-$name.log"
share=()
[[ -n $host_root ]] && share=(-virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap")
echo "$name: booting $(basename "$kernel") under QEMU (TCG), console log in $log"
boot_start_ns=$(date +%s%N)
booted=""
rooted=""
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
    DVK-KERNEL-ROOT:*) rooted=$(( ($(date +%s%N) - boot_start_ns) / 1000000 )) ;;
    DVK-KERNEL-RESULT:*) result=${line#DVK-KERNEL-RESULT: }; echo "$line" ;;
    DVK-KERNEL-EXIT:*) exit_line=${line#DVK-KERNEL-EXIT: } ;;
    DVK-QEMU-STATUS:*) qemu_status=${line#DVK-QEMU-STATUS: } ;;
    PASS:*|FAIL:*|DVK-*|'  '*) echo "$line" ;;
  esac
done < <(: >"$log"; timeout "$time_limit" qemu-system-x86_64 -accel tcg -m "$memory" -smp 1 -kernel "$kernel" \
           -initrd "$work/initramfs.gz" -append "console=ttyS0 panic=-1 quiet" \
           -nographic -no-reboot -monitor none -nic none "${share[@]}" 2>&1; rc=$?; echo; echo "DVK-QEMU-STATUS: $rc")
qemu_ms=$(( ($(date +%s%N) - boot_start_ns) / 1000000 ))

[[ -n $booted ]] && echo "$name: boot time $(ms "$booted") s (QEMU start to init)"
[[ -n $rooted ]] && echo "$name: the host root mounted $(ms "$rooted") s after QEMU's start"
echo "$name: QEMU ran $(ms "$qemu_ms") s; total time $(elapsed) s"

[[ $qemu_status == 124 ]] && fail "QEMU did not finish within $time_limit s (see $log)"
[[ -n $booted ]] || fail "the guest never reached init (QEMU status ${qemu_status:-unknown}, see $log)"
[[ -n $result ]] || fail "the guest printed no result line (guest program status ${exit_line:-unknown}, see $log)"
[[ $exit_line == 0 ]] || fail "the guest program exited with status ${exit_line:-unknown}: $result"
[[ $result =~ ^[0-9]+\ passed,\ 0\ failed ]] || fail "$result"
[[ $result =~ ^0\ passed ]] && fail "no check ran"
echo "$name: PASS ($result)"
