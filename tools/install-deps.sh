#!/usr/bin/env bash
# Installs the Debian packages that building, testing, packaging and running Lumidor need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libjsoncpp-dev libpcsclite-dev libp11-kit-dev libssl-dev libre2-dev qt6-base-dev
  qt6-qpa-plugins fonts-dejavu-core
  libgtest-dev libgmock-dev libbenchmark-dev libspdlog-dev
  pcscd vsmartcard-vpcd softhsm2 opensc pcsc-tools
  python3 python3-cryptography python3-jsonschema openssl
  clang libclang-rt-14-dev
  dpkg-dev desktop-file-utils man-db lintian devscripts appstream
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
