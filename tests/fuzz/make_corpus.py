#!/usr/bin/env python3
"""Writes the fuzz target's seed corpus: one text seed per machine folder (the
scenarios that exist), in the target's "QVM1" format, plus structured seeds of
fixed pseudo-random bytes of several lengths.

Usage: make_corpus.py OUT_DIR MACHINE_DIR...
"""
import hashlib
import os
import random
import sys


def read(path):
    try:
        with open(path, 'rb') as f:
            return f.read()
    except FileNotFoundError:
        return b''


def text_seed(folder):
    windows = b'C:\\WINDOWS'
    for line in read(os.path.join(folder, 'machine.ini')).splitlines():
        if line.lower().startswith(b'windowsdirectory='):
            windows = line.split(b'=', 1)[1].strip()
    files, inis = [], {}
    drive = os.path.join(folder, 'drive_c')
    for root, dirs, names in os.walk(drive):
        rel = os.path.relpath(root, drive)
        base = b'C:' if rel == '.' else b'C:\\' + os.fsencode(rel).replace(b'/', b'\\')
        for d in sorted(dirs):
            files.append(base + b'\\' + os.fsencode(d) + b'\\')
        for n in sorted(names):
            path = base + b'\\' + os.fsencode(n)
            if path.lower() in (windows.lower() + b'\\qvflist.ini', windows.lower() + b'\\qvuninst.ini'):
                inis[os.path.basename(n).lower()] = read(os.path.join(root, n))
            else:
                files.append(path)
    parts = [b'QVM1\n',
             b'--- machine.ini ---\n', read(os.path.join(folder, 'machine.ini')),
             b'\n--- registry.reg ---\n', read(os.path.join(folder, 'registry.reg')),
             b'\n--- files ---\n', b'\n'.join(files) + b'\n']
    for name, key in (('QVFList.ini', 'qvflist.ini'), ('QVUninst.ini', 'qvuninst.ini')):
        if key in inis:
            parts += [b'\n--- ' + name.encode() + b' ---\n', inis[key]]
    return b''.join(parts)


def write(out, data):
    name = hashlib.sha1(data).hexdigest()
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for folder in sys.argv[2:]:
        if os.path.isfile(os.path.join(folder, 'machine.ini')):
            write(out, text_seed(folder))
    rng = random.Random(20261209)
    for length in (16, 64, 256, 1024, 4096):
        for _ in range(8):
            write(out, bytes(rng.randrange(256) for _ in range(length)))


if __name__ == '__main__':
    main()
