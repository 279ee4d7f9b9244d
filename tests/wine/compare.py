#!/usr/bin/env python3
"""Runs one scenario of scenarios.ini on the stand-in (qvuninst-sim) and on
Wine (tools/wine/qvwine.py) and compares what each left behind: the C: drive
tree, file contents and the read-only, hidden and system attributes, the
registry subtrees the machine folder has, each printer's port, the exit code,
the message boxes (caption, text, style, answer), the files pending deletion
at restart, the processes started, the printers opened, the WININIT.INI the
run left (byte for byte, as both runners capture it before any restart),
whether the run was cut and, for a scenario that restarts, what the restart
did. A scenario whose first run is cut and then run again compares the
machines after each run (the first run's items named first.*).
Items the scenario leaves out (a known Wine difference) are reported but do
not fail it.

    compare.py SCENARIO --sim build/host/qvuninst-sim [--windows-version NAME] [--build build/win32]
               [--keep DIR]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(SOURCE_DIR, 'tools', 'wine'))
import machine_folder as mf  # noqa: E402


class Outcome:
    """What one run left behind, as read from its machine folder. aliases
    are the 8.3 aliases its paths may use: those the machine folder gave, and
    each side's own as its result.ini reports them (Wine's, and those a 95/98
    volume made on the stand-in)."""

    def __init__(self, folder, scope, aliases=None):
        sections = mf.parse_ini(mf.read_text(os.path.join(folder, 'machine.ini')))
        self.tree = mf.read_tree(folder, sections)
        code_page = mf.code_page_of(sections)
        self.attributes = {mf.fold(path, code_page): mf.parse_attributes(setting) & COMPARED_ATTRIBUTES
                           for _, entries in mf.sections_named(sections, 'Attributes')
                           for path, setting in (mf.path_setting(k, v) for k, v in entries)}
        self.registry = mf.restrict_reg(mf.parse_reg(mf.read_text(os.path.join(folder, 'registry.reg'))), scope)
        self.ports = {mf.get(e, 'Name'): mf.get(e, 'Port', '') for _, e in mf.sections_named(sections, 'Printer')}
        result = mf.parse_ini(mf.read_text(os.path.join(folder, 'result.ini')))
        self.exit_code = mf.get(mf.sections_named(result, 'Result')[0][1], 'ExitCode')
        self.cut = mf.get(mf.sections_named(result, 'Result')[0][1], 'Cut')  # None: no cut asked for
        self.boxes = [e for name, e in result if mf.fold(name).startswith('BOX')]
        self.pending = [v for _, e in mf.sections_named(result, 'PendingDeletes') for _, v in e]
        self.processes = [v for _, e in mf.sections_named(result, 'Processes') for _, v in e]
        self.opened = [v for _, e in mf.sections_named(result, 'OpenedPrinters') for _, v in e]
        self.restart = [v for _, e in mf.sections_named(result, 'Restart') for _, v in e]
        wininit = os.path.join(folder, 'wininit.ini')
        self.wininit = None  # the WININIT.INI the run left, byte for byte
        if os.path.exists(wininit):
            with open(wininit, 'rb') as file:
                self.wininit = file.read()
        self.code_page = code_page
        self.aliases = dict(aliases or {})
        forms = [v for _, e in mf.sections_named(result, 'ShortNames') for _, v in e]
        self.aliases.update(wine_aliases(forms, self.code_page))
        # Folded long path: its 8.3 form, as the run's platform gave it.
        self.short_forms = {mf.fold(p.partition('|')[0], code_page): p.partition('|')[2] for p in forms}
        machine = (mf.sections_named(sections, 'Machine') or [('Machine', [])])[0][1]
        self.executable = self.long_form(mf.get(machine, 'Executable', ''))[0]
        self.earlier_unread = set()  # paths an earlier run's boot step could not read (judge sets them)
        windows_dir = mf.get(machine, 'WindowsDirectory', 'C:\\WINDOWS').rstrip('\\')
        self.wininit_files = {mf.fold(windows_dir + '\\' + name, code_page)
                              for name in ('WININIT.INI', 'WININIT.BAK')}

    def long_form(self, path):
        return long_form(path, self.aliases, self.code_page)

    def line_in_long_form(self, line):
        """A WININIT.INI [rename] line, "NUL=PATH" or "DEST=SOURCE", with its
        paths in long form and folded; (that line, whether it named an alias)."""
        key, equals, value = line.partition('=')
        aliased = False

        def path(text):
            nonlocal aliased
            named = text.strip(' \t')
            if not named:
                return text
            resolved, by_alias = self.long_form(named)
            aliased = aliased or by_alias
            return text.replace(named, mf.fold(resolved, self.code_page), 1)
        if not equals:
            return line, False
        return (key if key.strip(' \t').upper() == 'NUL' else path(key)) + '=' + path(value), aliased

    def wininit_in_long_form(self, data):
        """A WININIT.INI's text with the paths of its [rename] lines in long
        form, letter case aside, each such line marked when it named an alias;
        every other byte as it is."""
        lines, in_rename = [], False
        for raw in data.decode('latin-1').split('\n'):
            ending = '\r' if raw.endswith('\r') else ''
            body = raw[:len(raw) - len(ending)]
            stripped = body.strip(' \t')
            if stripped.startswith('['):
                in_rename = stripped[1:].split(']', 1)[0].strip(' \t').upper() == 'RENAME'
            elif in_rename and stripped and not stripped.startswith(';'):
                body, aliased = self.line_in_long_form(body)
                ending += ' (by an alias)' if aliased else ''  # a path by an 8.3 form on one side only differs
            lines.append(body + ending)
        return '\n'.join(lines)

    def paths_in_long_form(self, item):
        """Each line of the item (pending, processes or restart) as (the line
        with its path in long form, that path, whether it named an alias),
        letter case aside."""
        if item == 'pending':
            lines = [(p, p) for p in self.pending]
        elif item == 'processes':
            lines = [(c, command_path(c)) for c in self.processes]
        else:
            lines = [(r, r.rpartition('|')[0]) for r in self.restart]
        out = []
        for line, path in lines:
            if item == 'restart' and '=' in path:  # a WININIT.INI line
                named, aliased = self.line_in_long_form(path)
            else:
                named, aliased = self.long_form(path)
            out.append((mf.fold(line.replace(path, named, 1) if path else line), mf.fold(named), aliased))
        return out


# Wine reports every file as archive: read-only, hidden and system are compared.
COMPARED_ATTRIBUTES = 0x7


# ---- 8.3 forms ------------------------------------------------------------------------

# Aliases are {(folded components of the parent's long path, folded alias): long name}.

def alias_key(parent_parts, alias, code_page):
    return tuple(mf.fold(p, code_page) for p in parent_parts), mf.fold(alias, code_page)


def machine_aliases(folder):
    """The stand-in's aliases of a machine folder."""
    machine = mf.read_machine(folder)
    aliases = {}
    for node in machine.nodes.values():
        if node.alias:
            parts = mf.split_path(node.path, machine.code_page)
            aliases[alias_key(parts[:-1], node.alias, machine.code_page)] = parts[-1]
    return aliases


