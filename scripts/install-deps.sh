#!/usr/bin/env bash
# Installs every build and test dependency from Debian packages. Safe to run again.
set -euo pipefail

packages=(
  g++ clang libclang-rt-14-dev cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev
  libusb-1.0-0-dev libtommath-dev libssl-dev openssl libcli11-dev
  xvfb xauth
  umockdev gir1.2-umockdev-1.0 libumockdev-dev
  time bc binutils gnuplot-nox
  ccache
  libelf-dev gcc-arm-none-eabi libnewlib-arm-none-eabi binutils-arm-none-eabi
  nlohmann-json3-dev
  libp11-dev softhsm2 p11-kit opensc libp11-kit-dev
  lintian desktop-file-utils dpkg-dev file man-db zsh
  poppler-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
