#!/usr/bin/env bash
# Installs what the build, tests and tools need on a fresh Debian machine.
# Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  liblzf-dev libstb-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libpng-dev libtiff-dev libjpeg62-turbo-dev libsndfile1-dev
  clang libclang-rt-14-dev clang-format
  time
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-base-apps
  mediainfo
  python3-dev pybind11-dev python3-numpy python3-pytest
  python3-setuptools python3-wheel python3-venv
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
