#!/usr/bin/env bash
# The demo machine, answered No: exit code 1 and nothing changed.
source "$(dirname "$0")/common.bash"
run_machine examples/demo --answers no
expect_exit 1
expect_unchanged
expect_kept "WINDOWS/QVFList.ini"
expect_reg 'Uninstall\Lumora]'
expect_printer "Lumora Mail" "QVMAIL1:"
finish