def wine_aliases(pairs, code_page):
    """Aliases from a result's "LONG|SHORT" forms of whole paths."""
    aliases = {}
    for pair in pairs:
        long_path, _, short_path = pair.partition('|')
        long_parts, short_parts = mf.split_path(long_path, code_page), mf.split_path(short_path, code_page)
        if len(long_parts) != len(short_parts):
            continue
        for index, (long_name, short_name) in enumerate(zip(long_parts, short_parts)):
            if mf.fold(long_name, code_page) != mf.fold(short_name, code_page):
                aliases[alias_key(long_parts[:index], short_name, code_page)] = long_name
    return aliases


def long_form(path, aliases, code_page):
    """(the path with each alias taken to its long name, whether it had one).
    A long name that is its own alias but for letter case ("Lumora" for
    LUMORA, as VFAT makes it) is no alias."""
    resolved, aliased = [], False
    for part in mf.split_path(path, code_page):
        name = aliases.get(alias_key(resolved, part, code_page))
        resolved.append(name or part)
        aliased = aliased or (name is not None and mf.fold(name, code_page) != mf.fold(part, code_page))
    return ('\\'.join(resolved), True) if aliased else (path, False)


DELETE_COMMAND = 'command.com /c del '


def command_path(command):
    if not mf.fold(command).startswith(mf.fold(DELETE_COMMAND)):
        return ''
    return command[len(DELETE_COMMAND):].strip('"')


# ---- ways in which Wine 8 differs from Windows ------------------------------------------
# Each is written once in the README's list with its evidence, and leaves a
# difference out of every comparison by what the difference is, never by
# which machine or scenario shows it: (name, test, why), where
# test(item, on_sim, on_wine, sim, wine) sees the difference and both outcomes.

