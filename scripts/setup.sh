#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, when missing.
set -euo pipefail

packages=(cmake make g++ clang libomp-14-dev libboost-dev libffi-dev pkg-config binutils
          libgtest-dev libbenchmark-dev libtiff-dev libpng-dev libfftw3-dev liblapacke-dev libclang-rt-14-dev
          pybind11-dev python3-dev python3-pip python3-setuptools python3-venv python3-build python3-numpy python3-scipy python3-opencv python3-pytest python3-hypothesis
          python3-tifffile python3-mrcfile python3-dask python3-distributed python3-hyperspy python3-zarr
          chromium)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: missing packages and not root; run: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
