#!/usr/bin/env bash
# The demo machine, answered Yes: the product goes, everything else stays.
source "$(dirname "$0")/common.bash"
run_machine examples/demo --answers yes
expect_exit 1
expect_result "Text=Lumora E-mail Printing has been removed."
expect_result "1=C:\\Program Files\\Lumora\\Data\\Templates\\Default.qvt"
expect_result "2=C:\\Program Files\\Lumora\\QVUninst.exe"
for gone in "Program Files/Lumora/QVWizard.exe" "Program Files/Lumora/_SETUP.DLL" "Program Files/Lumora/Readme.txt" \
  "Program Files/Lumora/Spool" "WINDOWS/SYSTEM32/QVMon.dll" "WINDOWS/QVFList.ini" "WINDOWS/QVUninst.ini"; do
  expect_gone "$gone"
done
# The running executable and the file another program holds open are deleted
# at restart; their folders stay until then.
for kept in "Program Files/Lumora/QVUninst.exe" "Program Files/Lumora/Data/Templates/Default.qvt" \
  "Program Files/Common Files/Shared/common.dll" "My Documents/letter.txt" "WINDOWS/win.ini"; do
  expect_kept "$kept"
done
expect_no_reg 'Uninstall\Lumora]'
expect_reg 'Uninstall\Paint Studio]'
expect_no_reg 'Monitors\Lumora Mail Monitor'
expect_reg 'Monitors\Local Port]'
expect_printer "Lumora Mail" "LPT1:"
expect_printer "Lumora Mail (Fax Desk)" "LPT1:"
expect_printer "Office Laser" "LPT2:"
finish
