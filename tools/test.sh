#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test: the host
# build (unit tests and whole runs on the stand-in), the same under
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows build's checks
# of QVUninst.exe itself with the Wine scenarios (ctest label "wine": each
# scenario run on the stand-in and, with the shipped i686 exe, under 32-bit
# Wine, the results compared; they use the host build's qvuninst-sim, so host
# is built first), and a short run of the fuzz target from its seed corpus.
#
# A Wine run under the user-mode emulator waits about as long as it computes,
# so the Wine tests run three a core (QV_WINE_JOBS; measured on 2 cores: 6 at
# a time as fast as 8, and far faster than 2 or 4), beside the sanitizer and
# fuzz presets, whose output follows theirs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh
jobs=$(nproc)
wine_jobs=${QV_WINE_JOBS:-$((3 * jobs))}

build() {
  echo "== $1"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

build host
ctest --preset host -j "$jobs"
build win32

others_log=$(mktemp)
trap 'rm -f "$others_log"' EXIT
(
  set -e
  build host-sanitize
  ctest --preset host-sanitize -j "$jobs"
  build fuzz
  ctest --preset fuzz -j "$jobs"
) >"$others_log" 2>&1 &
others=$!

status=0
ctest --preset win32 -j "$wine_jobs" || status=$?
wait "$others" || status=$?
cat "$others_log"
exit "$status"