MONITORS = 'System\\CurrentControlSet\\Control\\Print\\Monitors\\'


def ports_in_use(outcome):
    """Folded names of the ports the machine's printers print to (a pooled
    printer lists several, separated by commas)."""
    return {mf.fold(p.strip()) for port in outcome.ports.values() for p in port.split(',') if p.strip()}


def monitors_deleted_in_use(sim, wine):
    """Folded names of the monitors whose keys only the stand-in kept, a
    printer printing to one of their ports."""
    names = set()
    for key in sim.registry:
        name = key[len(mf.fold(MONITORS)):] if key.startswith(mf.fold(MONITORS)) else ''
        if name and '\\' not in name and key not in wine.registry and \
                spooler_deletes_what_a_printer_uses('registry:' + MONITORS + name, 'present', 'absent', sim, wine):
            names.add(name)
    return names


def boxes_differing(item, sim, wine):
    """For a box's text or style ('box2.text'): the field and that box on
    each side; else None."""
    index, _, field = item.partition('.')
    if not (index.startswith('box') and index[3:].isdigit() and field in ('text', 'style')):
        return None
    return field, sim.boxes[int(index[3:]) - 1], wine.boxes[int(index[3:]) - 1]


def stand_in_lines_without_monitors_wine_deleted(box, sim, wine):
    """A stand-in box's text lines, less the monitors Wine's spooler deleted
    in use (which only the stand-in names as left behind)."""
    names = monitors_deleted_in_use(sim, wine)
    return [line for line in (mf.get(box, 'Text') or '').split('\\n') if mf.fold(line) not in names]


def box_names_what_wine_deleted(item, sim, wine):
    """A completion box whose list of what stayed names, on the stand-in
    only, a monitor Wine deleted in use: its text differs by that line (and
    by the list's heading when nothing else stayed), its style by the icon."""
    boxes = boxes_differing(item, sim, wine)
    if not boxes:
        return False
    field, a, b = boxes
    lines = stand_in_lines_without_monitors_wine_deleted(a, sim, wine)
    emptied = len(lines) >= 2 and lines[-2] == ''
    if emptied:
        lines = lines[:-2]
    same_text = '\\n'.join(lines) == mf.get(b, 'Text')
    return same_text and (field == 'text' or (emptied and mf.get(b, 'Style') == '0'))


def spooler_deletes_what_a_printer_uses(item, on_sim, on_wine, sim, wine):
    """A monitor's key, its Ports key or a port's key that the stand-in kept
    and Wine deleted, while a printer still prints to that port (or to one
    of that monitor's ports, for the monitor and every port deleted with it)
    on the stand-in; and the completion box naming such a monitor as left
    behind on the stand-in only."""
    if box_names_what_wine_deleted(item, sim, wine):
        return True
    if not (item.startswith('registry:') and on_sim == 'present' and on_wine == 'absent'):
        return False
    path = item[len('registry:'):]
    if not mf.fold(path).startswith(mf.fold(MONITORS)):
        return False
    below = path[len(MONITORS):].split('\\')
    ports_key = mf.fold(MONITORS + below[0] + '\\Ports') + '\\'
    ports = {k[len(ports_key):] for k in sim.registry if k.startswith(ports_key) and '\\' not in k[len(ports_key):]}
    monitor_in_use = bool(ports & ports_in_use(sim))
    if len(below) >= 3:  # a port's key: in use itself, or gone with the monitor Wine deleted in use
        monitor_gone = mf.fold(MONITORS + below[0]) not in wine.registry
        return mf.fold(below[2]) in ports_in_use(sim) or (monitor_gone and monitor_in_use)
    return monitor_in_use


UNINSTALL = 'SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\'
WINE_ANSI_KEY_PATH_MAX = 260  # the thread's static Unicode buffer, less its terminator


def beyond_wines_ansi_key_paths(name, code_page):
    return len(mf.to_unicode(UNINSTALL + name, code_page)) > WINE_ANSI_KEY_PATH_MAX


def listed(lines):
    """The names a completion box's list shows and how many it counts: three
    names and a line "N more" for the others."""
    if len(lines) == 4 and lines[3].split(' ')[0].isdigit():
        return lines[:3], 3 + int(lines[3].split(' ')[0])
    return lines, len(lines)


