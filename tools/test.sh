#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test: the host
# build (unit tests and whole runs on the stand-in), the same under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build's
# checks of QVUninst.exe itself, with the Wine scenarios (ctest label "wine":
# each scenario run on the stand-in and, with the shipped i686 exe, under
# 32-bit Wine, the results compared; they use the host build's qvuninst-sim,
# so host is built first), and a
# short run of the fuzz target from its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh
jobs=$(nproc)
for preset in host host-sanitize win32 fuzz; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
