#!/usr/bin/env bash
# A paused job on one of the product's ports: refused with ERRORMES2, nothing changed.
source "$(dirname "$0")/common.bash"
run_machine examples/demo-pending-job --answers yes
expect_exit 0
expect_result "Text=Print jobs are waiting on an E-mail printing port. Print or delete them, then try again."
expect_result "Style=16"
expect_unchanged
expect_kept "WINDOWS/QVFList.ini"
expect_kept "Program Files/Lumora/Readme.txt"
expect_reg 'Uninstall\Lumora]'
expect_reg 'Monitors\Lumora Mail Monitor\Ports\QVMAIL2:]'
expect_printer "Lumora Mail (Fax Desk)" "QVMAIL2:"
finish
