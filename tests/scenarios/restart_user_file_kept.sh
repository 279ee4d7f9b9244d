#!/usr/bin/env bash
# A file of the user's in the install folder: the folder is scheduled like
# any emptied one, and stays at the restart with the file untouched.
source "$(dirname "$0")/common.bash"
run_machine tests/machines/user-file-in-install-dir --answers yes --restart
expect_exit 1
expect_section PendingDeletes '1=C:\Program Files\Lumora\QVUninst.exe' '2=C:\Program Files\Lumora' \
  '3=C:\Program Files'
expect_section Restart '1=C:\Program Files\Lumora\QVUninst.exe|deleted' \
  '2=C:\Program Files\Lumora|kept (not empty)' '3=C:\Program Files|kept (not empty)'
expect_gone "Program Files/Lumora/QVUninst.exe"
expect_gone "Program Files/Lumora/Readme.txt"
expect_kept "Program Files/Lumora/My notes.txt"
expect_same "Program Files/Lumora/My notes.txt"
[ "$(ls -A "$work/after/drive_c/Program Files/Lumora")" = "My notes.txt" ] ||
  fail "Program Files/Lumora should hold the user's file only"
finish
