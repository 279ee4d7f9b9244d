#!/usr/bin/env bash
# The demo machine on 95/98, answered Yes, then restarted: the delete command
# takes the executable once the uninstaller has exited, and the boot step the
# file another program held open, which the run entered in WININIT.INI; their
# folders stay, as nothing on that family removes folders later.
source "$(dirname "$0")/common.bash"
run_machine tests/machines/uninstall-9x --answers yes --restart
expect_exit 1
expect_section PendingDeletes
expect_section Processes '1=command.com /c del "C:\Program Files\Lumora\QVUninst.exe"'
expect_section Restart '1=C:\Program Files\Lumora\QVUninst.exe|deleted
2=NUL=C:\PROGRA~1\LUMORA\DATA\TEMPLA~1\DEFAULT.QVT|deleted'
expect_gone "Program Files/Lumora/QVUninst.exe"
expect_gone "Program Files/Lumora/Data/Templates/Default.qvt"
expect_kept "Program Files/Lumora/Data/Templates"
[ -z "$(ls -A "$work/after/drive_c/Program Files/Lumora/Data/Templates")" ] || fail "Data/Templates should be empty"
expect_kept "Program Files/Common Files/Shared/common.dll"
expect_kept "My Documents/letter.txt"
finish
