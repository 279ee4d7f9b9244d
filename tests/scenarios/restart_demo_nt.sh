#!/usr/bin/env bash
# The demo machine (NT), answered Yes, then restarted: the file another program
# held open, the executable and the folders they kept go at the restart;
# Program Files holds other things.
source "$(dirname "$0")/common.bash"
run_machine examples/demo --answers yes --restart
expect_exit 1
expect_section PendingDeletes '1=C:\Program Files\Lumora\Data\Templates\Default.qvt' \
  '2=C:\Program Files\Lumora\QVUninst.exe' '3=C:\Program Files\Lumora\Data\Templates' \
  '4=C:\Program Files\Lumora\Data' '5=C:\Program Files\Lumora' '6=C:\Program Files'
expect_section Restart '1=C:\Program Files\Lumora\Data\Templates\Default.qvt|deleted' \
  '2=C:\Program Files\Lumora\QVUninst.exe|deleted' '3=C:\Program Files\Lumora\Data\Templates|removed' \
  '4=C:\Program Files\Lumora\Data|removed' '5=C:\Program Files\Lumora|removed' \
  '6=C:\Program Files|kept (not empty)'
expect_gone "Program Files/Lumora"
expect_gone "WINDOWS/SYSTEM32/QVMon.dll"
for kept in "Program Files/Common Files/Shared/common.dll" "My Documents/letter.txt" "WINDOWS/win.ini"; do
  expect_kept "$kept"
  expect_same "$kept"
done
finish
