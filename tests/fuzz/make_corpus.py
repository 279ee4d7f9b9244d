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

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                'tools', 'wine'))
import machine_folder as mf  # noqa: E402


def read(path):
    try:
        with open(path, 'rb') as f:
            return f.read()
    except FileNotFoundError:
        return b''


def text_seed(folder):
    """The machine folder as one "QVM1" text: its files by their ANSI names
    (drive_c holds them in UTF-8, converted per the machine's code page)."""
    sections = mf.parse_ini(mf.read_text(os.path.join(folder, 'machine.ini')))
    machine = (mf.sections_named(sections, 'Machine') or [('Machine', [])])[0][1]
    windows = mf.get(machine, 'WindowsDirectory', 'C:\\WINDOWS').encode('latin-1')
    files, inis = [], {}
    tree = mf.read_tree(folder, sections)
    for folded in sorted(tree):
        path, is_dir, data = tree[folded]
        path = path.encode('latin-1')
        if is_dir:
            files.append(path + b'\\')
        elif path.lower() in (windows.lower() + b'\\qvflist.ini', windows.lower() + b'\\qvuninst.ini'):
            inis[path.rsplit(b'\\', 1)[1].lower().decode('latin-1')] = data
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
