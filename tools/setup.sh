#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Quiet when all of
# them are present already; safe to run any number of times.
set -euo pipefail

packages=(
  build-essential
  cmake
  ninja-build
  pkg-config
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  qt6-base-dev
  srecord
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
