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
# in build/demo-wine-shots. --update-docs also copies them over the ones the
# documentation shows (docs/*.png), which are tracked: only when asked.
# Usage: tools/demo.sh --wine [--update-docs] [MACHINE_DIR] [qvwine.py options]
set -euo pipefail
cd "$(dirname "$0")/.."

wine=0
update_docs=0
if [ "${1:-}" = "--wine" ]; then
  wine=1
  shift
  # --update-docs may stand anywhere among the options; qvwine.py gets the rest.
  options=()
  for option in "$@"; do
    if [ "$option" = "--update-docs" ]; then update_docs=1; else options+=("$option"); fi
  done
  set -- "${options[@]}"
fi
# The machine folder is the first argument unless that is already an option.
machine=examples/demo
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
  machine=$1
  shift
fi

# A screenshot of this run over the one the documentation shows.
update_doc_shot() {
  [ -f "$shots/$1" ] || return 0
  cp "$shots/$1" "docs/$2"
  echo "== docs/$2 updated"
}

if [ $wine = 1 ]; then
  bash tools/install_deps.sh wine >&2
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 >/dev/null
  out=build/demo-wine-after
  shots=build/demo-wine-shots
  rm -rf "$out" "$shots"
  status=0
  python3 tools/wine/qvwine.py "$machine" --out "$out" --shots "$shots" "$@" || status=$?
  echo
  echo "== Screenshots: $shots/box1.png (the question box), $shots/progress.png (the progress dialog)"
  if [ $update_docs = 1 ]; then
    update_doc_shot box1.png wine-question-box.png
    update_doc_shot progress.png wine-progress-dialog.png
  fi
  echo "== What changed (diff of the machine folders; result.ini has the boxes and exit code)"
  diff -r "$machine" "$out" || true
  exit $status
fi
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
