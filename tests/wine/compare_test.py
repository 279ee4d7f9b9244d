#!/usr/bin/env python3
"""The comparison must see every kind of difference between two resulting
machines, and the REGEDIT4 reader must read what the stand-in writes: a
comparison that reads nothing agrees with everything."""
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), 'tools', 'wine'))
import compare  # noqa: E402
import machine_folder as mf  # noqa: E402

MACHINE_INI = """[Machine]
Family=NT
[Printer1]
Name=Mail
Port=QVMAIL1:
[Directories]
1=C:\\Empty
"""
REGISTRY = """REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Uninstall\\Lumora]
"DisplayName"="Lumora \\"Mail\\" C:\\\\x"
"Count"=dword:0000001e
"Blob"=hex:01,02,\\
  03

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Uninstall\\Lumora\\Sub]
@="default"
"""
RESULT = """[Result]
ExitCode=1

[Box1]
Caption=Title
Text=Line one\\nLine two
Style=36
Answer=6

[PendingDeletes]
1=C:\\App\\QVUninst.exe

[Processes]
1=command.com /c del "C:\\App\\Copy.exe"

[OpenedPrinters]
1=Mail

[Restart]
1=C:\\App\\QVUninst.exe|deleted
"""
FILES = {'App/QVUninst.exe': b'exe', 'App/Readme.txt': b'read me'}


def write_machine(folder, edit=None):
    texts = {'machine.ini': MACHINE_INI, 'registry.reg': REGISTRY, 'result.ini': RESULT}
    files = dict(FILES)
    if edit:
        edit(texts, files)
    os.makedirs(os.path.join(folder, 'drive_c'))
    for name, text in texts.items():
        mf.write_text(os.path.join(folder, name), text)
    for path, data in files.items():
        full = os.path.join(folder, 'drive_c', path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, 'wb') as file:
            file.write(data)


def replace(name, old, new):
    def edit(texts, files):
        assert old in texts[name], (name, old)
        texts[name] = texts[name].replace(old, new)
    return edit


def both(*edits):
    def edit(texts, files):
        for each in edits:
            each(texts, files)
    return edit


def wininit(text):
    """The WININIT.INI a run left, as its runner writes it next to result.ini."""
    def edit(texts, files):
        texts['wininit.ini'] = text
    return edit


# Wine's own 8.3 aliases of C:\App and its executable, as its driver reports them.
WINE_ALIAS = replace('result.ini', '[OpenedPrinters]', '[ShortNames]\n1=C:\\App|C:\\APP~FBU\n'
                     '2=C:\\App\\QVUninst.exe|C:\\APP~FBU\\QVUNI~XY.EXE\n\n[OpenedPrinters]')


def file_edit(path, data):
    def edit(texts, files):
        if data is None:
            files.pop(path, None)
        else:
            files[path] = data
    return edit