def entry_wine_cannot_open(item, on_sim, on_wine, sim, wine):
    """An uninstall entry whose key path Wine's ANSI registry functions can't
    take: the key, left under Wine, and the completion box naming it as
    left behind under Wine only (first, as the first stage noted it): the
    other names shift by one, the count by one, and when nothing else stayed
    the list's heading and the icon go too. A monitor Wine's spooler deleted
    in use is left out of the stand-in's list here too."""
    if item.startswith('registry:') and on_sim == 'absent' and on_wine == 'present':
        path = item[len('registry:'):]
        return mf.fold(path).startswith(mf.fold(UNINSTALL)) and \
            beyond_wines_ansi_key_paths(path[len(UNINSTALL):].split('\\')[0], sim.code_page)
    boxes = boxes_differing(item, sim, wine)
    if not boxes:
        return False
    field, a, b = boxes
    on_wine = (mf.get(b, 'Text') or '').split('\\n')
    on_sim = stand_in_lines_without_monitors_wine_deleted(a, sim, wine)
    at = next((i for i, line in enumerate(on_wine) if line not in on_sim and
               beyond_wines_ansi_key_paths(line, sim.code_page)), None)
    if at is None or at < 2:
        return False
    if at == len(on_wine) - 1 and on_wine[at - 2] == '' and on_sim == on_wine[:at - 2]:
        return field == 'text' or mf.get(a, 'Style') == '0'  # the only item
    names_on_wine, count_on_wine = listed(on_wine[at:])
    names_on_sim, count_on_sim = listed(on_sim[at:])
    return field == 'text' and on_sim[:at] == on_wine[:at] and count_on_wine == count_on_sim + 1 and \
        names_on_sim[:len(names_on_wine) - 1] == names_on_wine[1:]


PATH_ITEMS = ('pending', 'processes', 'restart')


def wininit_texts(item, sim, wine):
    """For the WININIT.INI the run left ('wininit'), or a WININIT.INI or
    WININIT.BAK of the Windows directory that both sides hold with other
    contents: both sides' bytes; else None."""
    if item == 'wininit':
        return (sim.wininit, wine.wininit) if sim.wininit is not None and wine.wininit is not None else None
    folded = mf.fold(item[len('files:'):], sim.code_page) if item.startswith('files:') else None
    a, b = sim.tree.get(folded), wine.tree.get(folded)
    if folded not in sim.wininit_files or not a or not b or a[1] or b[1]:
        return None
    return a[2], b[2]


def same_paths_by_other_aliases(item, on_sim, on_wine, sim, wine):
    """The deletions pending, delete commands or restart outcomes name the
    same paths in the same forms once each side's aliases are taken to long
    names; so do the [rename] lines of a WININIT.INI (or WININIT.BAK), whose
    every other byte is the same."""
    if item in PATH_ITEMS:
        return sim.paths_in_long_form(item) == wine.paths_in_long_form(item)
    texts = wininit_texts(item, sim, wine)
    return texts is not None and sim.wininit_in_long_form(texts[0]) == wine.wininit_in_long_form(texts[1])


UNREAD_BY_DOS = (mf.fold('ignored (long name)'), mf.fold('missing'))


def unread_by_dos(line, code_page):
    """A folded restart line of a WININIT.INI entry ("NUL=PATH|outcome") that
    the 95/98 boot step could not read: a long name, or, on a machine whose
    OEM code page is not its ANSI one, a byte from 0x80."""
    named, _, outcome = line.rpartition('|')
    if '=' not in named or outcome not in UNREAD_BY_DOS:
        return False
    return outcome == UNREAD_BY_DOS[0] or (code_page != 932 and any(ord(c) >= 0x80 for c in named))


def paths_of_lines(lines):
    """The folded long paths a WININIT.INI entry's lines name."""
    paths = set()
    for line in lines:
        key, _, value = line.rpartition('|')[0].partition('=')
        paths.update(p.strip(' \t') for p in (key, value) if p.strip(' \t') and p.strip(' \t') != 'NUL')
    return paths


def unread_lines(outcome):
    """The stand-in's restart lines of WININIT.INI entries its boot step could not read."""
    return [x[0] for x in outcome.paths_in_long_form('restart') if unread_by_dos(x[0], outcome.code_page)]


