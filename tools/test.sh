#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test: the host
# build (unit tests and whole runs on the stand-in), the same under
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows build's checks
# of QVUninst.exe itself with the Wine scenarios (ctest label "wine": each
# scenario run on the stand-in and, with the shipped i686 exe, under 32-bit
# Wine, the results compared), and a short run of the fuzz target from its
# seed corpus.
#
# The Wine tests are the longest part. So the host presets' packages come
# first, and their builds start while the Windows toolchain and Wine are
# installed; the Wine tests start as soon as the two host tools they use
# (qvuninst-sim, qvmachine-gen) and the Windows build are there, four a core
# (QV_WINE_JOBS). Everything else runs beside them at a lower priority, and its
# output follows theirs. Measured on 2 cores in README.md.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh host
jobs=$(nproc)
wine_jobs=${QV_WINE_JOBS:-$((4 * jobs))}

configure() {
  echo "== $1"
  cmake --preset "$1" >/dev/null
}

others_log=$(mktemp)
fuzz_log=$(mktemp)
host_tools=$(mktemp -u)
trap 'rm -f "$others_log" "$fuzz_log" "$host_tools"' EXIT
(
  set -e
  configure host
  cmake --build --preset host -j "$jobs" --target qvuninst-sim qvmachine-gen
  touch "$host_tools"
  renice -n 10 -p "$BASHPID" >/dev/null
  configure fuzz
  cmake --build --preset fuzz -j "$jobs"
  ctest --preset fuzz >"$fuzz_log" 2>&1 &
  fuzz=$!
  cmake --build --preset host -j "$jobs"
  ctest --preset host -j "$jobs"
  configure host-sanitize
  cmake --build --preset host-sanitize -j "$jobs"
  ctest --preset host-sanitize -j "$jobs"
  fuzz_status=0
  wait "$fuzz" || fuzz_status=$?
  cat "$fuzz_log"
  exit "$fuzz_status"
) >"$others_log" 2>&1 &
others=$!

host_tools_built() {
  until [ -e "$host_tools" ]; do
    kill -0 "$others" 2>/dev/null || return 1
    sleep 1
  done
}

status=0
bash tools/install_deps.sh all || status=$?
if [ $status = 0 ]; then
  { configure win32 && cmake --build --preset win32 -j "$jobs"; } || status=$?
fi
if [ $status = 0 ] && host_tools_built; then
  ctest --preset win32 -j "$wine_jobs" || status=$?
fi
wait "$others" || status=$?
cat "$others_log"
exit "$status"
