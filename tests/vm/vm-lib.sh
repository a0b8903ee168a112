# Boots Debian's own kernel under QEMU (software emulation) with an initramfs of busybox, the
# HID modules and our statically linked programs. Sourced by the VM tests; each test gives
# its guest steps (a busybox sh script) and checks the serial output on the host.
#
#   vm_kernel CACHE            Debian's kernel package, fetched once: sets VM_VMLINUX, VM_MODULES
#   vm_initramfs WORK STEPS PROGRAM...   WORK/initramfs.cpio; programs go to /bin, and
#                              VM_FILES entries "HOST_PATH=GUEST_PATH" (a TX.ini, say) beside them
#   vm_boot WORK               WORK/serial.log; the guest's lines start with "KORVEL-VM "
#
# A function that cannot go on sets VM_SKIP (the reason the test cannot run on this machine)
# or VM_ERROR and returns 1.

VM_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
VM_MODULE_NAMES=(hid uhid hid-generic)  # insmod order: HID core (with hidraw), uhid, the driver
VM_FILES=()

# The ELF image inside a bzImage (PVH direct boot needs it): the first compressed payload
# that unpacks to an ELF file.
vm_extract_elf() {  # bzImage out
  local magic tool offset
  for magic in 'xz:\xFD7zXZ\x00' 'gzip:\x1F\x8B\x08' 'zstd:\x28\xB5\x2F\xFD'; do
    tool=${magic%%:*}
    command -v "$tool" >/dev/null || continue
    for offset in $(LC_ALL=C grep -obUaP "${magic#*:}" "$1" 2>/dev/null | cut -d: -f1); do
      case $tool in
        xz) tail -c +$((offset + 1)) "$1" | xz -dc --single-stream >"$2" 2>/dev/null ;;
        gzip) tail -c +$((offset + 1)) "$1" | gzip -dc >"$2" 2>/dev/null ;;
        zstd) tail -c +$((offset + 1)) "$1" | zstd -dcq >"$2" 2>/dev/null ;;
      esac
      [ "$(head -c 4 "$2" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] && return 0
    done
  done
  rm -f "$2"
  return 1
}

# Debian's current kernel package for amd64. The metapackage names it: a pattern such as
# linux-image-6.1.0-*-amd64 matches every ABI in the archive and the cloud and rt flavours.
# Asking apt takes over a second, so the answer is kept until apt's package lists change.
vm_kernel_package() {  # cache folder
  local lists key package
  lists=$(stat -c %Y /var/lib/apt/lists 2>/dev/null)
  key="lists ${lists:-none}"
  if [ -n "$lists" ] && [ -f "$1/package" ] && [ "$(head -n 1 "$1/package")" = "$key" ]; then
    sed -n 2p "$1/package"
    return
  fi
  package=$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9.]*-[0-9]*-amd64\)$/\1/p' | head -n 1)
  [ -n "$package" ] && printf '%s\n%s\n' "$key" "$package" >"$1/package"
  echo "$package"
}

vm_kernel() {  # cache folder
  local cache=$1 package dir tmp deb
  mkdir -p "$cache" || { VM_ERROR="cannot create $cache"; return 1; }
  package=$(vm_kernel_package "$cache")
  dir=""
  if [ -n "$package" ] && [ -f "$cache/$package/complete" ]; then
    dir=$cache/$package
  elif [ -n "$package" ]; then
    echo "vm: fetching $package (once; kept in $cache)"
    tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
    if (cd "$tmp" && apt-get download "$package" >download.log 2>&1); then
      deb=$(ls "$tmp"/*.deb)
      mkdir -p "$tmp/x" "$tmp/k"
      if dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$tmp/x" --wildcards './boot/vmlinuz-*' \
          './lib/modules/*/kernel/drivers/hid/hid.ko' './lib/modules/*/kernel/drivers/hid/uhid.ko' \
          './lib/modules/*/kernel/drivers/hid/hid-generic.ko' 2>"$tmp/extract.log" &&
          vm_extract_elf "$tmp"/x/boot/vmlinuz-* "$tmp/k/vmlinux"; then
        cp "$tmp"/x/lib/modules/*/kernel/drivers/hid/*.ko "$tmp/k/"
        basename "$tmp"/x/boot/vmlinuz-* | sed 's/^vmlinuz-//' >"$tmp/k/release"
        mv "$deb" "$cache/"
        touch "$tmp/k/complete"
        rm -rf "${cache:?}/$package"
        mv "$tmp/k" "$cache/$package"
        dir=$cache/$package
      else
        echo "vm: $package has no usable kernel image or HID modules:"
        cat "$tmp/extract.log"
      fi
    else
      echo "vm: apt-get download $package failed:"
      tail -n 3 "$tmp/download.log"
    fi
    rm -rf "$tmp"
  fi
  if [ -z "$dir" ]; then
    # Offline, or the archive moved on: an earlier download still boots.
    dir=$(ls -dt "$cache"/*/complete 2>/dev/null | head -n 1)
    dir=${dir%/complete}
    [ -n "$dir" ] && echo "vm: using the cached kernel $(basename "$dir")"
  fi
  if [ -z "$dir" ]; then
    if [ -z "$package" ]; then
      VM_SKIP="apt knows no linux-image-amd64 (no Debian package lists?) and nothing is cached in $cache"
    else
      VM_SKIP="Debian's kernel package $package could not be fetched and nothing is cached in $cache"
    fi
    return 1
  fi
  VM_VMLINUX=$dir/vmlinux
  VM_MODULES=$dir
  VM_RELEASE=$(cat "$dir/release")
  return 0
}

