#!/usr/bin/env bash
# Installs what the builds and tests need, from Debian's packages, when missing.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev python3 g++-mingw-w64-i686 binutils-mingw-w64-i686)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
