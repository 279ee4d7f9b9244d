#!/usr/bin/env python3
"""Tests of the pieces of check_pe.py and res/compile_resources.py that read
text or bytes made by other tools, where a slip would let a fault through."""
import os
import struct
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, '..', '..', 'res'))

import check_pe  # noqa: E402
import compile_resources  # noqa: E402


class InstructionTest(unittest.TestCase):
    CASES = [
        # (objdump instruction, needs more than an i486 without MMX/SSE)
        ('push   %ebp', False),
        ('rep stos %eax,%es:(%edi)', False),
        ('xchg   %ax,%ax', False),
        ('lea    0x0(%esi,%eiz,1),%esi', False),
        ('nop', False),
        ('bswap  %eax', False),
        ('cmpxchg %ecx,(%edx)', False),
        ('fucom  %st(1)', False),
        ('fcomp  %st(2)', False),
        ('cmovne %edx,%eax', True),
        ('cmovael 0x4(%esp),%eax', True),
        ('fcmovb %st(1),%st', True),
        ('fucomip %st(1),%st', True),
        ('cmpxchg8b (%esi)', True),
        ('rdtsc', True),
        ('nopw   0x0(%eax,%eax,1)', True),
        ('cs nopw 0x0(%eax,%eax,1)', True),
        ('data16 cs nopw 0x0(%eax,%eax,1)', True),
        ('nop    %edi', True),
        ('pxor   %xmm0,%xmm0', True),
        ('movd   %mm0,%eax', True),
        ('movss  0x4(%esp),%xmm1', True),
        ('emms', True),
        ('sfence', True),
    ]

    def test_classification(self):
        for instruction, newer in self.CASES:
            with self.subTest(instruction=instruction):
                self.assertEqual(check_pe.newer_than_i486(instruction), newer)


class StaticInitTest(unittest.TestCase):
    CASES = [
        # (label, linker map lines, entries found)
        ('constructor on one line',
         [' .ctors         0x00401394        0x4 main_flow.cpp.obj'],
         ['.ctors from main_flow.cpp.obj (4 bytes)']),
        ('prioritised constructor, name on its own line',
         [' .ctors.65535', '                0x00401394        0x8 catalog.cpp.obj'],
         ['.ctors.65535 from catalog.cpp.obj (8 bytes)']),
        ('TLS callback table',
         [' .CRT$XLB       0x00405000        0x4 tls.o'],
         ['.CRT$XLB from tls.o (4 bytes)']),
        ('TLS data',
         [' .tls$          0x00406000        0x10 data.o'],
         ['.tls$ from data.o (16 bytes)']),
        ('empty contribution',
         [' .ctors         0x00401394        0x0 main_flow.cpp.obj'],
         []),
        ('script patterns and output sections are no contributions',
         [' *(.ctors)', ' *(SORT_BY_NAME(.CRT$XC*))', '.CRT            0x00405000        0x0',
          '.tls            0x00405000        0x0'],
         []),
        ('other sections',
         [' .text          0x00401000       0x2c libgcc.a(_chkstk_ms.o)',
          ' .data$ctorsTable', '                0x00402000        0x4 table.o'],
         []),
    ]

    def test_map(self):
        for label, lines, found in self.CASES:
            with self.subTest(label):
                self.assertEqual(check_pe.static_init_entries(lines), found)


class CodeEndTest(unittest.TestCase):
    CASES = [
        # (label, linker map lines, address where the instruction check stops)
        ('assignment in the script', ['                0x00403818                        __qv_code_end = .'],
         0x403818),
        ('no such symbol: the whole of .text', [' .text          0x00401000       0x2c main_flow.cpp.obj'], None),
        ('another symbol', ['                0x00407000                        __end__ = .'], None),
    ]

    def test_map(self):
        for label, lines, end in self.CASES:
            with self.subTest(label):
                self.assertEqual(check_pe.code_end(lines), end)


class ExpectedImportsTest(unittest.TestCase):
    def read(self, text):
        with tempfile.NamedTemporaryFile('w', suffix='.txt', delete=False) as listing:
            listing.write(text)
        try:
            return check_pe.read_expected_imports(listing.name)
        finally:
            os.unlink(listing.name)

    def test_lines_comments_and_blanks(self):
        self.assertEqual(self.read('# imports\n\nKERNEL32.dll!ExitProcess\n  USER32.dll!MessageBoxA  # boxes\n'),
                         [('KERNEL32.dll', 'ExitProcess'), ('USER32.dll', 'MessageBoxA')])

    def test_malformed_lines(self):
        for line in ('KERNEL32.dll ExitProcess', 'KERNEL32.dll!Exit!Process'):
            with self.subTest(line=line), self.assertRaises(ValueError):
                self.read(line + '\n')


def res_entry(kind, name, data):
    """One entry of a .res file with ordinal type and name."""
    header = struct.pack('<IIHHHHIHHII', len(data), 32, 0xFFFF, kind, 0xFFFF, name, 0, 0x1030, 1041, 0, 0)
    return header + data + b'\0' * (-len(data) % 4)


def text(value):
    return value.encode('utf-16-le') + b'\0\0'


class RestoreClassCaseTest(unittest.TestCase):
    SPELLINGS = {'MSCTLS_PROGRESS32': 'msctls_progress32', 'PROGRESS1': 'Progress1'}

    def restore(self, template):
        res = res_entry(0, 0, b'') + res_entry(compile_resources.RT_DIALOG, 102, template)
        fixed = compile_resources.restore_class_case(res, self.SPELLINGS)
        return fixed[32 + 32:32 + 32 + len(template)]

    def test_plain_template(self):
        wanted = check_pe.expected_progress_dialog()
        shouted = wanted.replace(text('msctls_progress32'), text('MSCTLS_PROGRESS32'))
        self.assertNotEqual(shouted, wanted)
        self.assertEqual(self.restore(shouted), wanted)

    def test_extended_template(self):
        def template(class_name):
            data = struct.pack('<HHIIIHhhhh', 1, 0xFFFF, 0, 0, 0x900008C4, 2, 0, 0, 100, 20)
            data += text('') + text('') + text('Title')
            data += struct.pack('<HHBB', 9, 400, 0, 1) + text('Face')
            for ident, name in ((1, class_name), (2, 'BUTTON')):
                data += b'\0' * (-len(data) % 4)
                data += struct.pack('<IIIhhhhI', 0, 0, 0x50000000, 1, 1, 10, 10, ident)
                data += text(name) + text('PROGRESS1') + struct.pack('<H', 0)
            return data

        # Only class names change: the title "PROGRESS1" stays as windres wrote it.
        self.assertEqual(self.restore(template('MSCTLS_PROGRESS32')), template('msctls_progress32'))

    def test_ordinal_classes_and_other_resources_untouched(self):
        data = struct.pack('<IIHhhhh', 0x900008C4, 0, 1, 0, 0, 10, 10) + text('') * 3
        data += struct.pack('<H', 9) + text('Face')
        data += b'\0' * (-len(data) % 4)
        data += struct.pack('<IIhhhhH', 0x50000000, 0, 0, 0, 5, 5, 1) + struct.pack('<HH', 0xFFFF, 0x82)
        data += text('PROGRESS1') + struct.pack('<H', 0)
        self.assertEqual(self.restore(data), data)
        manifest = res_entry(24, 1, text('MSCTLS_PROGRESS32'))
        self.assertEqual(compile_resources.restore_class_case(manifest, self.SPELLINGS), manifest)


if __name__ == '__main__':
    unittest.main()