vm_initramfs() {  # work steps-script program...
  local work=$1 steps=$2 root busybox program module
  shift 2
  busybox=$(command -v busybox) || { VM_SKIP="busybox is not installed (busybox-static)"; return 1; }
  if ldd "$busybox" >/dev/null 2>&1; then
    VM_SKIP="$busybox is linked dynamically; the guest needs busybox-static"
    return 1
  fi
  root=$work/root
  rm -rf "$root" && mkdir -p "$root"/{bin,lib/modules,proc,sys,dev,run,tmp,etc}
  cp "$busybox" "$root/bin/busybox"
  ln -s busybox "$root/bin/sh"
  for module in "${VM_MODULE_NAMES[@]}"; do cp "$VM_MODULES/$module.ko" "$root/lib/modules/"; done
  for program in "$@"; do
    if [ ! -x "$program" ]; then VM_ERROR="$program is missing (build it first)"; return 1; fi
    if ldd "$program" >/dev/null 2>&1; then VM_ERROR="$program is not linked statically"; return 1; fi
    cp "$program" "$root/bin/"
  done
  local entry
  for entry in "${VM_FILES[@]}"; do
    mkdir -p "$root/$(dirname "${entry#*=}")"
    cp "${entry%%=*}" "$root/${entry#*=}" || { VM_ERROR="cannot put ${entry%%=*} in the guest"; return 1; }
  done
  cp "$VM_LIB_DIR/guest-init.sh" "$root/init"
  cp "$steps" "$root/steps.sh"
  chmod 0755 "$root/init" "$root/steps.sh"
  printf '%s\n' "${VM_MODULE_NAMES[@]}" >"$root/etc/modules"
  # Uncompressed: unpacking gzip in an emulated CPU costs more than the extra bytes.
  (cd "$root" && find . | sort | busybox cpio -o -H newc -R 0:0 >"$work/initramfs.cpio" 2>/dev/null)
}

vm_boot() {  # work [timeout seconds]
  local work=$1 limit=${2:-120}
  command -v qemu-system-x86_64 >/dev/null ||
    { VM_SKIP="qemu-system-x86_64 is not installed (qemu-system-x86)"; return 1; }
  # -accel tcg: software emulation (hardware acceleration is a later option); panic=-1 and
  # -no-reboot end QEMU if /init dies.
  timeout --kill-after=5 "$limit" qemu-system-x86_64 -accel tcg -m 512 -nographic -no-reboot \
    -net none -kernel "$VM_VMLINUX" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 quiet panic=-1" </dev/null >"$work/serial.log" 2>&1
  local status=$?
  # The guest's own lines, without the console's CRs and what the firmware left before the
  # first of them.
  grep -ao 'KORVEL-VM .*' "$work/serial.log" | tr -d '\r' >"$work/guest.log"
  if [ $status -eq 124 ] || [ $status -eq 137 ]; then
    VM_ERROR="the VM did not power off within $limit s"
    return 1
  fi
  if [ $status -ne 0 ]; then
    VM_ERROR="qemu-system-x86_64 exited with $status"
    return 1
  fi
}
