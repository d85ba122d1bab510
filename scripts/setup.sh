#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent; needs root (or sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format ccache
  libcurl4-openssl-dev libpugixml-dev libssl-dev
  libgtest-dev libgmock-dev libcpp-httplib-dev
  qt6-base-dev
  fonts-noto-cjk fonts-noto-core fonts-liberation2
  clang-14 libclang-rt-14-dev
  iproute2 curl time dbus-daemon
  lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