def boot_step_takes_any_name(item, on_sim, on_wine, sim, wine):
    """Restart outcomes that agree once in long form but for WININIT.INI lines
    the stand-in's boot step could not read (it ignores a long name, reads
    another file through the OEM code page) and Wine's carried out; and the
    files those lines name, kept on the stand-in and deleted or renamed by
    Wine, in that run and any later one."""
    unread = unread_lines(sim)
    if item == 'restart' and unread:
        a, b = sim.paths_in_long_form('restart'), wine.paths_in_long_form('restart')
        return len(a) == len(b) and a != b and all(
            x == y or (x[0] in unread and x[0].rpartition('|')[0] == y[0].rpartition('|')[0]) for x, y in zip(a, b))
    named = paths_of_lines(unread) | sim.earlier_unread
    return item.startswith('files:') and mf.fold(item[len('files:'):], sim.code_page) in named


def alias_dos_reads_otherwise_on_the_stand_in(item, on_sim, on_wine, sim, wine):
    """On a machine whose code pages differ, the stand-in started no delete
    command, where Wine started one naming the executable by an 8.3 form,
    because the stand-in's 8.3 form of the executable holds a character the
    OEM code page reads otherwise (a VFAT alias keeps such a letter, Wine's is
    plain ASCII): the command, its outcome at the restart and the executable
    it deleted."""
    if sim.code_page == 932 or sim.processes or len(wine.processes) != 1:
        return False
    named, aliased = wine.long_form(command_path(wine.processes[0]))
    executable = mf.fold(sim.executable)
    short_form = sim.short_forms.get(executable, sim.executable)
    if not aliased or mf.fold(named) != executable or all(ord(c) < 0x80 for c in short_form):
        return False
    return item in ('processes', 'restart') or (
        item.startswith('files:') and mf.fold(item[len('files:'):]) == executable and on_wine == 'absent')


def by_wines_own_aliases(item, on_sim, on_wine, sim, wine):
    """What Wine's own 8.3 aliases change: the same paths named by other
    aliases, or a delete command the stand-in's alias kept from starting."""
    return (same_paths_by_other_aliases(item, on_sim, on_wine, sim, wine) or
            alias_dos_reads_otherwise_on_the_stand_in(item, on_sim, on_wine, sim, wine))


def executable_named_long_under_wine(item, on_sim, on_wine, sim, wine):
    """The same lines once in long form, where the stand-in names the
    executable, or a folder holding it, by an 8.3 form that Wine names long."""
    if item not in ('pending', 'restart'):
        return False
    a, b = sim.paths_in_long_form(item), wine.paths_in_long_form(item)
    executable = mf.fold(sim.executable)
    return len(a) == len(b) and a != b and all(
        x == y or (x[:2] == y[:2] and x[2] and not y[2] and executable and
                   (executable == x[1] or executable.startswith(x[1] + '\\')))
        for x, y in zip(a, b))


WINE_RULES = [
    ('spooler-deletes-ports-in-use', spooler_deletes_what_a_printer_uses,
     "Wine 8's DeletePortA and DeleteMonitorA delete a port, and a monitor, that a printer still uses; "
     'Windows refuses with ERROR_BUSY and ERROR_PRINT_MONITOR_IN_USE, and the completion box then names the '
     'monitor as left behind'),
    ('wine-makes-its-own-short-names', by_wines_own_aliases,
     'Wine 8 gives each long name an 8.3 alias of its own, a hash of the name (C:\\Program Files is '
     'C:\\PROG~FBU), plain ASCII; SetFileShortNameA is not implemented: the stand-in\'s aliases (a 95/98 '
     'volume\'s, made as VFAT makes them, keep the OEM letters of the name) are never Wine\'s, in the '
     'deletions and commands, the restart\'s outcomes, and the [rename] lines of WININIT.INI'),
    ('wine-boot-step-takes-any-name', boot_step_takes_any_name,
     "Wine 8's boot step carries out WININIT.INI's [rename] lines with DeleteFileW and MoveFileExW, long names "
     'and ANSI bytes alike, where the 95/98 one runs in real mode: long names are ignored (Microsoft KB Q140570) '
     'and the bytes are read through the OEM code page'),
    ('module-path-is-long', executable_named_long_under_wine,
     "Wine 8's GetModuleFileNameA gives a program started by its 8.3 path its long path, where Windows gives "
     'the path in the form the program was started by'),
    ('wine-ansi-key-paths-end-at-260', entry_wine_cannot_open,
     "Wine 8's RegOpenKeyExA and RegDeleteKeyA convert the key path into the thread's static Unicode buffer "
     '(RtlAnsiStringToUnicodeString without allocation) and fail for a path of more than 260 characters, '
     'where Windows takes any path whose names each fit the registry\'s 255 characters: an uninstall entry '
     'named with more than 208 characters is neither deleted nor found gone under Wine, and the completion box '
     'names it'),
]