class DifferencesTest(unittest.TestCase):
    def test_each_kind_of_difference_is_reported(self):
        rows = [
            ('same machine', None, []),
            ('exit code', replace('result.ini', 'ExitCode=1', 'ExitCode=0'), ['exit']),
            ('cut on one side only', replace('result.ini', 'ExitCode=1', 'ExitCode=1\nCut=yes'), ['cut']),
            ('box style', replace('result.ini', 'Style=36', 'Style=32'), ['box1.style']),
            ('box text', replace('result.ini', 'Line two', 'Line 2'), ['box1.text']),
            ('one box more', replace('result.ini', '[PendingDeletes]', '[Box2]\nText=x\n\n[PendingDeletes]'),
             ['boxes']),
            ('pending delete in other case only', replace('result.ini', 'C:\\App', 'c:\\app'), []),
            ('no pending delete', replace('result.ini', '1=C:\\App\\QVUninst.exe\n', ''), ['pending']),
            ('a process', replace('result.ini', '[Processes]\n', '[Processes]\n1=command.com /c del x\n'),
             ['processes']),
            ('file gone', file_edit('App/Readme.txt', None), ['files:C:\\App\\Readme.txt']),
            ('file changed', file_edit('App/Readme.txt', b'other'), ['files:C:\\App\\Readme.txt']),
            ('empty directory gone', replace('machine.ini', '[Directories]\n1=C:\\Empty\n', ''),
             ['files:C:\\Empty']),
            ('key gone', replace('registry.reg', '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Uninstall\\Lumora\\Sub]\n@="default"\n',
                                 ''), ['registry:SOFTWARE\\Uninstall\\Lumora\\Sub']),
            ('dword changed', replace('registry.reg', 'dword:0000001e', 'dword:0000001f'),
             ['registry:SOFTWARE\\Uninstall\\Lumora:Count']),
            ('binary continued line changed', replace('registry.reg', '  03', '  04'),
             ['registry:SOFTWARE\\Uninstall\\Lumora:Blob']),
            ('default value gone', replace('registry.reg', '@="default"\n', ''),
             ['registry:SOFTWARE\\Uninstall\\Lumora\\Sub:@']),
            ('printer moved', replace('machine.ini', 'Port=QVMAIL1:', 'Port=LPT1:'), ['printer:Mail']),
            ('printer not opened', replace('result.ini', '1=Mail\n', ''), ['opened']),
            ('printer opened twice', replace('result.ini', '1=Mail\n', '1=Mail\n2=Mail\n'), ['opened']),
            ('restart outcome', replace('result.ini', '|deleted', '|kept (in use)'), ['restart']),
            ('read-only on one side',
             replace('machine.ini', '[Directories]', '[Attributes]\n1=C:\\App\\Readme.txt|readonly\n[Directories]'),
             ['attributes:C:\\App\\Readme.txt']),
            ('archive on one side',
             replace('machine.ini', '[Directories]', '[Attributes]\nC:\\App\\Readme.txt=archive\n[Directories]'), []),
            ('a WININIT.INI left on one side', wininit('[rename]\r\n'), ['wininit']),
        ]
        for label, edit, expected in rows:
            with self.subTest(label), tempfile.TemporaryDirectory() as work:
                write_machine(os.path.join(work, 'sim'))
                write_machine(os.path.join(work, 'wine'), edit)
                scope = compare.registry_scope(os.path.join(work, 'sim'))
                found = compare.differences(compare.Outcome(os.path.join(work, 'sim'), scope),
                                            compare.Outcome(os.path.join(work, 'wine'), scope), scope, ['Mail'])
                self.assertEqual([item for item, _, _ in found], expected, label)


MONITOR_REGISTRY = """REGEDIT4

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Monitors\\Mail Monitor]
"Driver"="QVMon.dll"

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Monitors\\Mail Monitor\\Ports]

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Monitors\\Mail Monitor\\Ports\\QVMAIL1:]

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Monitors\\Mail Monitor\\Ports\\QVMAIL2:]
"""


