#!/usr/bin/env bash
# Runs the uninstaller on the bundled demo machine with the stand-in platform.
# The demo folder itself is left as it is: the run works on a copy, and the
# result (machine folder plus result.ini) is written to build/demo-after.
# Usage: tools/demo.sh [MACHINE_DIR] [qvuninst-sim options, e.g. --answers yes]
set -euo pipefail
cd "$(dirname "$0")/.."
machine=${1:-examples/demo}
shift || true
bash tools/install_deps.sh >&2
cmake --preset host >/dev/null
cmake --build --preset host --target qvuninst-sim >/dev/null
out=build/demo-after
rm -rf "$out"
status=0
build/host/qvuninst-sim "$machine" --out "$out" "$@" || status=$?
echo
echo "== What changed (diff of the machine folders; result.ini has the boxes and exit code)"
diff -r "$machine" "$out" || true
exit $status
