#!/usr/bin/env python3
"""Compiles QVUninst.rc into an object file for the linker.

windres upper-cases the window class name of every dialog control, so the
progress bar's class "msctls_progress32" would come out as "MSCTLS_PROGRESS32".
Windows matches class names regardless of case, but the template should hold
the name as the script writes it. So the script goes through a .res first,
each control class is given back the spelling the script uses, and only then
does windres turn the .res into a COFF object.

Usage: compile_resources.py WINDRES SCRIPT.rc OUTPUT.o [-I DIR]...
"""
import re
import struct
import subprocess
import sys

RT_DIALOG = 5


def read_id(data, offset):
    """A resource or class id: 0xFFFF and an ordinal, or a UTF-16 text."""
    if struct.unpack_from('<H', data, offset)[0] == 0xFFFF:
        return None, offset + 4
    end = offset
    while struct.unpack_from('<H', data, end)[0]:
        end += 2
    return (offset, end), end + 2


def align4(offset):
    return (offset + 3) & ~3


def class_name_spans(template):
    """(start, end) byte spans of the controls' class names that are texts."""
    extended = struct.unpack_from('<HH', template, 0) == (1, 0xFFFF)
    if extended:
        style, = struct.unpack_from('<I', template, 12)
        count, = struct.unpack_from('<H', template, 16)
        offset = 26
    else:
        style, = struct.unpack_from('<I', template, 0)
        count, = struct.unpack_from('<H', template, 8)
        offset = 18
    for _ in range(3):  # menu, class, title
        _, offset = read_id(template, offset)
    if style & 0x40:  # DS_SETFONT: point size (and more in the extended form), face
        offset += 6 if extended else 2
        _, offset = read_id(template, offset)
    spans = []
    for _ in range(count):
        offset = align4(offset) + (24 if extended else 18)
        span, offset = read_id(template, offset)
        if span:
            spans.append(span)
        _, offset = read_id(template, offset)  # title
        extra, = struct.unpack_from('<H', template, offset)
        offset += 2 + extra
    return spans


def restore_class_case(res, spellings):
    """Rewrites, in every dialog of the .res, each control class whose
    upper-case form is that of a spelling in the script, to that spelling."""
    res = bytearray(res)
    offset = 0
    while offset < len(res):
        data_size, header_size = struct.unpack_from('<II', res, offset)
        type_is_ordinal = struct.unpack_from('<HH', res, offset + 8)
        data = offset + header_size
        if type_is_ordinal == (0xFFFF, RT_DIALOG):
            for start, end in class_name_spans(bytes(res[data:data + data_size])):
                name = res[data + start:data + end].decode('utf-16-le')
                spelling = spellings.get(name)
                if spelling:
                    res[data + start:data + end] = spelling.encode('utf-16-le')
        offset = align4(data + data_size)
    return bytes(res)


def script_spellings(script_path):
    """The quoted ASCII texts of the script by their upper-case form."""
    with open(script_path, 'rb') as script:
        text = script.read()
    spellings = {}
    for quoted in re.findall(rb'"([\x20-\x21\x23-\x7e]*)"', text):
        name = quoted.decode('ascii')
        spellings[name.upper()] = name
    return spellings


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    windres, script, output = sys.argv[1:4]
    includes = sys.argv[4:]
    raw = output + '.res'
    subprocess.run([windres, *includes, '-i', script, '-O', 'res', '-o', raw], check=True)
    with open(raw, 'rb') as res:
        fixed = restore_class_case(res.read(), script_spellings(script))
    with open(raw, 'wb') as res:
        res.write(fixed)
    subprocess.run([windres, '-i', raw, '-O', 'coff', '-o', output], check=True)


if __name__ == '__main__':
    main()
