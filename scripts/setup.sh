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