def registry_scope(machine):
    """The machine's keys at or under its top keys: what a run may have changed."""
    keys = mf.parse_reg(mf.read_text(os.path.join(machine, 'registry.reg')))
    tops = [mf.fold(t) for t in mf.top_keys(keys)]
    return {k: v for k, v in keys.items() if any(k == t or k.startswith(t + '\\') for t in tops)}


def describe_bytes(data):
    return 'absent' if data is None else '%d bytes: %r' % (len(data), data.decode('latin-1'))


def describe(entry):
    if entry is None:
        return 'absent'
    path, is_dir, data = entry
    return 'directory' if is_dir else 'file of %d bytes' % len(data)


def differences(sim, wine, scope, printers):
    found = []

    def differ(item, on_sim, on_wine):
        found.append((item, on_sim, on_wine))

    if sim.exit_code != wine.exit_code:
        differ('exit', sim.exit_code, wine.exit_code)
    if sim.cut != wine.cut:
        differ('cut', sim.cut or 'not asked', wine.cut or 'not asked')
    if len(sim.boxes) != len(wine.boxes):
        differ('boxes', '%d boxes' % len(sim.boxes), '%d boxes' % len(wine.boxes))
    for index, (a, b) in enumerate(zip(sim.boxes, wine.boxes), 1):
        for field in ('Caption', 'Text', 'Style', 'Answer'):
            if mf.get(a, field) != mf.get(b, field):
                differ('box%d.%s' % (index, field.lower()), mf.get(a, field), mf.get(b, field))
    # Paths are compared as Windows compares them: letter case aside.
    if [mf.fold(p) for p in sim.pending] != [mf.fold(p) for p in wine.pending]:
        differ('pending', sim.pending, wine.pending)
    if [mf.fold(p) for p in sim.processes] != [mf.fold(p) for p in wine.processes]:
        differ('processes', sim.processes, wine.processes)
    if sim.opened != wine.opened:
        differ('opened', sim.opened, wine.opened)
    if [mf.fold(r) for r in sim.restart] != [mf.fold(r) for r in wine.restart]:
        differ('restart', sim.restart, wine.restart)
    if sim.wininit != wine.wininit:
        differ('wininit', describe_bytes(sim.wininit), describe_bytes(wine.wininit))
    for folded in sorted(set(sim.tree) | set(wine.tree)):
        a, b = sim.tree.get(folded), wine.tree.get(folded)
        if a is None or b is None or a[1] != b[1] or a[2] != b[2]:
            path = (a or b)[0]
            differ('files:' + path, describe(a), describe(b) if a is None or b is None or a[1] != b[1]
                   else 'other contents')
        elif sim.attributes.get(folded, 0) != wine.attributes.get(folded, 0):
            differ('attributes:' + a[0], mf.format_attributes(sim.attributes.get(folded, 0)) or 'none',
                   mf.format_attributes(wine.attributes.get(folded, 0)) or 'none')
    for folded in sorted(scope, key=lambda k: k.split('\\')):
        a, b = sim.registry.get(folded), wine.registry.get(folded)
        path = scope[folded].path
        if (a is None) != (b is None):
            differ('registry:' + path, 'absent' if a is None else 'present', 'absent' if b is None else 'present')
            continue
        if a is None:
            continue
        for name in scope[folded].values:
            va, vb = a.values.get(name), b.values.get(name)
            if (va and va[1:]) != (vb and vb[1:]):
                shown = scope[folded].values[name][0] or '@'
                differ('registry:%s:%s' % (path, shown), mf.value_line(*va) if va else 'absent',
                       mf.value_line(*vb) if vb else 'absent')
    for name in printers:
        if sim.ports.get(name) != wine.ports.get(name):
            differ('printer:' + name, sim.ports.get(name, 'absent'), wine.ports.get(name, 'absent'))
    return found


