#!/usr/bin/env bash
# Installs what building and testing hxflash needs on a fresh Debian machine:
# the native toolchain and libraries, and for the Windows DLL the mingw-w64
# cross compilers (posix threads) and Wine, 32-bit Wine included (i386); and
# what making and trying the release artifacts needs (scripts/package.sh,
# scripts/release_check.sh): dpkg-shlibdeps and file for CPack's DEB
# generator, git for the commit, lintian, man, unzip; SQLite and libpq for
# the station's history, and a PostgreSQL server for its tests; and for the
# USB tests' virtual machine (scripts/usb-vm.sh) QEMU, a static busybox, udev,
# xz, kmod's depmod, and Debian's kernel package, fetched into its cache
# (never installed as this machine's kernel).
#   --demo  only what the Linux build of the module, hxflash and hxphone
#           needs (scripts/demo.sh): no test libraries, no cross compilers,
#           no Wine, no release tools, no i386 architecture, no test machine.
set -euo pipefail
linux_build=(build-essential cmake ninja-build libcli11-dev libfmt-dev nlohmann-json3-dev zlib1g-dev git
            libsqlite3-dev libpq-dev)
tests_and_releases=(clang libclang-rt-dev googletest libgtest-dev libgmock-dev libbenchmark-dev strace
                    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev wine64 wine wine32:i386
                    dpkg-dev file lintian man-db unzip postgresql
                    qemu-system-x86 busybox-static udev xz-utils kmod)
usb_machine=1
case "${1:-}" in
  "") packages=("${linux_build[@]}" "${tests_and_releases[@]}") ;;
  --demo) packages=("${linux_build[@]}"); usb_machine=0 ;;
  *) echo "usage: install-deps.sh [--demo]" >&2; exit 2 ;;
esac
SUDO=""; [[ $(id -u) -ne 0 ]] && SUDO=sudo

update=0
needs_i386=0
for p in "${packages[@]}"; do [[ $p == *:i386 ]] && needs_i386=1; done
if ((needs_i386)) && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  update=1
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  update=1
fi
# The USB tests' kernel is found through the package lists.
if ((usb_machine)); then
  apt-cache depends linux-image-amd64 2>/dev/null | grep -q 'Depends: linux-image-' || update=1
fi
# A mirror caught mid-sync fails an update now and then: try again a little
# later, and at last go on with the lists that did arrive (the install then
# says whether they were enough).
if ((update)); then
  for attempt in 1 2 3; do
    $SUDO apt-get update && break
    if ((attempt == 3)); then
      echo "install-deps: apt-get update failed three times; going on with the package lists there are" >&2
    else
      sleep $((attempt * 10))
    fi
  done
fi
apt_install() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "$@"; }
if ((${#missing[@]})) && ! apt_install "${missing[@]}"; then
  # 32-bit Wine needs the i386 lists to match the amd64 ones; a mirror whose
  # i386 lists are broken cannot give it. Everything else is installed then,
  # and the runs that need 32-bit Wine say plainly that they cannot run.
  rest=()
  for p in "${missing[@]}"; do [[ $p == wine32:i386 ]] || rest+=("$p"); done
  ((${#rest[@]} < ${#missing[@]})) || exit 1
  ((${#rest[@]} == 0)) || apt_install "${rest[@]}"
  echo "install-deps: WARNING: 32-bit Wine (wine32:i386) cannot be installed from this mirror;" \
       "the 32-bit DLL is built but not run" >&2
fi
# Debian's kernel for the USB tests' virtual machine, resolved from the
# linux-image-amd64 metapackage, fetched and unpacked into the script's cache.
if ((usb_machine)) && ! bash "$(dirname "$0")/usb-vm.sh" --prepare; then
  echo "install-deps: WARNING: the USB tests' virtual machine could not be prepared (see above)" >&2
fi