class WineRulesTest(unittest.TestCase):
    """A named rule leaves out the difference it describes, and no other."""

    def test_spooler_deleting_what_a_printer_uses(self):
        monitor = 'System\\CurrentControlSet\\Control\\Print\\Monitors\\Mail Monitor'
        port_key = monitor + '\\Ports\\QVMAIL1:'
        rows = [
            ('port in use, deleted by Wine', 'QVMAIL1:', port_key, ['spooler-deletes-ports-in-use']),
            ('in use in other letter case', 'qvmail1:', port_key, ['spooler-deletes-ports-in-use']),
            ('in use by a pooled printer', 'QVMAIL1:,LPT2:', monitor, ['spooler-deletes-ports-in-use']),
            ('no printer uses it', 'LPT2:', port_key, []),
            ('a port of another name in use', 'QVMAIL10:', monitor + '\\Ports', []),
            ('an unused port deleted with the monitor in use', 'QVMAIL2:', monitor, ['spooler-deletes-ports-in-use']),
        ]
        for label, printer_port, deleted_key, rules in rows:
            with self.subTest(label), tempfile.TemporaryDirectory() as work:
                def edit(texts, files, port=printer_port):
                    texts['registry.reg'] = MONITOR_REGISTRY
                    texts['machine.ini'] = texts['machine.ini'].replace('Port=QVMAIL1:', 'Port=' + port)
                write_machine(os.path.join(work, 'sim'), edit)

                def gone(texts, files, port=printer_port, key=deleted_key):
                    edit(texts, files, port)
                    reg = mf.parse_reg(texts['registry.reg'])
                    texts['registry.reg'] = mf.format_reg({k: v for k, v in reg.items()
                                                           if k != mf.fold(key) and not k.startswith(mf.fold(key) + '\\')})
                write_machine(os.path.join(work, 'wine'), gone)
                scope = compare.registry_scope(os.path.join(work, 'sim'))
                sim = compare.Outcome(os.path.join(work, 'sim'), scope)
                wine = compare.Outcome(os.path.join(work, 'wine'), scope)
                found = compare.differences(sim, wine, scope, ['Mail'])
                self.assertTrue(found, label)
                # Each difference, by the rules that leave it out: all of them or none.
                applied = [sorted(name for name, test, _ in compare.WINE_RULES if test(item, on_sim, on_wine, sim, wine))
                           for item, on_sim, on_wine in found]
                self.assertEqual(applied, [rules] * len(found), label)


    def test_paths_in_other_forms(self):
        own_alias = replace('machine.ini', '[Directories]',
                            '[ShortNames]\nC:\\App=APP~1\nC:\\App\\QVUninst.exe=QVUNIN~1.EXE\n[Directories]')

        def started_as(executable):
            return replace('machine.ini', 'Family=NT', 'Family=NT\nExecutable=' + executable)
        by_alias = replace('result.ini', '=C:\\App\\QVUninst.exe', '=C:\\APP~1\\QVUNIN~1.EXE')

        def stand_in_alias(folder):  # as the stand-in's runner reports the aliases it made
            return replace('result.ini', '[OpenedPrinters]', '[ShortNames]\n1=C:\\App|C:\\%s\n'
                           '2=C:\\App\\QVUninst.exe|C:\\%s\\QVUNIN~1.EXE\n\n[OpenedPrinters]' % (folder, folder))
        on_9x = replace('machine.ini', 'Family=NT', 'Family=95/98\nExecutable=C:\\App\\QVUninst.exe')
        no_command = both(replace('result.ini', '1=C:\\App\\QVUninst.exe\n', ''),
                          replace('result.ini', '1=command.com /c del "C:\\App\\Copy.exe"\n', ''),
                          replace('result.ini', '1=C:\\App\\QVUninst.exe|deleted\n', ''))
        wine_deletes_by_alias = both(
            replace('result.ini', '1=C:\\App\\QVUninst.exe\n', ''), WINE_ALIAS,
            replace('result.ini', '"C:\\App\\Copy.exe"', '"C:\\APP~FBU\\QVUNI~XY.EXE"'),
            replace('result.ini', '1=C:\\App\\QVUninst.exe|deleted', '1=C:\\APP~FBU\\QVUNI~XY.EXE|deleted'),
            file_edit('App/QVUninst.exe', None))
        rule = 'wine-makes-its-own-short-names'
        rows = [
            ("each side's own aliases", both(own_alias, by_alias),
             both(replace('result.ini', '=C:\\App\\QVUninst.exe', '=C:\\APP~FBU\\QVUNI~XY.EXE'), WINE_ALIAS),
             {'pending': ['wine-makes-its-own-short-names'], 'restart': ['wine-makes-its-own-short-names']}),
            ('an 8.3 form under Wine only', None,
             both(replace('result.ini', '=C:\\App\\QVUninst', '=C:\\APP~FBU\\QVUninst'), WINE_ALIAS),
             {'pending': [], 'restart': []}),
            ('the delete command by an 8.3 form on one side', None,
             both(WINE_ALIAS, replace('result.ini', '"C:\\App\\Copy.exe"', '"C:\\APP~FBU\\Copy.exe"')),
             {'processes': []}),
            ('the executable by its 8.3 form on the stand-in, long under Wine',
             both(own_alias, started_as('C:\\APP~1\\QVUninst.exe'), by_alias), None,
             {'pending': ['module-path-is-long'], 'restart': ['module-path-is-long']}),
            ('another program by its 8.3 form on the stand-in', both(own_alias, started_as('C:\\x.exe'), by_alias),
             None, {'pending': [], 'restart': []}),
            ("the stand-in's aliases as its result reports them", both(by_alias, stand_in_alias('APP~1')),
             both(replace('result.ini', '=C:\\App\\QVUninst.exe', '=C:\\APP~FBU\\QVUNI~XY.EXE'), WINE_ALIAS),
             {'pending': ['wine-makes-its-own-short-names'], 'restart': ['wine-makes-its-own-short-names']}),
            # 95/98: the command names the executable by Wine's alias; the stand-in's holds a letter DOS
            # reads otherwise (as a VFAT alias of an accented name does), so it started none.
            ("no command on the stand-in, whose 8.3 form DOS reads otherwise",
             both(on_9x, no_command, stand_in_alias('\xC4PP')), wine_deletes_by_alias,
             {'processes': [rule], 'restart': [rule], 'files:C:\\App\\QVUninst.exe': [rule]}),
            ("no command on the stand-in, whose 8.3 form DOS reads as it is",
             both(on_9x, no_command, stand_in_alias('APP~1')), wine_deletes_by_alias,
             {'processes': [], 'restart': [], 'files:C:\\App\\QVUninst.exe': []}),
            ("WININIT.INI's lines by each side's aliases", both(own_alias, wininit(
                '[x]\r\nNUL=C:\\APP~1\r\n[rename]\r\nNUL=C:\\APP~1\\QVUNIN~1.EXE\r\n')),
             both(WINE_ALIAS, wininit('[x]\r\nNUL=C:\\APP~1\r\n[rename]\r\nNUL=c:\\app~fbu\\QVUNI~XY.EXE\r\n')),
             {'wininit': ['wine-makes-its-own-short-names']}),
            ('a WININIT.INI line by an 8.3 form on one side only',
             wininit('[rename]\r\nNUL=C:\\App\\QVUninst.exe\r\n'),
             both(WINE_ALIAS, wininit('[rename]\r\nNUL=C:\\APP~FBU\\QVUninst.exe\r\n')), {'wininit': []}),
            ("WININIT.INI's aliases outside [rename]", both(own_alias, wininit('[x]\r\nNUL=C:\\APP~1\r\n')),
             both(WINE_ALIAS, wininit('[x]\r\nNUL=C:\\APP~FBU\r\n')), {'wininit': []}),
        ]
        for label, sim_edit, wine_edit, rules in rows:
            with self.subTest(label), tempfile.TemporaryDirectory() as work:
                write_machine(os.path.join(work, 'sim'), sim_edit)
                write_machine(os.path.join(work, 'wine'), wine_edit)
                sim_folder = os.path.join(work, 'sim')
                sim = compare.Outcome(sim_folder, {}, compare.machine_aliases(sim_folder))
                wine = compare.Outcome(os.path.join(work, 'wine'), {})
                applied = {item: sorted(name for name, test, _ in compare.WINE_RULES if test(item, a, b, sim, wine))
                           for item, a, b in compare.differences(sim, wine, {}, ['Mail'])}
                self.assertEqual(applied, rules, label)


    def test_names_wine_reads_otherwise(self):
        def restart(name, outcome, file=b'x'):
            line = 'NUL=C:\\App\\' + name
            return both(replace('result.ini', '|deleted\n', '|deleted\n2=%s|%s\n' % (line, outcome)),
                        file_edit('App/' + mf.to_unicode(name, 1252), file))

        def box_naming(*names, style=48):
            return replace('result.ini', 'Line two\nStyle=36', 'Line two\\n\\nThese could not be removed:\\n%s\nStyle=%d'
                           % ('\\n'.join(names), style))
        all_went = replace('result.ini', 'Style=36', 'Style=0')
        rows = [
            ('an entry whose key path Wine cannot take, named under Wine only', all_went,
             box_naming('L' * 209), 'wine-ansi-key-paths-end-at-260'),
            ('an entry whose key path Wine takes', all_went, box_naming('L' * 208), None),
            ('the same, the other names shifted into the count', box_naming('C:\\a', 'C:\\b', 'C:\\c'),
             box_naming('L' * 209, 'C:\\a', 'C:\\b', '1 more'), 'wine-ansi-key-paths-end-at-260'),
            ('the same, another name missing', box_naming('C:\\a', 'C:\\b', 'C:\\c'),
             box_naming('L' * 209, 'C:\\a', 'C:\\c', '1 more'), None),
            ('a long name the stand-in ignored, Wine deleted', restart('Read me.txt', 'ignored (long name)'),
             restart('Read me.txt', 'deleted', None), 'wine-boot-step-takes-any-name'),
            ('a byte the OEM code page reads otherwise', restart('CAF\xc9.TXT', 'missing'),
             restart('CAF\xc9.TXT', 'deleted', None), 'wine-boot-step-takes-any-name'),
            ('an 8.3 path the stand-in deleted, Wine kept', restart('README.TXT', 'deleted', None),
             restart('README.TXT', 'kept (read-only)'), None),
        ]
        for label, sim_edit, wine_edit, rule in rows:
            with self.subTest(label), tempfile.TemporaryDirectory() as work:
                write_machine(os.path.join(work, 'sim'), sim_edit)
                write_machine(os.path.join(work, 'wine'), wine_edit)
                sim = compare.Outcome(os.path.join(work, 'sim'), {})
                wine = compare.Outcome(os.path.join(work, 'wine'), {})
                found = compare.differences(sim, wine, {}, ['Mail'])
                self.assertTrue(found, label)
                for item, a, b in found:
                    applied = [name for name, test, _ in compare.WINE_RULES if test(item, a, b, sim, wine)]
                    self.assertEqual(applied, [rule] if rule else [], (label, item))


