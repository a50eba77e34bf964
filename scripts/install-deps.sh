#!/usr/bin/env bash
# Installs, from Debian 12, what the build and the tests need; does nothing for what is there.
# Usage: scripts/install-deps.sh [--mipsel] [--browser]
#   --mipsel adds the cross toolchain and qemu-user; --browser adds chromium, which the session
#   report's tests load their pages in, and a font for the alarm texts in its screenshots.
# With --mipsel, SQLite for the target is unpacked into build/mipsel-root: apt cannot install
# libsqlite3-dev:mipsel beside the host's packages (the multiarch versions do not match).
set -euo pipefail

native=(cmake ninja-build g++ clang-14 libclang-rt-14-dev libclang-common-14-dev llvm-14
        pkg-config libboost-dev libboost-date-time-dev libjsoncpp-dev libfmt-dev
        libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libsqlite3-dev
        binutils valgrind dpkg-dev file)
mipsel=(g++-mipsel-linux-gnu binutils-mipsel-linux-gnu qemu-user libc6:mipsel libatomic1:mipsel
        libjsoncpp-dev:mipsel libgtest-dev:mipsel libgmock-dev:mipsel libfmt-dev:mipsel)
browser=(chromium fonts-wqy-microhei)

want=("${native[@]}")
if [[ " $* " == *" --browser "* ]]; then
  want+=("${browser[@]}")
fi
if [[ " $* " == *" --mipsel "* ]]; then
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
  # The mipsel C library installs only at the very version of the host's (multiarch); when the
  # host took a libc6 update that Debian has not built for mipsel, apt says no more than
  # "held broken packages". Say what it is.
  if [[ " ${missing[*]} " == *" libc6:mipsel "* ]]; then
    host_libc=$(dpkg-query -W -f='${Version}' libc6 2>/dev/null || true)
    mipsel_libc=$(apt-cache policy libc6:mipsel | sed -n 's/^ *Candidate: //p')
    if [[ -n "$host_libc" && "$mipsel_libc" != "$host_libc" ]] &&
       ! apt-cache madison libc6:mipsel | grep -q " $host_libc "; then
      echo "install-deps: libc6 $host_libc is installed, but Debian has libc6:mipsel only at" \
           "${mipsel_libc:-no version}; the target libraries (libc6:mipsel and the :mipsel -dev" \
           "packages) cannot be installed beside it until Debian builds that version for mipsel." >&2
    fi
  fi
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# SQLite for the target: Debian's mipsel packages taken apart into a root of the build's own,
# which the mipsel preset points at (SQLite3_INCLUDE_DIR, SQLite3_LIBRARY).
if [[ " $* " == *" --mipsel "* ]]; then
  root="$(cd "$(dirname "$0")/.." && pwd)/build/mipsel-root"
  if [[ ! -f "$root/usr/include/sqlite3.h" || ! -e "$root/usr/lib/mipsel-linux-gnu/libsqlite3.so" ]]; then
    debs=$(mktemp -d)
    trap 'rm -rf "$debs"' EXIT
    chmod 777 "$debs"  # apt fetches as its own user where it can
    fetch() { (cd "$debs" && apt-get download -qq libsqlite3-dev:mipsel libsqlite3-0:mipsel); }
    if ! fetch; then
      # The package lists may be gone (a cleaned image): read them again once.
      sudo_cmd=""; [[ $(id -u) -ne 0 ]] && sudo_cmd="sudo"
      $sudo_cmd apt-get update -qq
      fetch
    fi
    rm -rf "$root.new"; mkdir -p "$root.new"
    for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$root.new"; done
    rm -rf "$root"
    mv "$root.new" "$root"
    echo "SQLite for mipsel unpacked into $root"
  fi
fi
