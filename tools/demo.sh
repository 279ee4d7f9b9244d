#!/usr/bin/env bash
# Runs the uninstaller on the bundled demo machine with the stand-in platform.
# The demo folder itself is left as it is: the result (machine folder plus
# result.ini) is written to build/demo-after, and compared with the machine
# as loaded (build/demo-before).
# Usage: tools/demo.sh [MACHINE_DIR] [qvuninst-sim options, e.g. --answers yes]
#
# With --wine first, the shipped i686 QVUninst.exe runs on the machine under
# 32-bit Wine instead (tools/wine/qvwine.py; answers from the machine's
# [Answers] or --answers), the result goes to build/demo-wine-after, and
# screenshots of the question box and of the progress dialog are saved as PNG
# in docs/. Usage: tools/demo.sh --wine [MACHINE_DIR] [qvwine.py options]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--wine" ]; then
  shift
  machine=${1:-examples/demo}
  shift || true
  bash tools/install_deps.sh wine >&2
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 >/dev/null
  out=build/demo-wine-after
  shots=build/demo-wine-shots
  rm -rf "$out" "$shots"
  status=0
  python3 tools/wine/qvwine.py "$machine" --out "$out" --shots "$shots" "$@" || status=$?
  mkdir -p docs
  [ -f "$shots/box1.png" ] && cp "$shots/box1.png" docs/wine-question-box.png
  [ -f "$shots/progress.png" ] && cp "$shots/progress.png" docs/wine-progress-dialog.png
  echo
  echo "== Screenshots: docs/wine-question-box.png, docs/wine-progress-dialog.png"
  echo "== What changed (diff of the machine folders; result.ini has the boxes and exit code)"
  diff -r "$machine" "$out" || true
  exit $status
fi
machine=${1:-examples/demo}
shift || true
bash tools/install_deps.sh demo >&2
cmake --preset demo >/dev/null
cmake --build --preset demo >/dev/null
out=build/demo-after
before=build/demo-before
rm -rf "$out" "$before"
# The machine as loaded, written the way the run writes its result, so that
# the diff shows what the run changed and nothing of the folder's layout.
build/demo/qvuninst-sim "$machine" --out "$before" --no-run >/dev/null
status=0
build/demo/qvuninst-sim "$machine" --out "$out" "$@" || status=$?
echo
echo "== What changed (the machine before and after; $out/result.ini has the boxes and exit code)"
diff -r -x result.ini "$before" "$out" || true
exit $status
