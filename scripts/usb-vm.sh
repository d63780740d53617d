#!/usr/bin/env bash
# Runs one command in a small virtual machine that has a real Linux USB stack:
# Debian's own kernel under qemu-system-x86_64, with dummy_hcd joining USB
# device controllers (the phone's side: a configfs gadget, /dev/ttyGS<n>) to a
# USB host controller (the station's side: the kernel's cdc-acm, /dev/ttyACM<n>).
#
#   usb-vm.sh [OPTIONS] [--] COMMAND [ARGS...]
#   usb-vm.sh --prepare          fetch and unpack the kernel, build the initramfs
#   usb-vm.sh --help
#
# The guest sees this machine's root read-only (9p), so the binaries just built
# run there unchanged; /tmp, /run, /var/tmp and /dev/shm are its own tmpfs
# (this machine's /tmp is not visible there: hand files in from elsewhere).
# /proc, /sys, configfs (/sys/kernel/config) and devtmpfs (/dev) are the
# guest's. The command runs as root in this machine's current folder, with its
# standard output and error handed back as it runs, and its exit status is this
# script's.
#
# Options:
#   --sockets N        USB sockets: dummy_hcd controllers, each a UDC in
#                      /sys/class/udc (default 4, at most 32)
#   --high-speed       the link at high speed (default: full speed)
#   --udev             start systemd-udevd in the guest and let it settle
#   --udev-rules FILE  a rules file placed in /run/udev/rules.d before udevd
#                      starts (implies --udev; may be given again)
#   --user NAME:GROUP[,GROUP...]
#                      a guest-only user NAME (uid and gid 4242, home under
#                      /tmp) who is a member of the GROUPs; run as it with
#                      `runuser -u NAME -- ...`
#   --writable DIR     DIR of this machine writable in the guest at the same
#                      path (may be given again)
#   --env NAME=VALUE   set in the command's environment (may be given again);
#                      CI is passed on as it is here
#   --console FILE     keep the guest's kernel console there (default: shown
#                      only when the guest fails)
#   --memory MB        guest memory (default 1024)
#   --timeout SECONDS  the whole run's bound, boot included (default 900)
#   --cache DIR        where the kernel and initramfs are kept (default
#                      $HXFLASH_USB_VM_CACHE, else ${XDG_CACHE_HOME:-~/.cache}/hxflash/usb-vm)
#
# Exit status: the command's; 77 when no virtual machine can be started here
# (a WARNING line says why; under CI=true that is an error, status 125
# instead); 125 when the guest started but did not finish (timed out, crashed)
# or this script was used wrongly.
#
# KVM is used only where the processor shows hardware virtualization (vmx or
# svm in /proc/cpuinfo): a paravirtual /dev/kvm without it hangs Debian's
# kernel. Elsewhere the guest runs under TCG with -cpu qemu64 (with -cpu max,
# Wine's processes die in a guest kernel oops).
set -euo pipefail

readonly NOT_RUN=77
readonly GUEST_FAILED=125
script_dir=$(cd "$(dirname "$0")" && pwd)
# Bumped whenever what goes into the initramfs changes, so cached ones are rebuilt.
readonly INITRAMFS_VERSION=1
# Loaded in this order, each after its own dependencies (modules.dep).
readonly GUEST_MODULES=(virtio_pci 9pnet_virtio 9p configfs libcomposite u_serial usb_f_acm dummy_hcd cdc-acm)

sockets=4
high_speed=0
udev=0
udev_rules=()
users=()
writable=()
envs=()
console_copy=""
memory=1024
timeout_s=900
cache=${HXFLASH_USB_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/hxflash/usb-vm}
prepare_only=0

say() { echo "usb-vm: $*" >&2; }
usage_error() { say "$*"; exit "$GUEST_FAILED"; }

# A machine that cannot start a guest: not run, or under CI a failure.
cannot_start() {
  if [[ ${CI:-} == true ]]; then
    echo "usb-vm: ERROR: no USB test machine can be started here: $*" >&2
    exit "$GUEST_FAILED"
  fi
  echo "usb-vm: WARNING: no USB test machine can be started here: $* (the USB tests did not run)" >&2
  exit "$NOT_RUN"
}