def expectations(scenario, outcome, side, first=None):
    """What the scenario expects of one side: first is the outcome of a first
    run that was cut, when the scenario runs the uninstaller twice."""
    failed = []
    exit_code = mf.get(scenario, 'ExitCode')
    if exit_code is not None and outcome.exit_code != exit_code:
        failed.append('%s: exit code %s, expected %s' % (side, outcome.exit_code, exit_code))
    for name in (v for k, v in scenario if mf.fold(k) == 'NEVEROPENED'):
        if name in outcome.opened + (first.opened if first else []):
            failed.append('%s: printer %r was opened' % (side, name))
    # Wine's boxes are compared with the stand-in's, as every item is, so
    # that a named rule can tell a box that differs for a known reason.
    last_box = mf.get(scenario, 'LastBox')
    if last_box is not None and side == 'stand-in':
        shown = mf.get(outcome.boxes[-1], 'Text') if outcome.boxes else None
        if shown != last_box:
            failed.append('%s: last box %r, expected %r' % (side, shown, last_box))
    # Two runs that both went to the end would agree on a cut never made.
    if mf.get(scenario, 'CutAfterSteps') is not None and (first or outcome).cut != 'yes':
        failed.append('%s: the run to be cut after %s steps was not cut' % (side, mf.get(scenario, 'CutAfterSteps')))
    return failed


def run(command, log_path):
    with open(log_path, 'wb') as log:
        return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT).returncode


class Comparison:
    """Both runs of one machine and what differs between them."""

    def __init__(self, work):
        self.work = work
        self.sim_out, self.wine_out = os.path.join(work, 'sim'), os.path.join(work, 'wine')
        # A scenario run twice: the machines after the first (cut) run and its restart.
        self.second_run = False
        self.sim_first, self.wine_first = os.path.join(work, 'sim-first'), os.path.join(work, 'wine-first')
        self.first = None   # (stand-in, Wine) outcomes of the first run, once judged
        self.failures = []  # what fails the comparison
        self.left_out = []  # known Wine differences, reported only
        self.items = 0      # files, keys and printers compared
        self.boxes = 0
        self.wine_line = ''


def run_both(machine, answers, work, sim_runner, build, windows_version=None, restart=False, cut_after_steps=None,
             second_run=False):
    """Runs the machine on the stand-in and under Wine into work/sim and
    work/wine (with second_run, the first run cut, the machine restarted and
    the uninstaller run again; the first run's machines in work/sim-first and
    work/wine-first); gives the Comparison with no verdict yet, or None with
    the Wine log printed when the Wine run itself failed."""
    result = Comparison(work)
    result.second_run = second_run
    for folder in (result.sim_out, result.wine_out, result.sim_first, result.wine_first):
        shutil.rmtree(folder, ignore_errors=True)
    then = ['--restart'] if restart else []
    cut = ['--cut-after-steps', str(cut_after_steps)] if cut_after_steps else []
    if second_run:
        # The stand-in's second run starts from the folder its first run wrote.
        run([sim_runner, machine, '--out', result.sim_first, '--answers', answers, '--restart'] + cut,
            os.path.join(work, 'sim-first.log'))
        run([sim_runner, result.sim_first, '--out', result.sim_out, '--answers', answers] + then,
            os.path.join(work, 'sim.log'))
    else:
        run([sim_runner, machine, '--out', result.sim_out, '--answers', answers] + cut + then,
            os.path.join(work, 'sim.log'))
    version = ['--windows-version', windows_version] if windows_version else []
    again = ['--second-run', '--first-out', result.wine_first] if second_run else []
    status = run([sys.executable, os.path.join(SOURCE_DIR, 'tools', 'wine', 'qvwine.py'), machine,
                  '--out', result.wine_out, '--answers', answers, '--build', build] + version + then + cut + again,
                 os.path.join(work, 'wine.log'))
    wine_log = open(os.path.join(work, 'wine.log'), encoding='latin-1').read()
    written = [result.wine_out] + ([result.wine_first] if second_run else [])
    if status not in (0, 1) or not all(os.path.exists(os.path.join(f, 'result.ini')) for f in written):
        print('the Wine run failed:')
        print(wine_log)
        return None
    result.wine_line = wine_log.strip().splitlines()[-1]
    return result


def judge(result, machine, leave_out):
    """Fills result's failures and left-out differences. leave_out is a list of
    (test, why) besides WINE_RULES: test(item, on_sim, on_wine, sim, wine)
    tells a known Wine difference, given both outcomes. Gives the outcomes of
    the last run (stand-in, Wine); a first run's are kept in result.first."""
    leave_out = list(leave_out) + [(test, '%s: %s' % (name, why)) for name, test, why in WINE_RULES]
    scope = registry_scope(machine)
    printers = [mf.get(e, 'Name') for _, e in
                mf.sections_named(mf.parse_ini(mf.read_text(os.path.join(machine, 'machine.ini'))), 'Printer')]
    runs = [('', result.sim_out, result.wine_out)]
    if result.second_run:
        runs.insert(0, ('first.', result.sim_first, result.wine_first))
    files, boxes = set(), 0
    aliases = machine_aliases(machine)
    unread = set()
    for run_name, sim_folder, wine_folder in runs:
        sim, wine = Outcome(sim_folder, scope, aliases), Outcome(wine_folder, scope)
        sim.earlier_unread = unread
        judge_run(result, run_name, sim, wine, differences(sim, wine, scope, printers), leave_out)
        unread = unread | paths_of_lines(unread_lines(sim))
        files |= set(sim.tree) | set(wine.tree)
        boxes += len(sim.boxes)
        if run_name:
            result.first = (sim, wine)
    result.items = (len(files), len(scope), len(printers))
    result.boxes = boxes
    return sim, wine


