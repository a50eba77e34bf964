#!/usr/bin/env bash
# Installs, from Debian 12, what the build and the tests need; does nothing for what is there.
# Usage: scripts/install-deps.sh [--mipsel]   (--mipsel adds the cross toolchain and qemu-user)
set -euo pipefail

native=(cmake ninja-build g++ clang-14 libclang-rt-14-dev libclang-common-14-dev llvm-14
        pkg-config libboost-dev libboost-date-time-dev libjsoncpp-dev libfmt-dev
        libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libsqlite3-dev
        binutils valgrind)
mipsel=(g++-mipsel-linux-gnu binutils-mipsel-linux-gnu qemu-user libc6:mipsel libatomic1:mipsel
        libjsoncpp-dev:mipsel libgtest-dev:mipsel libgmock-dev:mipsel libfmt-dev:mipsel)

want=("${native[@]}")
if [[ "${1:-}" == "--mipsel" ]]; then
  if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
    sudo_cmd=""; [[ $(id -u) -ne 0 ]] && sudo_cmd="sudo"
    $sudo_cmd dpkg --add-architecture mipsel
  fi
  want+=("${mipsel[@]}")
fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=""; [[ $(id -u) -ne 0 ]] && sudo_cmd="sudo"
  echo "Installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
