#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent; silent when all is present.
set -euo pipefail

PKGS_NATIVE=(
  build-essential cmake ninja-build pkg-config g++-multilib
  clang lld llvm libclang-rt-14-dev
  liblzo2-dev zlib1g-dev libssl-dev
  googletest libgtest-dev libbenchmark-dev
  libwxgtk3.2-dev xvfb xauth fonts-wqy-microhei x11-utils imagemagick
  clamav attr python3 jq nlohmann-json3-dev
)
PKGS_I386=(liblzo2-dev:i386 libc6-dev:i386 lib32gcc-12-dev lib32stdc++-12-dev)

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  need_update=1
fi
for p in "${PKGS_NATIVE[@]}" "${PKGS_I386[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq >/dev/null
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The scanner and its tests are 32-bit programs. A kernel without 32-bit
# support runs them through qemu-user, registered for i386 executables.
if [ -x /lib/ld-linux.so.2 ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  if ! command -v qemu-i386 >/dev/null 2>&1; then
    echo "setup: installing qemu-user (this kernel cannot run 32-bit programs)"
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get update -qq >/dev/null
    as_root apt-get install -y -qq --no-install-recommends qemu-user >/dev/null
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e $binfmt/register ] || as_root mount -t binfmt_misc binfmt_misc $binfmt
  if [ ! -e $binfmt/qemu-i386 ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:' |
      as_root tee $binfmt/register >/dev/null
  fi
fi
