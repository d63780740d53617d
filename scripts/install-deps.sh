#!/usr/bin/env bash
# Installs what building and testing hxflash needs on a fresh Debian machine.
set -euo pipefail
packages=(build-essential cmake ninja-build clang libclang-rt-dev googletest libgtest-dev libgmock-dev
          libbenchmark-dev libcli11-dev libfmt-dev nlohmann-json3-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