parse_options() {
  while (($#)); do
    case "$1" in
      --sockets) sockets=${2:?}; shift 2 ;;
      --high-speed) high_speed=1; shift ;;
      --udev) udev=1; shift ;;
      --udev-rules) udev=1; udev_rules+=("$(realpath "${2:?}")"); shift 2 ;;
      --user) users+=("${2:?}"); shift 2 ;;
      --writable) writable+=("$(realpath "${2:?}")"); shift 2 ;;
      --env) envs+=("${2:?}"); shift 2 ;;
      --console) console_copy=${2:?}; shift 2 ;;
      --memory) memory=${2:?}; shift 2 ;;
      --timeout) timeout_s=${2:?}; shift 2 ;;
      --cache) cache=${2:?}; shift 2 ;;
      --prepare) prepare_only=1; shift ;;
      -h|--help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
      --) shift; break ;;
      -*) usage_error "unknown option '$1'" ;;
      *) break ;;
    esac
  done
  command_args=("$@")
  [[ $sockets =~ ^[0-9]+$ ]] && ((sockets >= 1 && sockets <= 32)) || usage_error "--sockets takes 1 to 32"
  [[ $memory =~ ^[0-9]+$ ]] && ((memory >= 256)) || usage_error "--memory takes at least 256 (MB)"
  [[ $timeout_s =~ ^[0-9]+$ ]] && ((timeout_s >= 10)) || usage_error "--timeout takes at least 10 (seconds)"
  local u
  for u in "${users[@]}"; do
    [[ $u =~ ^[a-z_][a-z0-9_-]*:[a-z0-9_,-]*$ ]] || usage_error "--user takes NAME:GROUP[,GROUP...], not '$u'"
  done
  for u in "${envs[@]}"; do
    [[ $u =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || usage_error "--env takes NAME=VALUE, not '$u'"
  done
  ((prepare_only || ${#command_args[@]})) || usage_error "no command given (usb-vm.sh [OPTIONS] -- COMMAND [ARGS...])"
}

check_tools() {
  local tool
  for tool in qemu-system-x86_64 busybox xz dpkg-deb apt-get apt-cache flock timeout; do
    command -v "$tool" >/dev/null || cannot_start "$tool is missing (scripts/install-deps.sh installs it)"
  done
  [[ -x /usr/sbin/depmod || -x /sbin/depmod ]] || cannot_start "depmod is missing (package kmod; scripts/install-deps.sh installs it)"
  file -L "$(command -v busybox)" 2>/dev/null | grep -q 'statically linked' \
    || cannot_start "busybox is not the static one (package busybox-static)"
}

# The real package behind Debian's kernel metapackage, e.g. linux-image-6.1.0-57-amd64.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n 1
}

# Fetches the package into the cache and keeps from it only what the guest
# needs: the uncompressed kernel and the modules of GUEST_MODULES with what
# they depend on, in load order. Prints the folder it made.
prepare_kernel() {
  local package=$1 dir="$cache/$1"
  if [[ -s $dir/vmlinux && -s $dir/modules.load ]]; then
    echo "$dir"; return
  fi
  local work="$cache/.unpack.$$"
  rm -rf "$work" "$dir"
  mkdir -p "$work"
  (cd "$work" && apt-get download -q "$package" >/dev/null 2>"$work/download.log") \
    || { cat "$work/download.log" >&2; rm -rf "$work"; return 1; }
  dpkg-deb -x "$work"/"$package"_*.deb "$work/root" || { rm -rf "$work"; return 1; }
  local release=${package#linux-image-}
  local vmlinuz="$work/root/boot/vmlinuz-$release"
  extract_vmlinux "$vmlinuz" "$work/vmlinux" || { rm -rf "$work"; return 1; }
  local depmod=/usr/sbin/depmod; [[ -x $depmod ]] || depmod=/sbin/depmod
  mkdir -p "$work/keep/modules"
  "$depmod" -b "$work/root" "$release" && resolve_modules "$work/root/lib/modules/$release" "$work/keep" \
    || { rm -rf "$work"; return 1; }
  mv "$work/vmlinux" "$work/keep/vmlinux"
  mv "$work/keep" "$dir"
  rm -rf "$work"
  echo "$dir"
}

# vmlinuz holds the kernel as an xz stream that starts with FD 37 7A 58 5A 00;
# the uncompressed ELF boots much faster under -kernel.
extract_vmlinux() {
  local vmlinuz=$1 out=$2 offset
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1)
  [[ -n $offset ]] || { say "no xz stream in $vmlinuz"; return 1; }
  tail -c +$((offset + 1)) "$vmlinuz" | xz -dc --single-stream >"$out" 2>/dev/null || true
  [[ $(head -c 4 "$out" | od -An -tx1 | tr -d ' ') == 7f454c46 ]] || { say "$vmlinuz did not give an ELF kernel"; return 1; }
}

# Copies each module of GUEST_MODULES and its dependencies into KEEP/modules
# and writes KEEP/modules.load, one file name a line, dependencies first.
resolve_modules() {
  local moddir=$1 keep=$2
  local -A loaded=()
  local order=()
  add_module() {
    local name=${1//-/_} line path deps i
    [[ -n ${loaded[$name]:-} ]] && return
    line=$(grep -E "/${name//_/[-_]}\.ko:" "$moddir/modules.dep" || true)
    if [[ -z $line ]]; then
      grep -qE "/${name//_/[-_]}\.ko$" "$moddir/modules.builtin" && { loaded[$name]=builtin; return; }
      say "module $1 is neither in modules.dep nor built in"; return 1
    fi
    path=${line%%:*}
    read -r -a deps <<<"${line#*:}"
    # modules.dep lists a module's dependencies last-loaded first.
    for ((i = ${#deps[@]} - 1; i >= 0; i--)); do
      add_module "$(basename "${deps[i]}" .ko)" || return 1
    done
    loaded[$name]=1
    cp "$moddir/$path" "$keep/modules/"
    order+=("$(basename "$path")")
  }
  local m
  for m in "${GUEST_MODULES[@]}"; do add_module "$m" || return 1; done
  printf '%s\n' "${order[@]}" >"$keep/modules.load"
}

# The guest's first process: loads the modules, mounts this machine's root
# read-only with the guest's own /proc, /sys, /dev and tmpfs folders, and runs
# the run's script (written by this script into the exchange folder) in it.
write_init() {
  cat >"$1" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
stop() { echo "usb-vm guest: $*" >/dev/console; sync; poweroff -f; }
sockets=1; high_speed=0
for word in $(cat /proc/cmdline); do
  case "$word" in
    hxvm.sockets=*) sockets=${word#*=} ;;
    hxvm.high_speed=*) high_speed=${word#*=} ;;
  esac
done
while read -r module; do
  case "$module" in
    dummy_hcd.ko) insmod /modules/$module num=$sockets is_high_speed=$high_speed ;;
    *) insmod /modules/$module ;;
  esac || stop "insmod $module failed"
done </modules.load
R=/newroot
p9() { mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,$3 "$1" "$2"; }
p9 hostroot $R ro,cache=loose || stop "the host's root cannot be mounted"
mount -t proc proc $R/proc
mount -t sysfs sys $R/sys
mount -t configfs configfs $R/sys/kernel/config
mount -t devtmpfs dev $R/dev
mkdir -p $R/dev/pts $R/dev/shm
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts $R/dev/pts
mount -t tmpfs -o mode=1777 shm $R/dev/shm
ln -sf /proc/self/fd $R/dev/fd
ln -sf /proc/self/fd/0 $R/dev/stdin
ln -sf /proc/self/fd/1 $R/dev/stdout
ln -sf /proc/self/fd/2 $R/dev/stderr
for d in tmp var/tmp; do mount -t tmpfs -o mode=1777 tmp $R/$d; done
mount -t tmpfs -o mode=755 run $R/run
mkdir -p $R/run/usb-vm
p9 exchange $R/run/usb-vm rw,cache=none || stop "the exchange folder cannot be mounted"
i=0
while read -r dir; do
  p9 writable$i "$R$dir" rw,cache=none || stop "$dir cannot be mounted writable"
  i=$((i + 1))
done <$R/run/usb-vm/writable
ip link set lo up
touch $R/run/usb-vm/booted
chroot $R /usr/bin/env -i /bin/bash /run/usb-vm/run.sh
stop "done"
INIT
}

prepare_initramfs() {
  local kernel_dir=$1 out="$1/initramfs-$INITRAMFS_VERSION.cpio"
  if [[ ! -s $out ]]; then
    local root="$cache/.initramfs.$$"
    rm -rf "$root"
    mkdir -p "$root"/{bin,proc,sys,dev,newroot,modules}
    cp "$(command -v busybox)" "$root/bin/busybox"
    cp "$kernel_dir"/modules/*.ko "$root/modules/"
    cp "$kernel_dir/modules.load" "$root/modules.load"
    write_init "$root/init"
    chmod 755 "$root/init"
    (cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null) >"$out.tmp"
    mv "$out.tmp" "$out"
    rm -rf "$root"
  fi
  echo "$out"
}

# Resolves, fetches and unpacks the kernel once per package version, under a
# lock so that runs started together share the work. Prints the kernel's folder.
prepare() {
  mkdir -p "$cache"
  exec 9>"$cache/.lock"
  flock -w 600 9 || cannot_start "the cache $cache stayed locked for 10 minutes"
  local package dir
  # Asking apt-cache takes seconds: asked again only when the package lists
  # changed since the kernel in the cache was resolved.
  dir=$(ls -d "$cache"/linux-image-* 2>/dev/null | sort -V | tail -n 1)
  if [[ -n $dir && -e $cache/.resolved && -s $dir/initramfs-$INITRAMFS_VERSION.cpio ]] \
     && [[ -z $(find /var/lib/apt/lists -maxdepth 1 -name '*Packages*' -newer "$cache/.resolved" 2>/dev/null | head -n 1) ]]; then
    flock -u 9
    echo "$dir"; return
  fi
  package=$(kernel_package)
  if [[ -z $package ]]; then
    # Offline or without package lists: the newest kernel already unpacked.
    [[ -n $dir && -s $dir/vmlinux ]] \
      || cannot_start "apt-cache finds no linux-image-amd64 (run apt-get update) and no kernel is in $cache"
  else
    dir=$(prepare_kernel "$package") || cannot_start "Debian's kernel package $package cannot be fetched or unpacked"
    touch "$cache/.resolved"
    # Older kernels, replaced by an update, go.
    local old
    for old in "$cache"/linux-image-*; do
      [[ $old == "$dir" || ! -d $old ]] || rm -rf "$old"
    done
  fi
  prepare_initramfs "$dir" >/dev/null
  flock -u 9
  echo "$dir"
}

accelerator() {
  if grep -qwE 'vmx|svm' /proc/cpuinfo && [[ -r /dev/kvm && -w /dev/kvm ]]; then
    echo "-accel kvm -cpu host"
  else
    echo "-accel tcg -cpu qemu64"
  fi
}

# The script the guest runs in this machine's root: the udev daemon and the
# guest-only users when asked for, then the command.
write_run_script() {
  local out=$1 entry name groups g rules_dir="$exchange/rules"
  {
    echo 'set -u'
    echo 'export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp/root LANG=C.UTF-8'
    echo 'export SYSTEMD_IGNORE_CHROOT=1'  # udevadm trigger, settle and control do nothing in a chroot without it
    [[ -n ${CI:-} ]] && printf 'export CI=%q\n' "$CI"
    for g in "${envs[@]}"; do printf 'export %q=%q\n' "${g%%=*}" "${g#*=}"; done
    echo 'mkdir -p /tmp/root'
    if ((${#users[@]})); then
      echo 'cp /etc/passwd /etc/group /run/usb-vm/etc/'
      for entry in "${users[@]}"; do
        name=${entry%%:*}; groups=${entry#*:}
        printf 'echo %q >>/run/usb-vm/etc/passwd\n' "$name:x:4242:4242::/tmp/$name:/bin/bash"
        printf 'echo %q >>/run/usb-vm/etc/group\n' "$name:x:4242:"
        printf 'mkdir -p /tmp/%q && chown 4242:4242 /tmp/%q\n' "$name" "$name"
        IFS=, read -r -a glist <<<"$groups"
        for g in "${glist[@]}"; do
          [[ -n $g ]] || continue
          # Appended to the group's member list (comma only if it has members).
          printf "sed -i -E '/^%s:/{s/:\$/:%s/;t;s/\$/,%s/}' /run/usb-vm/etc/group\n" "$g" "$name" "$name"
        done
      done
      echo 'mount --bind /run/usb-vm/etc/passwd /etc/passwd && mount --bind /run/usb-vm/etc/group /etc/group'
    fi
    if ((udev)); then
      echo 'mkdir -p /run/udev/rules.d'
      ((${#udev_rules[@]})) && echo 'cp /run/usb-vm/rules/* /run/udev/rules.d/'
      echo '/lib/systemd/systemd-udevd --daemon >/dev/null 2>&1 || echo "usb-vm: systemd-udevd did not start" >&2'
      # Only what a phone's port needs is there before: the USB host's root hubs and ttys.
      echo 'udevadm trigger --action=add --subsystem-match=usb --subsystem-match=tty'
      echo 'udevadm settle --timeout=30'
    fi
    printf 'cd %q 2>/dev/null || cd /\n' "$PWD"
    printf '%q ' "${command_args[@]}"
    echo '>/run/usb-vm/stdout 2>/run/usb-vm/stderr </dev/null'
    echo 'echo $? >/run/usb-vm/status'
  } >"$out"
  if ((${#udev_rules[@]})); then
    mkdir -p "$rules_dir"
    cp "${udev_rules[@]}" "$rules_dir/"
  fi
}

main() {
  parse_options "$@"
  check_tools
  local kernel_dir
  kernel_dir=$(prepare)
  ((prepare_only)) && { say "ready: $kernel_dir"; return 0; }

  exchange=$(mktemp -d "${TMPDIR:-/tmp}/usb-vm.XXXXXX")
  qemu=""
  # A run that is stopped (a test's time-out) stops its guest too.
  trap '[[ -z $qemu ]] || kill "$qemu" 2>/dev/null; rm -rf "$exchange"' EXIT
  trap 'exit 143' TERM INT HUP
  mkdir -p "$exchange/etc"
  printf '%s\n' "${writable[@]}" >"$exchange/writable"
  [[ ${#writable[@]} -eq 0 ]] && : >"$exchange/writable"
  write_run_script "$exchange/run.sh"
  : >"$exchange/stdout"; : >"$exchange/stderr"

  local shares=(-virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap"
                -virtfs "local,path=$exchange,mount_tag=exchange,security_model=none,multidevs=remap")
  local i
  for i in "${!writable[@]}"; do
    shares+=(-virtfs "local,path=${writable[i]},mount_tag=writable$i,security_model=none,multidevs=remap")
  done
  # shellcheck disable=SC2046  # the accelerator's words are separate options
  timeout --foreground --kill-after=10 "$timeout_s" qemu-system-x86_64 -nodefaults -no-user-config -display none \
    -machine pc $(accelerator) -smp 1 -m "$memory" -no-reboot \
    -kernel "$kernel_dir/vmlinux" -initrd "$kernel_dir/initramfs-$INITRAMFS_VERSION.cpio" \
    -append "console=ttyS0 loglevel=4 printk.time=1 panic=-1 rdinit=/init hxvm.sockets=$sockets hxvm.high_speed=$high_speed" \
    -serial "file:$exchange/console.log" "${shares[@]}" </dev/null >"$exchange/qemu.log" 2>&1 &
  qemu=$!
  tail -n +1 -s 0.2 -f --pid="$qemu" "$exchange/stdout" &
  local tail_out=$!
  tail -n +1 -s 0.2 -f --pid="$qemu" "$exchange/stderr" >&2 &
  local tail_err=$!
  local qemu_status=0
  wait "$qemu" || qemu_status=$?
  qemu=""
  wait "$tail_out" "$tail_err" || true
  [[ -z $console_copy ]] || cp "$exchange/console.log" "$console_copy"

  if [[ ! -e $exchange/booted ]]; then
    sed 's/^/usb-vm: qemu: /' "$exchange/qemu.log" >&2
    tail -n 20 "$exchange/console.log" | sed 's/^/usb-vm: guest: /' >&2
    cannot_start "the guest did not boot (qemu status $qemu_status)"
  fi
  if [[ ! -s $exchange/status ]]; then
    tail -n 30 "$exchange/console.log" | sed 's/^/usb-vm: guest: /' >&2
    if ((qemu_status == 124 || qemu_status == 137)); then
      say "the guest did not finish within $timeout_s s"
    else
      say "the guest ended without the command's exit status (qemu status $qemu_status)"
    fi
    exit "$GUEST_FAILED"
  fi
  return "$(<"$exchange/status")"
}

main "$@"
