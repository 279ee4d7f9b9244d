#!/usr/bin/env bash
# Installs what the builds and tests need, from Debian's packages, when missing.
set -euo pipefail
# clang with its runtime libraries builds the fuzz target (libFuzzer, sanitizers).
packages=(cmake ninja-build g++ libgtest-dev python3 g++-mingw-w64-i686 binutils-mingw-w64-i686 clang
  libclang-rt-14-dev)
# The Wine runs (tests/wine): Wine with its 32-bit loader (i386 architecture),
# its fonts, an X server without a screen, and the x86-64 cross compiler for
# kernels that refuse 32-bit programs (see tools/wine/qvwine.py). Without
# their recommends, which would bring in a desktop's worth of libraries.
wine_packages=(wine wine32:i386 wine64 fonts-wine xvfb xauth g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64)

missing_of() {
  local package
  for package in "$@"; do
    dpkg -s "$package" >/dev/null 2>&1 || echo "$package"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t wine_missing < <(missing_of "${wine_packages[@]}")
if [ ${#missing[@]} -gt 0 ] || [ ${#wine_missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]} ${wine_missing[*]}"
  if [ ${#wine_missing[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  fi
  if [ ${#wine_missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${wine_missing[@]}" >/dev/null
  fi
fi
