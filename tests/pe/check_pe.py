#!/usr/bin/env python3
"""Checks of the built QVUninst.exe that no test on the stand-in can make: that
the file loads on the 95/98 family and NT 4 (subsystem and OS version 4.0, i486
code, only the system DLLs), that it stays small, and that its resources are
the ones the program and the shell look for.

Usage: check_pe.py CHECK EXE [options]
  headers                              PE header fields, relocations, no symbols, TLS or delay imports
  imports --expected FILE              imported DLLs and functions
  instructions --objdump OBJDUMP [--map MAP]
                                       no instruction newer than the i486, no MMX/SSE (up to
                                       the map's __qv_code_end: the read-only data after it)
  size                                 at most 19 KiB
  resources                            manifest, dialog 102, icon 105
  static-init --map MAP                no static constructors or TLS callbacks linked in
Exit status 0 when the check passes, 1 when it fails.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

MAX_SIZE = 19 * 1024
ALLOWED_DLLS = {'kernel32.dll', 'user32.dll', 'comctl32.dll', 'advapi32.dll', 'winspool.drv'}
# Calls only the NT family has: the executable looks them up at run time, so
# that Windows 95 loads it. Importing one would break that promise.
LOOKED_UP_AT_RUN_TIME = {'openprocesstoken', 'gettokeninformation', 'allocateandinitializesid', 'equalsid',
                         'freesid', 'checktokenmembership', 'getlongpathnamea'}
RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 14, 24
DIR_TLS, DIR_DELAY_IMPORT, DIR_IMPORT, DIR_RESOURCE, DIR_BASERELOC = 9, 13, 1, 2, 5
RELOCS_STRIPPED, DYNAMIC_BASE, NX_COMPAT = 0x0001, 0x0040, 0x0100
SCN_MEM_EXECUTE, SCN_MEM_WRITE = 0x20000000, 0x80000000
LANG_JAPANESE = 1041
ASM_V1 = 'urn:schemas-microsoft-com:asm.v1'
ASM_V3 = 'urn:schemas-microsoft-com:asm.v3'


class Failures:
    def __init__(self):
        self.count = 0

    def check(self, ok, what):
        print(('ok    ' if ok else 'FAIL  ') + what)
        if not ok:
            self.count += 1
        return ok


class PeImage:
    OPTIONAL_FIELDS = (
        'Magic MajorLinkerVersion MinorLinkerVersion SizeOfCode SizeOfInitializedData '
        'SizeOfUninitializedData AddressOfEntryPoint BaseOfCode BaseOfData ImageBase SectionAlignment '
        'FileAlignment MajorOperatingSystemVersion MinorOperatingSystemVersion MajorImageVersion '
        'MinorImageVersion MajorSubsystemVersion MinorSubsystemVersion Win32VersionValue SizeOfImage '
        'SizeOfHeaders CheckSum Subsystem DllCharacteristics SizeOfStackReserve SizeOfStackCommit '
        'SizeOfHeapReserve SizeOfHeapCommit LoaderFlags NumberOfRvaAndSizes').split()

    def __init__(self, path):
        with open(path, 'rb') as exe:
            self.data = exe.read()
        if self.data[:2] != b'MZ':
            raise ValueError(f'{path}: no MZ header')
        pe = struct.unpack_from('<I', self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b'PE\0\0':
            raise ValueError(f'{path}: no PE signature')
        (self.machine, sections, _, self.symbol_table, self.symbol_count, optional_size,
         self.characteristics) = struct.unpack_from('<HHIIIHH', self.data, pe + 4)
        optional = pe + 24
        values = struct.unpack_from('<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII', self.data, optional)
        self.header = dict(zip(self.OPTIONAL_FIELDS, values))
        if self.header['Magic'] != 0x10B:
            raise ValueError(f'{path}: not a PE32 image')
        self.directories = [
            struct.unpack_from('<II', self.data, optional + 96 + 8 * i)
            for i in range(self.header['NumberOfRvaAndSizes'])
        ]
        self.sections = []
        self.section_flags = {}
        for i in range(sections):
            name, vsize, rva, raw_size, raw_offset, _, _, _, _, flags = struct.unpack_from(
                '<8sIIIIIIHHI', self.data, optional + optional_size + 40 * i)
            name = name.rstrip(b'\0').decode()
            self.sections.append((name, rva, max(vsize, raw_size), raw_offset))
            self.section_flags[name] = flags

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def section_of(self, rva):
        for name, start, size, _ in self.sections:
            if start <= rva < start + size:
                return name
        return None

    def offset(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return rva - start + raw
        raise ValueError(f'RVA {rva:#x} is in no section')

    def u16(self, rva):
        return struct.unpack_from('<H', self.data, self.offset(rva))[0]

    def u32(self, rva):
        return struct.unpack_from('<I', self.data, self.offset(rva))[0]

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b'\0', start)].decode('ascii')

    def imports(self):
        """[(dll, function)], functions imported by ordinal as '#N'."""
        found = []
        rva, _ = self.directory(DIR_IMPORT)
        while rva:
            lookup, _, _, name, address = struct.unpack_from('<IIIII', self.data, self.offset(rva))
            if not name:
                break
            dll = self.text(name)
            thunk = lookup or address
            while self.u32(thunk):
                entry = self.u32(thunk)
                found.append((dll, f'#{entry & 0xFFFF}' if entry & 0x80000000 else self.text(entry + 2)))
                thunk += 4
            rva += 20
        return found

    def resources(self):
        """{(type, name, language): bytes}; a named type or name is its text."""
        root, _ = self.directory(DIR_RESOURCE)
        found = {}
        if not root:
            return found

        def entries(table):
            named, numbered = struct.unpack_from('<HH', self.data, self.offset(root + table + 12))
            for i in range(named + numbered):
                ident, target = struct.unpack_from('<II', self.data, self.offset(root + table + 16 + 8 * i))
                if ident & 0x80000000:
                    at = root + (ident & 0x7FFFFFFF)
                    length = self.u16(at)
                    start = self.offset(at + 2)
                    ident = self.data[start:start + 2 * length].decode('utf-16-le')
                yield ident, target

        for kind, types in entries(0):
            for name, names in entries(types & 0x7FFFFFFF):
                for language, leaf in entries(names & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from('<II', self.data, self.offset(root + leaf))
                    start = self.offset(data_rva)
                    found[(kind, name, language)] = self.data[start:start + size]
        return found


def check_headers(image, failures):
    header = image.header
    expected = [
        ('Machine', image.machine, 0x14C),
        ('Subsystem (2: GUI)', header['Subsystem'], 2),
        ('MajorSubsystemVersion', header['MajorSubsystemVersion'], 4),
        ('MinorSubsystemVersion', header['MinorSubsystemVersion'], 0),
        ('MajorOperatingSystemVersion', header['MajorOperatingSystemVersion'], 4),
        ('MinorOperatingSystemVersion', header['MinorOperatingSystemVersion'], 0),
        ('ImageBase', header['ImageBase'], 0x400000),
        ('SectionAlignment', header['SectionAlignment'], 0x1000),
        ('FileAlignment', header['FileAlignment'], 0x200),
        ('executable, not a DLL', image.characteristics & 0x2002, 0x0002),
        # The NT family may load the image elsewhere (address-space layout
        # randomisation) and keeps data from being executed; moving it needs
        # the base relocations, kept in their own section.
        ('DYNAMIC_BASE and NX_COMPAT', header['DllCharacteristics'] & (DYNAMIC_BASE | NX_COMPAT),
         DYNAMIC_BASE | NX_COMPAT),
        ('relocations not stripped', image.characteristics & RELOCS_STRIPPED, 0),
        ('symbol table stripped (pointer)', image.symbol_table, 0),
        ('symbol table stripped (count)', image.symbol_count, 0),
        ('TLS directory (callbacks would need a runtime)', image.directory(DIR_TLS), (0, 0)),
        ('delay-load imports', image.directory(DIR_DELAY_IMPORT), (0, 0)),
    ]
    for what, actual, wanted in expected:
        show = (lambda v: tuple(hex(x) for x in v)) if isinstance(wanted, tuple) else hex
        failures.check(actual == wanted, f'{what}: {show(actual)} (want {show(wanted)})')
    relocations, size = image.directory(DIR_BASERELOC)
    failures.check(size > 0 and image.section_of(relocations) == '.reloc',
                   f'base relocations: {size} bytes in section {image.section_of(relocations)} (want some, in .reloc)')
    # A section both writable and executable would undo NX_COMPAT for it.
    writable_code = sorted(name for name, flags in image.section_flags.items()
                           if flags & SCN_MEM_EXECUTE and flags & SCN_MEM_WRITE)
    failures.check(not writable_code, 'no section both writable and executable' +
                   (': ' + ', '.join(writable_code) if writable_code else ''))


def read_expected_imports(path):
    expected = []
    with open(path, encoding='ascii') as listing:
        for number, line in enumerate(listing, 1):
            line = line.split('#', 1)[0].strip()
            if not line:
                continue
            if line.count('!') != 1:
                raise ValueError(f'{path}:{number}: not DLL!Function: {line}')
            dll, function = line.split('!')
            expected.append((dll, function))
    return expected


def check_imports(image, failures, expected_path):
    actual = image.imports()
    for dll in sorted({dll for dll, _ in actual}):
        failures.check(dll.lower() in ALLOWED_DLLS, f'imports from {dll}' +
                       ('' if dll.lower() in ALLOWED_DLLS else ' (DLL not allowed)'))

    nt_only = sorted(f'{dll}!{function}' for dll, function in actual if function.lower() in LOOKED_UP_AT_RUN_TIME)
    failures.check(not nt_only, 'no import of a call only the NT family has' +
                   (': ' + ', '.join(nt_only) if nt_only else ''))

    def key(entry):
        return entry[0].lower(), entry[1]

    expected = read_expected_imports(expected_path)
    spelling = {key(entry): f'{entry[0]}!{entry[1]}' for entry in expected + actual}
    actual_keys = {key(entry) for entry in actual}
    expected_keys = {key(entry) for entry in expected}
    for entry in sorted(actual_keys - expected_keys):
        failures.check(False, f'unexpected import: {spelling[entry]}')
    for entry in sorted(expected_keys - actual_keys):
        failures.check(False, f'expected import missing: {spelling[entry]}')
    if failures.check(actual_keys == expected_keys, f'{len(actual_keys)} imports match {expected_path}'):
        return
    print(f'The imports of the executable, one a line (for {os.path.basename(expected_path)}):')
    for dll, function in sorted(actual, key=key):
        print(f'{dll}!{function}')


# Instructions a 486 does not have (cmov, the P6 compares and long NOPs, the
# Pentium's cmpxchg8b and rdtsc, the fences and cache hints of later chips),
# and any MMX, SSE or AVX register.
NEWER_THAN_I486 = re.compile(
    r'^(cmov\w*|fcmov\w*|f(u)?comip?|cmpxchg8b|rdtsc|rdtscp|rdpmc|sysenter|sysexit|'
    r'nop[lw]|[lsm]fence|prefetch\w*|movnt\w*|clflush\w*|emms|femms|[ls]dmxcsr|fxsave|fxrstor|'
    r'popcnt|lzcnt|tzcnt|movbe|crc32\w*)$')
VECTOR_REGISTER = re.compile(r'%(x|y|z)?mm\d+')
PREFIXES = {'rep', 'repz', 'repe', 'repnz', 'repne', 'lock', 'data16', 'addr16', 'cs', 'ds', 'es', 'fs', 'gs', 'ss'}
INSTRUCTION = re.compile(r'\s*([0-9a-f]+):\s+(.*\S)\s*$')


def newer_than_i486(instruction):
    """Whether one disassembled instruction ("mnemonic operands", AT&T syntax,
    prefixes first) needs more than an i486 without MMX or SSE."""
    words = instruction.split()
    while len(words) > 1 and words[0] in PREFIXES:
        words.pop(0)
    mnemonic, operands = words[0], ' '.join(words[1:])
    if mnemonic == 'nop' and operands:  # 0F 1F, the long NOP of the P6
        return True
    return bool(NEWER_THAN_I486.match(mnemonic) or VECTOR_REGISTER.search(operands))


CODE_END = re.compile(r'^\s+(0x[0-9a-f]+)\s+__qv_code_end = \.\s*$')


def code_end(lines):
    """The address of __qv_code_end in a linker map, where cmake/QVUninst.ld
    ends the code and starts the read-only data in .text; None without one."""
    for line in lines:
        match = CODE_END.match(line)
        if match:
            return int(match.group(1), 16)
    return None


def check_instructions(exe, failures, objdump, map_path):
    command = [objdump, '-d', '--no-show-raw-insn', exe]
    end = None
    if map_path:
        with open(map_path, encoding='latin-1') as linker_map:
            end = code_end(linker_map.read().splitlines())
    if end is not None:
        print(f'code ends at {end:#x} (__qv_code_end); the data after it is not disassembled')
        command.append(f'--stop-address={end:#x}')
    listing = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    offending = []
    count = 0
    for line in listing.splitlines():
        match = INSTRUCTION.match(line)
        if not match:
            continue
        count += 1
        if newer_than_i486(match.group(2)):
            offending.append(f'{match.group(1)}: {match.group(2)}')
    failures.check(count > 0, f'{count} instructions disassembled')
    failures.check(not offending, f'{len(offending)} instructions newer than the i486 or MMX/SSE')
    for line in offending[:40]:
        print(f'      {line}')


def check_size(exe, failures):
    size = os.path.getsize(exe)
    print(f'size of {os.path.basename(exe)}: {size} bytes')
    failures.check(size <= MAX_SIZE, f'{size} bytes, at most {MAX_SIZE}')


def expected_progress_dialog():
    """Template 102 as the program's dialog procedure expects it: a plain
    DLGTEMPLATE with one control."""
    def text(value):
        return value.encode('utf-16-le') + b'\0\0'

    style = 0x80000000 | 0x10000000 | 0x800 | 0x80 | 0x40 | 0x04  # popup, visible, centre, modal frame, font, 3D
    template = struct.pack('<IIHhhhh', style, 0, 1, 200, 150, 163, 30)
    template += text('') + text('') + text('')  # no menu, the system's class, no title
    template += struct.pack('<H', 9) + text('ＭＳ Ｐゴシック')  # U+FF2D U+FF33 U+0020 U+FF30 U+30B4 U+30B7 U+30C3 U+30AF
    template += b'\0' * (-len(template) % 4)
    template += struct.pack('<IIhhhhH', 0x50800000, 0, 7, 7, 149, 16, 1000)  # child, visible, border
    template += text('msctls_progress32') + text('Progress1') + struct.pack('<H', 0)
    assert style == 0x900008C4
    return template


def check_manifest(manifest, failures):
    try:
        root = ElementTree.fromstring(manifest)
    except ElementTree.ParseError as error:
        failures.check(False, f'manifest is well-formed XML ({error})')
        return
    failures.check(root.tag == f'{{{ASM_V1}}}assembly', f'manifest root is an asm.v1 assembly ({root.tag})')
    level = root.find(f'{{{ASM_V3}}}trustInfo/{{{ASM_V3}}}security/{{{ASM_V3}}}requestedPrivileges/'
                      f'{{{ASM_V3}}}requestedExecutionLevel')
    failures.check(level is not None and level.get('level') == 'requireAdministrator',
                   'manifest asks requireAdministrator')
    failures.check(level is not None and level.get('uiAccess') == 'false', 'manifest has uiAccess false')
    # A trustInfo that declares a second namespace stops some XP service packs from loading the program.
    trust = re.findall(rb'<(?:\w+:)?trustInfo\b[^>]*>', manifest)
    failures.check(len(trust) == 1 and len(re.findall(rb'\bxmlns', trust[0])) == 1,
                   f'trustInfo declares one namespace ({trust[0].decode() if trust else "no trustInfo"})')


def check_icon(resources, failures):
    groups = [data for (kind, name, _), data in resources.items() if kind == RT_GROUP_ICON and name == 105]
    if not failures.check(len(groups) == 1, 'one icon group 105'):
        return
    group = groups[0]
    reserved, kind, count = struct.unpack_from('<HHH', group, 0)
    failures.check((reserved, kind) == (0, 1), 'icon group header')
    icons = {name: data for (kind, name, _), data in resources.items() if kind == RT_ICON}
    sizes = []
    for i in range(count):
        width, height, colours, _, planes, bits, size, ident = struct.unpack_from('<BBBBHHIH', group, 6 + 14 * i)
        image = icons.get(ident, b'')
        header = struct.unpack_from('<IiiHH', image, 0) if len(image) >= 16 else None
        failures.check(header == (40, width, 2 * height, 1, 4) and (colours, planes, bits) == (16, 1, 4)
                       and len(image) == size,
                       f'icon {width}x{height}, 16 colours, 4 bits per pixel, image {ident} matches')
        sizes.append(width)
    failures.check(sorted(sizes) == [16, 32], f'icon images are 32x32 and 16x16 ({sizes})')


def check_resources(image, failures):
    resources = image.resources()
    manifests = [data for (kind, name, _), data in resources.items() if (kind, name) == (RT_MANIFEST, 1)]
    if failures.check(len(manifests) == 1, 'one manifest resource (RT_MANIFEST 1)'):
        check_manifest(manifests[0], failures)
    dialog = resources.get((RT_DIALOG, 102, LANG_JAPANESE))
    failures.check(dialog is not None, 'dialog 102 in language 1041')
    if dialog is not None:
        wanted = expected_progress_dialog()
        failures.check(dialog == wanted, 'dialog 102: style 0x900008C4, 200,150 163x30, 9 pt face of code page 932, '
                       'control 1000 msctls_progress32 "Progress1" 0x50800000 7,7 149x16')
        if dialog != wanted:
            print(f'      have {dialog.hex()}\n      want {wanted.hex()}')
    check_icon(resources, failures)


# Input sections that a runtime would walk before WinMain: constructors and
# destructors of statics, the C runtime's initialiser tables, TLS data and
# callbacks. With no runtime they would be linked in and silently never run.
STATIC_INIT = re.compile(r'^ (\.ctors|\.ctor|\.dtors|\.dtor|\.init_array|\.fini_array|\.CRT\$\w+|\.tls)(\.\S*|\$\S*)?'
                         r'(\s+0x[0-9a-f]+\s+(0x[0-9a-f]+)\s+(\S+))?\s*$')
ADDRESS_SIZE_FILE = re.compile(r'^\s+0x[0-9a-f]+\s+(0x[0-9a-f]+)\s+(\S+)\s*$')


def static_init_entries(lines):
    """The non-empty static-initialisation input sections of a linker map,
    as "section from object (n bytes)"."""
    found = []
    for i, line in enumerate(lines):
        match = STATIC_INIT.match(line)
        if not match:
            continue
        size, origin = match.group(4), match.group(5)
        if size is None and i + 1 < len(lines):  # a long section name puts the rest on the next line
            rest = ADDRESS_SIZE_FILE.match(lines[i + 1])
            if rest:
                size, origin = rest.groups()
        if size and int(size, 16):
            found.append(f'{line.split()[0]} from {origin} ({int(size, 16)} bytes)')
    return found


def check_static_init(map_path, failures):
    with open(map_path, encoding='latin-1') as linker_map:
        found = static_init_entries(linker_map.read().splitlines())
    failures.check(not found, 'no static constructors, initialiser tables or TLS linked in')
    for entry in found[:20]:
        print(f'      {entry}')


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('check', choices=['headers', 'imports', 'instructions', 'size', 'resources', 'static-init'])
    parser.add_argument('exe')
    parser.add_argument('--expected')
    parser.add_argument('--objdump')
    parser.add_argument('--map')
    args = parser.parse_args()
    failures = Failures()
    if args.check == 'headers':
        check_headers(PeImage(args.exe), failures)
    elif args.check == 'imports':
        check_imports(PeImage(args.exe), failures, args.expected)
    elif args.check == 'instructions':
        check_instructions(args.exe, failures, args.objdump, args.map)
    elif args.check == 'size':
        check_size(args.exe, failures)
    elif args.check == 'resources':
        check_resources(PeImage(args.exe), failures)
    else:
        check_static_init(args.map, failures)
    print(f'{args.check}: {failures.count} failed')
    return 1 if failures.count else 0


if __name__ == '__main__':
    sys.exit(main())