class TwoRunsTest(unittest.TestCase):
    """A scenario run twice is judged on both runs, each by the same rules, and
    its first run must have been cut on both sides."""

    def test_both_runs_are_compared(self):
        def with_monitor(texts, files):
            texts['registry.reg'] = MONITOR_REGISTRY

        def port_gone(texts, files):
            with_monitor(texts, files)
            texts['registry.reg'] = texts['registry.reg'].replace(
                '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Monitors\\Mail Monitor\\Ports'
                '\\QVMAIL1:]\n', '')

        def readme_gone(texts, files):
            with_monitor(texts, files)
            del files['App/Readme.txt']
        rows = [
            ('both runs agree', None, None, [], 0),
            ('the first runs differ', 'wine-first', readme_gone, ['first.files:C:\\App\\Readme.txt'], 0),
            ('the second runs differ', 'wine', readme_gone, ['files:C:\\App\\Readme.txt'], 0),
            ('a named rule in the first run', 'wine-first', port_gone, [], 1),
        ]
        for label, folder, edit, failed, left_out in rows:
            with self.subTest(label), tempfile.TemporaryDirectory() as work:
                result = compare.Comparison(work)
                result.second_run = True
                for name in ('machine', 'sim-first', 'wine-first', 'sim', 'wine'):
                    write_machine(os.path.join(work, name), edit if name == folder else with_monitor)
                compare.judge(result, os.path.join(work, 'machine'), [])
                self.assertEqual([f.split('\n')[0][len('differs: '):] for f in result.failures], failed, label)
                self.assertEqual(len(result.left_out), left_out, label)

    def test_the_first_run_must_report_its_cut(self):
        rows = [
            ('cut', 'Cut=yes', []),
            ('went to the end', 'Cut=no', ['Wine: the run to be cut after 1 steps was not cut']),
            ('no cut asked for', '', ['Wine: the run to be cut after 1 steps was not cut']),
        ]
        for label, cut_line, failed in rows:
            with self.subTest(label), tempfile.TemporaryDirectory() as work:
                write_machine(os.path.join(work, 'first'),
                              replace('result.ini', 'ExitCode=1', 'ExitCode=1\n' + cut_line))
                write_machine(os.path.join(work, 'second'))
                first, second = (compare.Outcome(os.path.join(work, name), {}) for name in ('first', 'second'))
                self.assertEqual(compare.expectations([('CutAfterSteps', '1')], second, 'Wine', first), failed, label)


class RegistryTextTest(unittest.TestCase):
    def test_values_read_back_as_written(self):
        keys = mf.parse_reg(REGISTRY)
        lumora = keys[mf.fold('SOFTWARE\\Uninstall\\Lumora')]
        rows = [
            ('quoted text with escapes', 'DisplayName', mf.REG_SZ, b'Lumora "Mail" C:\\x\0'),
            ('dword', 'Count', mf.REG_DWORD, (30).to_bytes(4, 'little')),
            ('hex over two lines', 'Blob', mf.REG_BINARY, b'\1\2\3'),
        ]
        for label, name, kind, data in rows:
            with self.subTest(label):
                self.assertEqual(lumora.values[mf.fold(name)][1:], (kind, data))
        self.assertEqual(mf.parse_reg(mf.format_reg(keys))[mf.fold('SOFTWARE\\Uninstall\\Lumora')].values,
                         lumora.values)
        self.assertEqual(mf.top_keys(keys), ['SOFTWARE\\Uninstall\\Lumora'])


if __name__ == '__main__':
    unittest.main()
