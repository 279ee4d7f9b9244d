#!/usr/bin/env bash
# Started from a copy outside the install folder: the removal takes the whole
# folder, and only the copy itself is left for the restart.
source "$(dirname "$0")/common.bash"
run_machine tests/machines/executable-elsewhere --answers yes --restart
expect_exit 1
expect_section PendingDeletes '1=C:\WINDOWS\TEMP\QVUninst.exe'
expect_section Restart '1=C:\WINDOWS\TEMP\QVUninst.exe|deleted'
expect_gone "Program Files/Lumora"
expect_gone "WINDOWS/TEMP/QVUninst.exe"
expect_kept "WINDOWS/TEMP"
expect_kept "Program Files/Common Files/Shared/common.dll"
finish
