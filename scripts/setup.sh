#!/usr/bin/env bash
# Installs what building, testing and running Parlotrim needs on Debian 12, where missing, and
# the further packages named as arguments.
set -euo pipefail
packages=("$@"
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  libgtest-dev googletest acl
  fonts-ipafont-gothic
  xvfb xauth
  e2fsprogs btrfs-progs exfatprogs exfat-fuse ntfs-3g dosfstools fusefat
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