def judge_run(result, run_name, sim, wine, found, leave_out):
    """One run's differences, each a failure or left out; a rule judges an
    item by its own name, whichever run it belongs to."""
    # Two runs that left nothing readable would agree on everything.
    for side, outcome in (('stand-in', sim), ('Wine', wine)):
        if not outcome.tree or not outcome.boxes or outcome.exit_code is None:
            result.failures.append('%s: the resulting machine%s has no files, boxes or exit code'
                                   % (side, ' of the first run' if run_name else ''))
    for item, on_sim, on_wine in found:
        reason = next((why for test, why in leave_out if test(item, on_sim, on_wine, sim, wine)), None)
        line = '%s%s\n    stand-in: %s\n    Wine:     %s' % (run_name, item, on_sim, on_wine)
        if reason:
            result.left_out.append(line + '\n    left out: ' + reason)
        else:
            result.failures.append('differs: ' + line)


def item_starts_with(what):
    return lambda item, *_: mf.fold(item).startswith(mf.fold(what))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('scenario')
    parser.add_argument('--sim', required=True, help='the host build\'s qvuninst-sim')
    parser.add_argument('--build', default=os.path.join(SOURCE_DIR, 'build', 'win32'))
    parser.add_argument('--table', default=os.path.join(HERE, 'scenarios.ini'))
    parser.add_argument('--keep', help='keep both resulting machine folders here')
    parser.add_argument('--windows-version', help='the version Wine presents (one of the scenario\'s Versions)')
    options = parser.parse_args()

    table = dict((mf.fold(name), entries) for name, entries in mf.parse_ini(mf.read_text(options.table)))
    scenario = table.get(mf.fold(options.scenario))
    if scenario is None:
        print('no scenario [%s] in %s' % (options.scenario, options.table))
        return 2
    if not os.path.exists(options.sim):
        print('%s is missing: build the host preset first (tools/test.sh does)' % options.sim)
        return 2
    machine = os.path.join(SOURCE_DIR, mf.get(scenario, 'Machine'))
    answers = mf.get(scenario, 'Answers', '')
    # LeaveOut=ITEM | why
    leave_out = [(item_starts_with(part[0].strip()), part[1].strip()) for part in
                 (v.split('|', 1) for k, v in scenario if mf.fold(k) == 'LEAVEOUT' and '|' in v)]

    work = options.keep or tempfile.mkdtemp(prefix='qv-compare-')
    os.makedirs(work, exist_ok=True)
    try:
        restart = mf.fold(mf.get(scenario, 'Restart', 'no')) == 'YES'
        cut_after_steps = mf.get(scenario, 'CutAfterSteps')
        second_run = mf.fold(mf.get(scenario, 'SecondRun', 'no')) == 'YES'
        result = run_both(machine, answers, work, options.sim, options.build, options.windows_version, restart,
                          int(cut_after_steps) if cut_after_steps else None, second_run)
        if result is None:
            return 1
        print(result.wine_line)
        sim, wine = judge(result, machine, leave_out)
        first = result.first or (None, None)
        failures = (expectations(scenario, sim, 'stand-in', first[0]) + expectations(scenario, wine, 'Wine', first[1])
                    + result.failures)
        print('%s: %d files, %d registry keys, %d printers, %d boxes compared' %
              ((options.scenario,) + result.items + (result.boxes,)))
        for line in result.left_out:
            print('known Wine difference, left out: ' + line)
        for line in failures:
            print('FAIL ' + line)
        if failures:
            print('resulting machines: %s (stand-in), %s (Wine)' % (result.sim_out, result.wine_out))
            if not options.keep:
                options.keep = work  # keep them to look at
            return 1
        print('the stand-in and Wine agree')
        return 0
    finally:
        if not options.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
