#!/usr/bin/env bash
# The demo machine on 95/98, answered Yes, then restarted: the delete command
# takes the executable once the uninstaller has exited; its folder stays, as
# nothing on that family removes folders later.
source "$(dirname "$0")/common.bash"
run_machine tests/machines/uninstall-9x --answers yes --restart
expect_exit 1
expect_section PendingDeletes
expect_section Processes '1=command.com /c del "C:\Program Files\Lumora\QVUninst.exe"'
expect_section Restart '1=C:\Program Files\Lumora\QVUninst.exe|deleted'
expect_gone "Program Files/Lumora/QVUninst.exe"
expect_kept "Program Files/Lumora"
[ -z "$(ls -A "$work/after/drive_c/Program Files/Lumora")" ] || fail "Program Files/Lumora should be empty"
expect_kept "Program Files/Common Files/Shared/common.dll"
expect_kept "My Documents/letter.txt"
finish
