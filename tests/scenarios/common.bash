# Shared by the scenario scripts: run qvuninst-sim on a copy of a machine
# folder and check the result with plain assertions.
set -euo pipefail
sim=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

run_machine() {  # run_machine FOLDER [options]: result in $work/after
  local folder=$1
  shift
  cp -r "$source_dir/$folder" "$work/before"
  set +e
  "$sim" "$work/before" --out "$work/after" "$@" </dev/null >"$work/output.txt" 2>&1
  exit_code=$?
  set -e
}

expect_unchanged() {  # the result equals the machine as loaded, before any run
  "$sim" "$work/before" --out "$work/as-loaded" --no-run </dev/null >/dev/null 2>&1
  diff -r -x result.ini "$work/as-loaded" "$work/after" >/dev/null || fail "the machine changed"
}

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
expect_exit() { [ "$exit_code" = "$1" ] || fail "exit code $exit_code, expected $1"; }
expect_gone() { [ ! -e "$work/after/drive_c/$1" ] || fail "$1 should be gone"; }
expect_kept() { [ -e "$work/after/drive_c/$1" ] || fail "$1 should be kept"; }
expect_reg() { grep -qF -- "$1" "$work/after/registry.reg" || fail "registry lacks: $1"; }
expect_no_reg() { ! grep -qF -- "$1" "$work/after/registry.reg" || fail "registry still has: $1"; }
expect_result() { grep -qF -- "$1" "$work/after/result.ini" || fail "result.ini lacks: $1"; }
expect_section() {  # expect_section NAME LINE...: result.ini's [NAME] holds exactly these lines
  local name=$1
  shift
  local want got
  want=$(printf '%s\n' "$@")
  got=$(awk -v s="[$name]" '$0 == s { on = 1; next } /^\[/ { on = 0 } on && NF' "$work/after/result.ini")
  [ "$got" = "$want" ] || fail "[$name] is: ${got:-nothing}; expected: ${want:-nothing}"
}
expect_same() { cmp -s "$work/before/drive_c/$1" "$work/after/drive_c/$1" || fail "$1 changed"; }
expect_printer() {  # expect_printer NAME PORT
  python3 - "$work/after/machine.ini" "$1" "$2" <<'PY' || fail "printer $2 should be on $3"
import sys
lines = open(sys.argv[1], encoding='latin-1').read().splitlines()
for i, line in enumerate(lines):
    if line == 'Name=' + sys.argv[2]:
        sys.exit(0 if lines[i + 1] == 'Port=' + sys.argv[3] else 1)
sys.exit(1)
PY
}
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "--- runner output"; cat "$work/output.txt"
    exit 1
  fi
  echo "scenario passed"
}
