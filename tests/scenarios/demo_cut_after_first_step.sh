#!/usr/bin/env bash
# The demo machine, its run cut right after the first progress step (the
# first listed file): the cut lands on exactly that step, and nothing after
# it runs.
source "$(dirname "$0")/common.bash"
run_machine examples/demo --answers yes --cut-after-steps 1
expect_exit 1
expect_result "Cut=yes"
expect_gone "Program Files/Lumora/QVWizard.exe"
expect_kept "Program Files/Lumora/_SETUP.DLL"
expect_kept "WINDOWS/QVFList.ini"
expect_no_reg 'Uninstall\Lumora]'
expect_section PendingDeletes
finish
