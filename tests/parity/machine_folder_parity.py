#!/usr/bin/env python3
"""Holds the two readers of the machine-folder format to each other: the
stand-in's (sim/machine_folder.cpp, printed by describe_machine) and the
Python one the Wine runner uses (tools/wine/machine_folder.py). Every machine
folder of the project, and two made here (every setting the format has, and
double-byte names), must read alike.

    machine_folder_parity.py DESCRIBE_MACHINE SOURCE_DIR
"""
import difflib
import glob
import os
import shutil
import subprocess
import sys
import tempfile

SOURCE_DIR = sys.argv[2] if len(sys.argv) == 3 else os.path.join(os.path.dirname(__file__), '..', '..')
sys.path.insert(0, os.path.join(SOURCE_DIR, 'tools', 'wine'))
import machine_folder as mf  # noqa: E402

# Every setting the project's folders may not use yet, on the demo machine.
EVERY_SETTING = '''
[Locked]
1=C:\\Program Files\\Lumora\\Readme.txt
C:\\WINDOWS\\SYSTEM32\\QVMon.dll=loaded
2=C:\\PROGRA~1\\Lumora\\QVWizard.exe|loaded

[Attributes]
C:\\PROGRA~1\\Lumora\\Readme.txt=readonly
C:\\Program Files\\Lumora=hidden,system
1=C:\\WINDOWS\\win.ini|normal

[ShortNames]
C:\\Program Files=PROGRA~1
C:\\Program Files\\Common Files=COMMON~1

[RegistryLocks]
SOFTWARE=undeletable deny 0x2

[DriveDirectories]
d:=D:\\Scans
E=E:\\None
1:=C:\\WINDOWS
'''
MACHINE_KEYS = 'Administrators=deny-only\nDeleteCommandRuns=at-start\nFreeBytes=0x10000\n'


def every_setting_folder(work):
    folder = os.path.join(work, 'every-setting')
    shutil.copytree(os.path.join(SOURCE_DIR, 'examples', 'demo'), folder)
    ini = mf.read_text(os.path.join(folder, 'machine.ini')).replace('[Machine]\n', '[Machine]\n' + MACHINE_KEYS, 1)
    mf.write_text(os.path.join(folder, 'machine.ini'), ini + EVERY_SETTING)
    os.makedirs(os.path.join(folder, 'drive_d', 'Scans'))
    os.makedirs(os.path.join(folder, 'drive_d', 'Data'))
    mf.write_text(mf.host_path(folder, 'D:\\Data\\scan.txt', 1252), 'scanned')
    return folder


# Code page 932: two names that differ in a trail byte's letter case
# (0x81 0x61 and 0x81 0x41 are different characters) are two files.
DOUBLE_BYTE_NAMES = ['C:\\Data\\\x81\x61.txt', 'C:\\Data\\\x81\x41.txt']


def double_byte_folder(work):
    folder = os.path.join(work, 'code-page-932')
    os.makedirs(os.path.join(folder, 'drive_c', 'Data'))
    mf.write_text(os.path.join(folder, 'machine.ini'),
                  '[Machine]\nCodePage=932\n\n[Attributes]\n%s=readonly\n' % DOUBLE_BYTE_NAMES[0])
    for number, path in enumerate(DOUBLE_BYTE_NAMES):
        with open(os.path.join(folder, 'drive_c', mf.host_relative(path, 932)), 'wb') as file:
            file.write(b'%d' % number)
    return folder


def main():
    describe_machine = sys.argv[1]
    work = tempfile.mkdtemp(prefix='qv-parity-')
    try:
        folders = sorted(os.path.dirname(p) for pattern in ('examples/*/machine.ini', 'tests/machines/*/machine.ini')
                         for p in glob.glob(os.path.join(SOURCE_DIR, pattern)))
        folders += [every_setting_folder(work), double_byte_folder(work)]
        failures = 0
        for folder in folders:
            stand_in = subprocess.run([describe_machine, folder], check=True, capture_output=True).stdout
            python = mf.describe(mf.read_machine(folder)).encode('latin-1')
            name = os.path.relpath(folder, work if folder.startswith(work) else SOURCE_DIR)
            if stand_in == python:
                continue
            failures += 1
            print('%s: the two readers differ' % name)
            sys.stdout.writelines(difflib.unified_diff(stand_in.decode('latin-1').splitlines(True),
                                                       python.decode('latin-1').splitlines(True),
                                                       'stand-in', 'python'))
        print('%d passed, %d failed' % (len(folders) - failures, failures))
        return 1 if failures else 0
    finally:
        shutil.rmtree(work)


if __name__ == '__main__':
    sys.exit(main())
